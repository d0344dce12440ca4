# Cross-building for Linux on another processor with Debian's cross compilers,
# included by the per-target toolchain files, which set FWTALLY_LINUX_TARGET first,
# and FWTALLY_QEMU where this machine cannot run the result itself.
set(CMAKE_CXX_COMPILER ${FWTALLY_LINUX_TARGET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${FWTALLY_LINUX_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under qemu-user, with the target's C and C++ libraries
# from the cross compiler's tree: the tests, and the sample image generator.
# Where this machine runs the result itself (i386 on x86-64) it is no cross build,
# and they run directly.
if(FWTALLY_QEMU)
  set(CMAKE_SYSTEM_NAME Linux)
  find_program(FWTALLY_QEMU_PROGRAM NAMES ${FWTALLY_QEMU} ${FWTALLY_QEMU}-static)
  if(FWTALLY_QEMU_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${FWTALLY_QEMU_PROGRAM} -L /usr/${FWTALLY_LINUX_TARGET})
  endif()
endif()
