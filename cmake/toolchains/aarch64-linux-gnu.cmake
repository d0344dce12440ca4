set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(FWTALLY_LINUX_TARGET aarch64-linux-gnu)
set(FWTALLY_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
