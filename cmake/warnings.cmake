# Strict warnings for the project's own targets only; third-party code keeps its own flags.
option(FWTALLY_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)

function(fwtally_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${FWTALLY_WARNINGS_AS_ERRORS}>:/WX>)
    # fopen and friends are standard C; the "_s" variants MSVC suggests are not.
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
      $<$<BOOL:${FWTALLY_WARNINGS_AS_ERRORS}>:-Werror>)
    # GCC 12 at -O3 reports overlapping copies inside std::string that cannot
    # happen (GCC bug 105329); later releases no longer do.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
      target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
  endif()
endfunction()
