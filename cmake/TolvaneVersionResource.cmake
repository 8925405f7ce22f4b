# tolvane_add_version_resource(<target> [DESCRIPTION <text>] [MANIFEST])
#
# Gives a Windows executable its version resource and icon
# (packaging/icon/tolvane.ico), from cmake/version.rc.in: the file version is
# the version stamp of tolvane_version.h (YEAR, MMDD, HHMM, 0), the file
# description is TOLVANE_FILE_DESCRIPTION unless DESCRIPTION says otherwise,
# the original file name is the target's output name with ".exe". Explorer
# shows them, and the program reads them back at run time
# (Platform::ownVersion). MANIFEST also compiles in the application manifest
# of cmake/application.manifest.in (run as the invoker, Windows 10 and 11,
# per-monitor DPI awareness, long paths): the shipped programs have it; test
# programs and the stand-in run without one, as a suite program built by
# others may. Does nothing when not building for Windows.
function(tolvane_add_version_resource target)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(V "MANIFEST" "DESCRIPTION" "" ${ARGN})
  get_target_property(TOLVANE_RC_NAME ${target} OUTPUT_NAME)
  if(NOT TOLVANE_RC_NAME)
    set(TOLVANE_RC_NAME ${target})
  endif()
  if(V_DESCRIPTION)
    string(REPLACE "\"" "\"\"" _description "${V_DESCRIPTION}")
    set(TOLVANE_RC_DESCRIPTION "\"${_description}\"")
  else()
    set(TOLVANE_RC_DESCRIPTION "TOLVANE_FILE_DESCRIPTION")
  endif()
  # Kept on the target, for whoever reads the resource back (the tests).
  set_target_properties(${target} PROPERTIES TOLVANE_FILE_DESCRIPTION "${V_DESCRIPTION}")
  # The icon lives with the other packaging files (packaging/icon/), where
  # its drawing script writes it.
  cmake_path(SET TOLVANE_RC_ICON NORMALIZE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../packaging/icon/tolvane.ico")
  set(TOLVANE_RC_MANIFEST "")
  if(V_MANIFEST)
    set(_manifest "${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest")
    configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/application.manifest.in" "${_manifest}" @ONLY)
    # 1 = CREATEPROCESS_MANIFEST_RESOURCE_ID, 24 = RT_MANIFEST.
    set(TOLVANE_RC_MANIFEST "1 24 \"${_manifest}\"")
  endif()
  set(_rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in" "${_rc}" @ONLY)
  target_sources(${target} PRIVATE "${_rc}")
  # The resource takes its numbers from the generated version header.
  target_include_directories(${target} PRIVATE "${CMAKE_BINARY_DIR}/generated")
  set_property(SOURCE "${_rc}" APPEND PROPERTY OBJECT_DEPENDS
               "${TOLVANE_RC_ICON}" "${CMAKE_BINARY_DIR}/generated/tolvane_version.h" ${_manifest})
endfunction()
