set(CMAKE_SYSTEM_PROCESSOR i686)
set(FWTALLY_LINUX_TARGET i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/x86-vm.cmake)
