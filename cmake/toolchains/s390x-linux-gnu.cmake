set(CMAKE_SYSTEM_PROCESSOR s390x)
set(FWTALLY_LINUX_TARGET s390x-linux-gnu)
set(FWTALLY_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
