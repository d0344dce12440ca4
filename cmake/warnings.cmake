# Strict warnings for the project's own targets only; third-party code keeps its own flags.
option(FWTALLY_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" ON)

function(fwtally_set_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${FWTALLY_WARNINGS_AS_ERRORS}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow
      $<$<BOOL:${FWTALLY_WARNINGS_AS_ERRORS}>:-Werror>)
  endif()
endfunction()
