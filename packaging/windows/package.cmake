# Packs the deploy folder of the Windows tree into the MSI or the zip; run by
# the tolvane_msi and tolvane_zip targets (TolvaneWindowsPackage.cmake):
#   cmake -D STEP=msi|zip -D DEPLOY_DIR=... -D STAGE_DIR=... -D OUTPUT=...
#         -D WXS=... -D ICON=... -D MSI_VERSION=... -D STAMP=...
#         -D FILE_VERSION=... -D WIXL=... -D MSIBUILD=... -D MSIINFO=...
#         -D OSSLSIGNCODE=... -P package.cmake
#
# The files are copied to STAGE_DIR and signed there when TOLVANE_SIGN_CERT
# and TOLVANE_SIGN_KEY name a PEM certificate and key (TOLVANE_SIGN_PASSFILE:
# a file holding the key's passphrase, if it has one; TOLVANE_SIGN_TIMESTAMP:
# the address of an RFC 3161 timestamp server); the deploy folder itself
# stays unsigned. OUTPUT appears only when every step succeeded.

cmake_minimum_required(VERSION 3.25)

foreach(var STEP DEPLOY_DIR STAGE_DIR OUTPUT WXS ICON MSI_VERSION STAMP FILE_VERSION)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "package: ${var} not given")
  endif()
endforeach()

# What the MSI installs (Tolvane.wxs lists the same names), by their path in
# the deploy folder. Anything else in it would reach the zip but not the
# MSI, so it stops here.
set(files Tolvane.exe Krandel.exe Tolvane-NOTICE.txt
    PolicyDefinitions/Tolvane.admx PolicyDefinitions/fr-FR/Tolvane.adml PolicyDefinitions/en-US/Tolvane.adml)
# The programs, by their File ids in the .wxs: they carry a version resource
# (FILE_VERSION, the same four numbers), which their File rows must name.
set(versioned TolvaneExe KrandelExe)

file(REMOVE "${OUTPUT}" "${OUTPUT}.part")
file(GLOB_RECURSE present LIST_DIRECTORIES false RELATIVE "${DEPLOY_DIR}" "${DEPLOY_DIR}/*")
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
  get_filename_component(folder "${STAGE_DIR}/${name}" DIRECTORY)
  file(COPY "${DEPLOY_DIR}/${name}" DESTINATION "${folder}")
endforeach()

# Signing is all or nothing: half a pair given is a mistake, not "unsigned".
set(cert "$ENV{TOLVANE_SIGN_CERT}")
set(key "$ENV{TOLVANE_SIGN_KEY}")
set(passfile "$ENV{TOLVANE_SIGN_PASSFILE}")
set(timestamp "$ENV{TOLVANE_SIGN_TIMESTAMP}")
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

# A signature without a timestamp stops being valid when the certificate
# expires: the programs of a station installed years ago would then read as
# unsigned. With TOLVANE_SIGN_TIMESTAMP the server vouches for the moment of
# signing (RFC 3161), and the signature outlives the certificate. The server
# is reached over the network at every signing; a server that does not
# answer fails the build rather than give a signature without a timestamp.
# Without the variable the signature is made anyway, and the build says so.
if(sign AND timestamp STREQUAL "")
  message(WARNING "package: no TOLVANE_SIGN_TIMESTAMP: the signatures end with the certificate")
