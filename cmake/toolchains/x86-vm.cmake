# The 32-bit x86 builds' programs (the tests, and the sample image's generator)
# run natively where this machine's kernel runs 32-bit programs, and otherwise in
# a 64-bit x86 virtual machine under emulation, cmake/vm-session, which boots
# once for a build or a test run and which the tests stop after the last one.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE FWTALLY_NO_NATIVE_32_BIT
  OUTPUT_QUIET ERROR_QUIET)
if(FWTALLY_NO_NATIVE_32_BIT)
  if(NOT CMAKE_SYSTEM_NAME)
    set(CMAKE_SYSTEM_NAME Linux)  # a cross build, so that programs go through the emulator
  endif()
  set(FWTALLY_VM_SESSION ${CMAKE_CURRENT_LIST_DIR}/../vm-session)
  set(FWTALLY_VM_RUN ${FWTALLY_VM_SESSION} run)
  if(FWTALLY_WINE_RUN)
    # A Wine prefix for 32-bit programs is booted by 32-bit Wine, so in the
    # machine, which takes minutes: in the build folder, which the machine
    # writes to, it is booted once and kept.
    list(APPEND FWTALLY_VM_RUN env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FWTALLY_VM_RUN} ${FWTALLY_WINE_RUN})
endif()
