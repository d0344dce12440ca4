# Runs natively on x86-64 machines that have the i386 C and C++ libraries, and
# under qemu-user where the kernel runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(FWTALLY_LINUX_TARGET i686-linux-gnu)
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE FWTALLY_NO_NATIVE_I386
  OUTPUT_QUIET ERROR_QUIET)
if(FWTALLY_NO_NATIVE_I386)
  set(FWTALLY_QEMU qemu-i386)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
