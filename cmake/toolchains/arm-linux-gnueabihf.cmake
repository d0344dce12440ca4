set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(FWTALLY_LINUX_TARGET arm-linux-gnueabihf)
set(FWTALLY_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