endif()
function(sign_file path)
  if(NOT sign)
    return()
  endif()
  set(pass_args "")
  if(NOT passfile STREQUAL "")
    set(pass_args -readpass "${passfile}")
  endif()
  set(timestamp_args "")
  if(NOT timestamp STREQUAL "")
    set(timestamp_args -ts "${timestamp}")
  endif()
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign -certs "${cert}" -key "${key}" ${pass_args}
            -h sha256 -n "Tolvane ${STAMP}" ${timestamp_args} -in "${path}" -out "${path}.signed"
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

  # The programs' File rows carry their version. Windows Installer replaces
  # a file already on disk only when its own is newer, and a file with no
  # version in the table counts as older than any versioned file: an
  # upgrade would leave an older Tolvane.exe in place (one copied from the
  # zip, say) and install nothing. wixl (0.101) drops a Version given in the
  # .wxs, so the rows are set here; a versioned file must then have no
  # MsiFileHash row (the hash is for unversioned files only). One query per
  # file: libmsi's DELETE ... OR ... removes the first match only.
  foreach(tool MSIBUILD MSIINFO)
    if(NOT ${tool})
      file(REMOVE "${OUTPUT}.part")
      message(FATAL_ERROR "package: ${tool} not found (Debian package msitools)")
    endif()
  endforeach()
  # Each query, or the build stops. Read argument by argument (ARGV<n>): a
  # query may hold ";" (an access list does), which a list would split.
  function(msibuild_queries)
    math(EXPR last "${ARGC} - 1")
    foreach(n RANGE ${last})
      set(query "${ARGV${n}}")
      execute_process(COMMAND "${MSIBUILD}" "${OUTPUT}.part" -q "${query}"
                      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
      if(NOT rc EQUAL 0)
        file(REMOVE "${OUTPUT}.part")
        message(FATAL_ERROR "package: msibuild ${query} failed:\n${out}")
      endif()
    endforeach()
  endfunction()
  # A table of the MSI as msiinfo exports it, or the build stops.
  function(msi_table table var)
    execute_process(COMMAND "${MSIINFO}" export "${OUTPUT}.part" ${table}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT rc EQUAL 0)
      file(REMOVE "${OUTPUT}.part")
      message(FATAL_ERROR "package: msiinfo export ${table} failed:\n${out}")
    endif()
    set(${var} "${out}" PARENT_SCOPE)
  endfunction()
  foreach(id IN LISTS versioned)
    msibuild_queries("UPDATE `File` SET `Version`='${FILE_VERSION}' WHERE `File`='${id}'"
                     "DELETE FROM `MsiFileHash` WHERE `File_`='${id}'")
  endforeach()
  # msibuild answers 0 to a query that changed nothing: read the rows back.
  msi_table(File file_table)
  msi_table(MsiFileHash hash_table)
  foreach(id IN LISTS versioned)
    string(REGEX MATCH "\n${id}\t[^\n]*" file_row "${file_table}")
    string(REGEX MATCH "\n${id}\t" hash_row "${hash_table}")
    if(NOT file_row MATCHES "\t${FILE_VERSION}\t" OR NOT hash_row STREQUAL "")
      file(REMOVE "${OUTPUT}.part")
      message(FATAL_ERROR "package: the row of ${id} did not get version ${FILE_VERSION} without a hash:\n"
                          "${file_table}\n${hash_table}")
    endif()
  endforeach()

  # The metrics folder (Tolvane.wxs, component MetricsFolder) is made only
  # when METRICSFOLDER is given or remembered, and the station's users may
  # write into it. wixl (0.101) writes neither a component's condition nor
  # a folder's permissions, so both are set here. The access list replaces
  # what the folder would inherit (protected): the system and the
  # administrators full control, the machine's Users modify, whichever
  # folder IT names. MsiLockPermissionsEx needs Windows Installer 5.0
  # (Windows 7 and later), which the package asks for anyway.
  set(metrics_sddl "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)")
  msibuild_queries(
    "UPDATE `Component` SET `Condition`='METRICSFOLDER' WHERE `Component`='MetricsFolder'"
    "CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, `LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `SDDLText` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)"
    "INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, `SDDLText`) VALUES ('MetricsFolderUsers', 'TolvaneMetricsDir', 'CreateFolder', '${metrics_sddl}')")
  msi_table(Component component_table)
  msi_table(MsiLockPermissionsEx lock_table)
  string(REGEX MATCH "\nMetricsFolder\t[^\n]*" metrics_row "${component_table}")
  if(NOT metrics_row MATCHES "\tMETRICSFOLDER\t" OR
     NOT lock_table MATCHES "\nMetricsFolderUsers\tTolvaneMetricsDir\tCreateFolder\t")
    file(REMOVE "${OUTPUT}.part")
    message(FATAL_ERROR "package: the metrics folder's condition or permissions are not in the MSI:\n"
                        "${component_table}\n${lock_table}")
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
