# packaging/windows/ (see TolvaneWindowsDeploy.cmake for what it holds).
#
# The Windows installer (MSI, built with wixl from msitools) and the zip for
# copy-deployment, both made from the deploy folder of the Windows tree:
#   cmake --build build-windows --target tolvane_msi tolvane_zip
# gives build-windows/Tolvane-<stamp>-x64.msi and .zip. Neither is part of
# ALL. With TOLVANE_SIGN_CERT and TOLVANE_SIGN_KEY set in the environment of
# that build command (PEM files), Tolvane.exe, Krandel.exe and the MSI are
# signed with osslsigncode, with an RFC 3161 timestamp from the server named
# by TOLVANE_SIGN_TIMESTAMP; packaging/windows/package.cmake does the work.
#
# Two version numbers name one build, both made from its stamp
# YEAR.MMDD.HHMM: the files' version (their version resource, and the
# Version of their rows in the MSI's File table) is YEAR.MMDD.HHMM.0 read as
# plain numbers (2026.1209.0440 -> 2026.1209.440.0); the product version is
# the mapping of tolvane_msi_version() below (-> 26.12.11800).

# tolvane_msi_version(<out-var> <stamp>)
#
# Windows Installer compares only major.minor.build, with major and minor up
# to 255 and build up to 65535, so YEAR.MMDD.HHMM cannot be used as it is
# (MMDD and HHMM overflow a byte). The mapping keeps every later stamp a
# higher version:
#   major = year - 2000, minor = month,
#   build = minutes since the start of the month = (day-1)*1440 + hour*60 + minute
# (at most 44639). A stamp outside that range stops the configure: a wrapped
# number would make a newer MSI look older and refuse to upgrade.
function(tolvane_msi_version out stamp)
  if(NOT stamp MATCHES "^([0-9][0-9][0-9][0-9])\\.([0-9][0-9])([0-9][0-9])\\.([0-9][0-9])([0-9][0-9])$")
    message(FATAL_ERROR "MSI version: \"${stamp}\" is not a YEAR.MMDD.HHMM version stamp")
  endif()
  # math() reads "08" as eight: the fields are plain decimals.
  math(EXPR year "${CMAKE_MATCH_1}")
  math(EXPR month "${CMAKE_MATCH_2}")
  math(EXPR day "${CMAKE_MATCH_3}")
  math(EXPR hour "${CMAKE_MATCH_4}")
  math(EXPR minute "${CMAKE_MATCH_5}")

  if(year LESS 2000 OR year GREATER 2255)
    message(FATAL_ERROR "MSI version: the year of \"${stamp}\" is outside 2000..2255 (MSI major version 0..255)")
  endif()
  if(month LESS 1 OR month GREATER 12)
    message(FATAL_ERROR "MSI version: \"${stamp}\" has no month ${month}")
  endif()
  set(month_days 31 28 31 30 31 30 31 31 30 31 30 31)
  math(EXPR index "${month} - 1")
  list(GET month_days ${index} last_day)
  if(month EQUAL 2)
    math(EXPR by4 "${year} % 4")
    math(EXPR by100 "${year} % 100")
    math(EXPR by400 "${year} % 400")
    if(by400 EQUAL 0 OR (by4 EQUAL 0 AND NOT by100 EQUAL 0))
      set(last_day 29)
    endif()
  endif()
  if(day LESS 1 OR day GREATER last_day)
    message(FATAL_ERROR "MSI version: \"${stamp}\" has no day ${day} in month ${month}")
  endif()
  if(hour GREATER 23 OR minute GREATER 59)
    message(FATAL_ERROR "MSI version: \"${stamp}\" has no time ${hour}:${minute}")
  endif()

  math(EXPR major "${year} - 2000")
  math(EXPR build "(${day} - 1) * 1440 + ${hour} * 60 + ${minute}")
  set(${out} "${major}.${month}.${build}" PARENT_SCOPE)
endfunction()

if(NOT WIN32 OR TOLVANE_PURE_ONLY OR CMAKE_SCRIPT_MODE_FILE)
  return()
endif()

tolvane_msi_version(TOLVANE_MSI_VERSION "${TOLVANE_VERSION_STAMP}")
message(STATUS "MSI version: ${TOLVANE_MSI_VERSION} (stamp ${TOLVANE_VERSION_STAMP})")

# Host tools: the toolchain file points find roots at the MinGW sysroot.
find_program(TOLVANE_WIXL wixl NO_CMAKE_FIND_ROOT_PATH)
find_program(TOLVANE_OSSLSIGNCODE osslsigncode NO_CMAKE_FIND_ROOT_PATH)
find_program(TOLVANE_MSIBUILD msibuild NO_CMAKE_FIND_ROOT_PATH)
find_program(TOLVANE_MSIINFO msiinfo NO_CMAKE_FIND_ROOT_PATH)
if(NOT TOLVANE_WIXL)
  message(STATUS "wixl not found: tolvane_msi will fail until Debian's wixl is installed")
endif()

set(_tolvane_package_args
  -D DEPLOY_DIR=${CMAKE_BINARY_DIR}/deploy
  -D WXS=${CMAKE_CURRENT_LIST_DIR}/Tolvane.wxs
  -D ICON=${PROJECT_SOURCE_DIR}/packaging/icon/tolvane.ico
  -D MSI_VERSION=${TOLVANE_MSI_VERSION}
  -D STAMP=${TOLVANE_VERSION_STAMP}
  -D FILE_VERSION=${TOLVANE_VERSION_MAJOR}.${TOLVANE_VERSION_MINOR}.${TOLVANE_VERSION_REVISION}.0
  -D WIXL=${TOLVANE_WIXL}
  -D MSIBUILD=${TOLVANE_MSIBUILD}
  -D MSIINFO=${TOLVANE_MSIINFO}
  -D OSSLSIGNCODE=${TOLVANE_OSSLSIGNCODE})
set(_tolvane_package_base ${CMAKE_BINARY_DIR}/Tolvane-${TOLVANE_VERSION_STAMP}-x64)

# tolvane_<step>: packs <base>.<step> (the step names the file's kind too).
function(_tolvane_package_target step)
  add_custom_target(tolvane_${step}
    COMMAND ${CMAKE_COMMAND} -D STEP=${step} ${_tolvane_package_args}
            -D STAGE_DIR=${CMAKE_BINARY_DIR}/package-stage/${step}
            -D OUTPUT=${_tolvane_package_base}.${step}
            -P ${CMAKE_CURRENT_LIST_DIR}/package.cmake
    COMMENT "Packing ${_tolvane_package_base}.${step}"
    VERBATIM)
endfunction()
_tolvane_package_target(msi)
_tolvane_package_target(zip)

# tolvane_deploy lays out the folder both pack; it may be defined after this
# file is read, so the link is made once the top folder is done.
function(_tolvane_package_after_deploy)
  if(NOT TARGET tolvane_deploy)
    message(FATAL_ERROR "tolvane_msi and tolvane_zip need the tolvane_deploy target, which this tree does not define")
  endif()
  add_dependencies(tolvane_msi tolvane_deploy)
  add_dependencies(tolvane_zip tolvane_deploy)
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _tolvane_package_after_deploy)
