cmake_minimum_required(VERSION 3.25)
# The MSI version mapping of packaging/windows/TolvaneWindowsPackage.cmake:
#   cmake -P tests/packaging/msi/msi_version_test.cmake
# Each stamp is mapped in a cmake process of its own, so a stamp the mapping
# refuses (a configure error) is seen as that process failing.
get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(DEFINED PROBE_STAMP)
  include(${root}/packaging/windows/TolvaneWindowsPackage.cmake)
  tolvane_msi_version(version "${PROBE_STAMP}")
  message("MSI=${version}")
  return()
endif()

set(failures 0)

function(map_stamp stamp out_ok out_version out_text)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -D PROBE_STAMP=${stamp} -P ${CMAKE_CURRENT_LIST_FILE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE text)
  set(version "")
  if(text MATCHES "MSI=([0-9.]+)")
    set(version ${CMAKE_MATCH_1})
  endif()
  if(rc EQUAL 0)
    set(${out_ok} ON PARENT_SCOPE)
  else()
    set(${out_ok} OFF PARENT_SCOPE)
  endif()
  set(${out_version} "${version}" PARENT_SCOPE)
  set(${out_text} "${text}" PARENT_SCOPE)
endfunction()

# stamp | expected MSI version, or "refused"
set(cases
  "2024.0101.0000|24.1.0"
  "2024.0131.2359|24.1.44639"       # last minute of a 31-day month
  "2024.0201.0000|24.2.0"
  "2024.0229.2359|24.2.41759"       # leap day
  "2023.0228.2359|23.2.40319"
  "2024.0430.2359|24.4.43199"
  "2024.1231.2359|24.12.44639"      # last minute of a year
  "2025.0101.0000|25.1.0"
  "2024.0815.0930|24.8.20730"       # zeros inside MMDD and HHMM are decimals
  "2000.0101.0000|0.1.0"
  "2255.1231.2359|255.12.44639"     # the highest version the MSI can carry
  "2256.0101.0000|refused"          # major 256 would wrap
  "1999.1231.2359|refused"
  "2024.0001.0000|refused"
  "2024.1301.0000|refused"
  "2024.0100.0000|refused"
  "2024.0132.0000|refused"
  "2023.0229.1200|refused"          # no leap day in 2023
  "2100.0229.1200|refused"          # nor in 2100
  "2024.0431.0000|refused"
  "2024.0101.2400|refused"
  "2024.0101.1260|refused"
  "2024.101.1200|refused"
  "24.0101.1200|refused"
  "2024-0101-1200|refused"
  "|refused")

foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(LENGTH fields n)
  if(n EQUAL 1)
    set(stamp "")
    list(GET fields 0 expected)
  else()
    list(GET fields 0 stamp)
    list(GET fields 1 expected)
  endif()
  map_stamp("${stamp}" ok version text)
  if(expected STREQUAL "refused")
    if(ok OR NOT text MATCHES "MSI version: ")
      message("FAIL ${stamp}: expected a configure error, got ${version}\n${text}")
      math(EXPR failures "${failures} + 1")
    endif()
  elseif(NOT ok OR NOT version STREQUAL expected)
    message("FAIL ${stamp}: expected ${expected}, got \"${version}\"\n${text}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

# Stamps in time order must give versions in the same order, compared as
# Windows Installer does (numerically, field by field).
set(ordered
  2024.0131.2359 2024.0201.0000 2024.0201.0001 2024.0201.0100
  2024.0202.0000 2024.1231.2359 2025.0101.0000 2025.0110.0000)
set(previous "")
set(previous_stamp "")
foreach(stamp IN LISTS ordered)
  map_stamp(${stamp} ok version text)
  if(NOT ok)
    message("FAIL ${stamp}: refused\n${text}")
    math(EXPR failures "${failures} + 1")
  elseif(previous AND NOT previous VERSION_LESS version)
    message("FAIL ${previous_stamp} -> ${previous} is not below ${stamp} -> ${version}")
    math(EXPR failures "${failures} + 1")
  endif()
  set(previous ${version})
  set(previous_stamp ${stamp})
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} MSI version case(s) failed")
endif()
message("all MSI version cases pass")
