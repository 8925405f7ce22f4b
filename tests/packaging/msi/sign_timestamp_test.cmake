cmake_minimum_required(VERSION 3.25)
# Signing in packaging/windows/package.cmake asks for an RFC 3161 timestamp
# from the server TOLVANE_SIGN_TIMESTAMP names, and only then. No network:
# osslsigncode is a script that writes down how it was called and copies
# the file, and the zip step is packed (it needs no wixl).
#   cmake -P tests/packaging/msi/sign_timestamp_test.cmake
get_filename_component(root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
string(RANDOM LENGTH 8 tag)
set(work "/tmp/tolvane-sign-test-${tag}")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}/deploy")
foreach(name Tolvane.exe Krandel.exe Tolvane-NOTICE.txt PolicyDefinitions/Tolvane.admx
             PolicyDefinitions/fr-FR/Tolvane.adml PolicyDefinitions/en-US/Tolvane.adml)
  file(WRITE "${work}/deploy/${name}" "${name}")
endforeach()
file(WRITE "${work}/cert.pem" "")
file(WRITE "${work}/key.pem" "")
file(WRITE "${work}/osslsigncode"
  "#!/bin/sh\necho \"$*\" >> '${work}/calls'\nwhile [ $# -gt 0 ]; do\n"
  "  case \"$1\" in -in) in=$2;; -out) out=$2;; esac; shift\ndone\ncp \"$in\" \"$out\"\n")
file(CHMOD "${work}/osslsigncode" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

set(failures 0)
function(pack server out_calls out_log)
  file(REMOVE "${work}/calls")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TOLVANE_SIGN_CERT=${work}/cert.pem TOLVANE_SIGN_KEY=${work}/key.pem
            TOLVANE_SIGN_TIMESTAMP=${server}
            ${CMAKE_COMMAND} -D STEP=zip -D DEPLOY_DIR=${work}/deploy -D STAGE_DIR=${work}/stage
            -D OUTPUT=${work}/out.zip -D WXS=unused -D ICON=unused -D MSI_VERSION=26.12.11800
            -D STAMP=2026.1209.0440 -D FILE_VERSION=2026.1209.440.0 -D OSSLSIGNCODE=${work}/osslsigncode
            -P ${root}/packaging/windows/package.cmake
    RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT rc EQUAL 0)
    message(SEND_ERROR "packing with TOLVANE_SIGN_TIMESTAMP=\"${server}\" failed:\n${log}")
  endif()
  set(calls "")
  if(EXISTS "${work}/calls")
    file(STRINGS "${work}/calls" calls)
  endif()
  set(${out_calls} "${calls}" PARENT_SCOPE)
  set(${out_log} "${log}" PARENT_SCOPE)
endfunction()

# Both programs signed, each with the server's timestamp.
pack("http://tsa.example.invalid/rfc3161" calls log)
list(LENGTH calls signed)
if(NOT signed EQUAL 2)
  message(SEND_ERROR "expected Tolvane.exe and Krandel.exe signed, got: ${calls}")
endif()
foreach(call IN LISTS calls)
  if(NOT call MATCHES " -ts http://tsa\\.example\\.invalid/rfc3161 ")
    message(SEND_ERROR "signed without the timestamp server: ${call}")
  endif()
endforeach()

# No server: signed all the same, without "-ts", and the build says so.
pack("" calls log)
list(LENGTH calls signed)
if(NOT signed EQUAL 2 OR calls MATCHES " -ts " OR NOT log MATCHES "no TOLVANE_SIGN_TIMESTAMP")
  message(SEND_ERROR "without a server: calls ${calls}\n${log}")
endif()

file(REMOVE_RECURSE "${work}")
