# Runs natively on x86-64 machines that have the i386 C and C++ libraries.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(FWTALLY_LINUX_TARGET i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
