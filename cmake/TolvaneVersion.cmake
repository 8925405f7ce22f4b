# The version stamp is YEAR.MMDD.HHMM of the last commit's date (local time of
# the committer's clock as recorded), read at configure time. A tree without
# git falls back to the moment of the build.
find_package(Git QUIET)
set(_stamp "")
if(GIT_FOUND)
  execute_process(
    COMMAND ${GIT_EXECUTABLE} log -1 --format=%cd --date=format:%Y.%m%d.%H%M
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    OUTPUT_VARIABLE _stamp
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    set(_stamp "")
  endif()
endif()
if(NOT _stamp MATCHES "^[0-9][0-9][0-9][0-9]\\.[0-9][0-9][0-9][0-9]\\.[0-9][0-9][0-9][0-9]$")
  string(TIMESTAMP _stamp "%Y.%m%d.%H%M")
endif()
string(REPLACE "." ";" _parts "${_stamp}")
list(GET _parts 0 TOLVANE_VERSION_MAJOR)
list(GET _parts 1 _minor)
list(GET _parts 2 _revision)
# Leading zeros would read as octal in C++; the numbers are plain decimals.
math(EXPR TOLVANE_VERSION_MINOR "${_minor}" OUTPUT_FORMAT DECIMAL)
math(EXPR TOLVANE_VERSION_REVISION "${_revision}" OUTPUT_FORMAT DECIMAL)
set(TOLVANE_VERSION_STAMP "${_stamp}")
message(STATUS "Version stamp: ${TOLVANE_VERSION_STAMP}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tolvane_version.h.in
               ${CMAKE_BINARY_DIR}/generated/tolvane_version.h @ONLY)
