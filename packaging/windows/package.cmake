# Packs the deploy folder of the Windows tree into the MSI or the zip; run by
# the tolvane_msi and tolvane_zip targets (cmake/TolvaneWindowsPackage.cmake):
#   cmake -D STEP=msi|zip -D DEPLOY_DIR=... -D STAGE_DIR=... -D OUTPUT=...
#         -D WXS=... -D ICON=... -D MSI_VERSION=... -D STAMP=...
#         -D WIXL=... -D OSSLSIGNCODE=... -P package.cmake
#
# The files are copied to STAGE_DIR and signed there when TOLVANE_SIGN_CERT
# and TOLVANE_SIGN_KEY name a PEM certificate and key (TOLVANE_SIGN_PASSFILE:
# a file holding the key's passphrase, if it has one); the deploy folder
# itself stays unsigned. OUTPUT appears only when every step succeeded.

cmake_minimum_required(VERSION 3.25)

foreach(var STEP DEPLOY_DIR STAGE_DIR OUTPUT WXS ICON MSI_VERSION STAMP)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "package: ${var} not given")
  endif()
endforeach()

# What the MSI installs (Tolvane.wxs lists the same names). Anything else in
# the deploy folder would reach the zip but not the MSI, so it stops here.
set(files Tolvane.exe Krandel.exe Tolvane-NOTICE.txt)

file(REMOVE "${OUTPUT}" "${OUTPUT}.part")
file(GLOB present RELATIVE "${DEPLOY_DIR}" "${DEPLOY_DIR}/*")
foreach(name IN LISTS present)
  if(NOT name IN_LIST files)
    message(FATAL_ERROR "package: ${DEPLOY_DIR} holds ${name}, which the MSI does not install; add it to ${WXS} and to this list")
  endif()
endforeach()
file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}")
foreach(name IN LISTS files)
  if(NOT EXISTS "${DEPLOY_DIR}/${name}")
    message(FATAL_ERROR "package: ${DEPLOY_DIR}/${name} is missing; build tolvane_deploy first")
  endif()
  file(COPY "${DEPLOY_DIR}/${name}" DESTINATION "${STAGE_DIR}")
endforeach()

# Signing is all or nothing: half a pair given is a mistake, not "unsigned".
set(cert "$ENV{TOLVANE_SIGN_CERT}")
set(key "$ENV{TOLVANE_SIGN_KEY}")
set(passfile "$ENV{TOLVANE_SIGN_PASSFILE}")
set(sign OFF)
if(NOT cert STREQUAL "" OR NOT key STREQUAL "")
  if(cert STREQUAL "" OR key STREQUAL "")
    message(FATAL_ERROR "package: signing needs both TOLVANE_SIGN_CERT and TOLVANE_SIGN_KEY")
  endif()
  foreach(f "${cert}" "${key}" "${passfile}")
    if(NOT f STREQUAL "" AND NOT EXISTS "${f}")
      message(FATAL_ERROR "package: ${f} does not exist")
    endif()
  endforeach()
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "package: signing asked for, but osslsigncode is not installed")
  endif()
  set(sign ON)
endif()

# No timestamp server: the build has no network. A signature without a
# timestamp stops being valid when the certificate expires.
function(sign_file path)
  if(NOT sign)
    return()
  endif()
  set(pass_args "")
  if(NOT passfile STREQUAL "")
    set(pass_args -readpass "${passfile}")
  endif()
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign -certs "${cert}" -key "${key}" ${pass_args}
            -h sha256 -n "Tolvane ${STAMP}" -in "${path}" -out "${path}.signed"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "package: signing ${path} failed:\n${out}")
  endif()
  file(RENAME "${path}.signed" "${path}")
endfunction()

sign_file("${STAGE_DIR}/Tolvane.exe")
sign_file("${STAGE_DIR}/Krandel.exe")

if(STEP STREQUAL "msi")
  if(NOT WIXL)
    message(FATAL_ERROR "package: wixl not found (Debian package wixl)")
  endif()
  # wixl reads the sources named in the .wxs from its working folder.
  file(COPY "${ICON}" DESTINATION "${STAGE_DIR}")
  get_filename_component(icon_name "${ICON}" NAME)
  if(NOT icon_name STREQUAL "tolvane.ico")
    file(RENAME "${STAGE_DIR}/${icon_name}" "${STAGE_DIR}/tolvane.ico")
  endif()
  execute_process(
    COMMAND "${WIXL}" -a x64 -D "Version=${MSI_VERSION}" -D "Stamp=${STAMP}"
            -o "${OUTPUT}.part" "${WXS}"
    WORKING_DIRECTORY "${STAGE_DIR}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  # wixl drops an attribute it does not know (Platform=, Schedule=, ...) with
  # only a GLib warning and exit status 0: what we wrote would silently not
  # be in the MSI, so any such line fails the build.
  if(NOT rc EQUAL 0 OR NOT EXISTS "${OUTPUT}.part" OR out MATCHES "ERROR|CRITICAL|WARNING")
    file(REMOVE "${OUTPUT}.part")
    message(FATAL_ERROR "package: wixl failed:\n${out}")
  endif()
  sign_file("${OUTPUT}.part")
elseif(STEP STREQUAL "zip")
  execute_process(
    COMMAND "${CMAKE_COMMAND}" -E tar cf "${OUTPUT}.part" --format=zip ${files}
    WORKING_DIRECTORY "${STAGE_DIR}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    file(REMOVE "${OUTPUT}.part")
    message(FATAL_ERROR "package: zip failed:\n${out}")
  endif()
else()
  message(FATAL_ERROR "package: STEP must be msi or zip, not ${STEP}")
endif()

file(RENAME "${OUTPUT}.part" "${OUTPUT}")
if(sign)
  message(STATUS "${OUTPUT}: signed")
else()
  message(STATUS "${OUTPUT}: unsigned (no TOLVANE_SIGN_CERT/TOLVANE_SIGN_KEY)")
endif()
