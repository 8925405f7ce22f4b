# packaging/windows/: what goes to the station on Windows. This file lays out
# the deploy folder, TolvaneWindowsPackage.cmake and package.cmake pack it
# into the MSI (Tolvane.wxs) and the zip; NOTICE.txt.in and licenses/ make
# the licence notice shipped with both.
#
# The ready-to-run Windows folder, build-windows/deploy/: Tolvane.exe,
# Krandel.exe, their licence notice and the policy template (policy/, laid
# out in PolicyDefinitions/ as a policy store holds it), and nothing else. The folder is
# copied into the suite's own folder on the station, beside programs we do
# not own, so it holds nothing under a generic name (no MinGW or Qt DLL: Qt
# and the C++ runtime are linked in statically) and every executable in it
# is checked to import only the system's DLLs and what lies beside it.
if(NOT WIN32 OR TOLVANE_PURE_ONLY)
  return()
endif()

set(TOLVANE_DEPLOY_DIR ${CMAKE_BINARY_DIR}/deploy)
set(TOLVANE_QT_VERSION ${Qt6_VERSION})
set(_notice ${CMAKE_BINARY_DIR}/Tolvane-NOTICE.txt)
configure_file(${CMAKE_CURRENT_LIST_DIR}/NOTICE.txt.in ${_notice}.head @ONLY)
# The licence texts follow the notice in the same file.
file(READ ${_notice}.head _text)
foreach(_licence LGPL-3.0-only GPL-3.0-only)
  file(READ ${CMAKE_CURRENT_LIST_DIR}/licenses/${_licence}.txt _licence_text)
  string(APPEND _text "\n${_licence}\n-----------------\n${_licence_text}")
endforeach()
# Windows line ends: the notice is read with Notepad.
string(REGEX REPLACE "\r?\n" "\r\n" _text "${_text}")
# Written only when it changed, so a rebuild does not lay the folder out again.
file(WRITE ${_notice}.new "${_text}")
configure_file(${_notice}.new ${_notice} COPYONLY)

set(_policy ${CMAKE_CURRENT_LIST_DIR}/policy)
add_custom_target(tolvane_deploy ALL
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${TOLVANE_DEPLOY_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLVANE_DEPLOY_DIR}
  COMMAND ${CMAKE_STRIP} --strip-all -o ${TOLVANE_DEPLOY_DIR}/Tolvane.exe $<TARGET_FILE:Tolvane>
  COMMAND ${CMAKE_STRIP} --strip-all -o ${TOLVANE_DEPLOY_DIR}/Krandel.exe $<TARGET_FILE:Krandel>
  COMMAND ${CMAKE_COMMAND} -E copy ${_notice} ${TOLVANE_DEPLOY_DIR}/
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLVANE_DEPLOY_DIR}/PolicyDefinitions/fr-FR
          ${TOLVANE_DEPLOY_DIR}/PolicyDefinitions/en-US
  COMMAND ${CMAKE_COMMAND} -E copy ${_policy}/Tolvane.admx ${TOLVANE_DEPLOY_DIR}/PolicyDefinitions/
  COMMAND ${CMAKE_COMMAND} -E copy ${_policy}/fr-FR/Tolvane.adml ${TOLVANE_DEPLOY_DIR}/PolicyDefinitions/fr-FR/
  COMMAND ${CMAKE_COMMAND} -E copy ${_policy}/en-US/Tolvane.adml ${TOLVANE_DEPLOY_DIR}/PolicyDefinitions/en-US/
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DFOLDER=${TOLVANE_DEPLOY_DIR}
          -P ${PROJECT_SOURCE_DIR}/cmake/CheckWindowsImports.cmake
  DEPENDS Tolvane Krandel ${_notice} ${_policy}/Tolvane.admx ${_policy}/fr-FR/Tolvane.adml
          ${_policy}/en-US/Tolvane.adml
  COMMENT "Laying out ${TOLVANE_DEPLOY_DIR}"
  VERBATIM)
