set(CMAKE_SYSTEM_PROCESSOR i686)
set(FWTALLY_MINGW_TARGET i686-w64-mingw32)
set(FWTALLY_WINE_LOADER wine)  # the 32-bit loader, from wine32:i386
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/x86-vm.cmake)
