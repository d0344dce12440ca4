# Compiling to WebAssembly with the Emscripten found on PATH (Debian's package, or
# an SDK's), through the toolchain file it ships.
find_program(FWTALLY_EM_CONFIG em-config REQUIRED)
execute_process(COMMAND ${FWTALLY_EM_CONFIG} EMSCRIPTEN_ROOT
  OUTPUT_VARIABLE FWTALLY_EMSCRIPTEN_ROOT OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
include(${FWTALLY_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
