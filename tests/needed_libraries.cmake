# Fails unless the tool, TOOL, asks for no shared library but the C library and
# the dynamic loader. Loading the C++ runtime costs about a millisecond a run,
# as much as scanning a firmware image, and brings its dependencies into the
# Debian package; one call that may throw is enough to link it in.
#
#   cmake -DREADELF=readelf -DTOOL=path/to/fwtally -P needed_libraries.cmake
execute_process(COMMAND ${READELF} --dynamic --wide ${TOOL}
  OUTPUT_VARIABLE dynamic_section RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${READELF} cannot read ${TOOL}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[[^]]*\\]" entries "${dynamic_section}")
if(NOT entries)
  message(FATAL_ERROR "${TOOL} needs no C library: not the dynamically linked tool this test is for")
endif()
set(libraries "")
set(unwanted "")
foreach(entry IN LISTS entries)
  string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${entry}")
  list(APPEND libraries ${library})
  if(NOT library MATCHES "^(libc\\.so\\.[0-9]+|ld-linux[-a-z0-9_]*\\.so\\.[0-9]+|ld64\\.so\\.[0-9]+)$")
    list(APPEND unwanted ${library})
  endif()
endforeach()
if(unwanted)
  message(FATAL_ERROR "${TOOL} needs ${unwanted} besides the C library")
endif()
message(STATUS "${TOOL} needs ${libraries}")
