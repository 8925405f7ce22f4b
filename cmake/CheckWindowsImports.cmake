# cmake -DOBJDUMP=<objdump> -DFOLDER=<folder> -P CheckWindowsImports.cmake
#
# Fails when an executable or DLL of FOLDER imports a DLL that is neither a
# part of Windows nor in FOLDER itself: such a program would not start on a
# station, and this is the place to find out, not the station.
cmake_minimum_required(VERSION 3.25)
set(_system
  advapi32 authz bcrypt comctl32 comdlg32 crypt32 d2d1 d3d9 d3d11 d3d12 dcomp dnsapi dwmapi dwrite dxgi
  gdi32 imm32 iphlpapi kernel32 mpr msimg32 msvcrt ncrypt netapi32 ntdll ole32 oleaut32 psapi
  secur32 setupapi shcore shell32 shlwapi user32 userenv uxtheme version winmm winspool ws2_32
  winhttp wtsapi32)
if(NOT OBJDUMP OR NOT IS_DIRECTORY "${FOLDER}")
  message(FATAL_ERROR "CheckWindowsImports: give OBJDUMP and FOLDER")
endif()
file(GLOB _binaries "${FOLDER}/*.exe" "${FOLDER}/*.dll")
file(GLOB _beside RELATIVE "${FOLDER}" "${FOLDER}/*.dll")
list(TRANSFORM _beside TOLOWER)
if(NOT _binaries)
  message(FATAL_ERROR "CheckWindowsImports: no program in ${FOLDER}")
endif()
set(_faults "")
foreach(_binary IN LISTS _binaries)
  execute_process(COMMAND ${OBJDUMP} -p ${_binary} OUTPUT_VARIABLE _dump RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "CheckWindowsImports: ${OBJDUMP} could not read ${_binary}")
  endif()
  string(REGEX MATCHALL "DLL Name: [^\r\n]+" _imports "${_dump}")
  get_filename_component(_name ${_binary} NAME)
  foreach(_import IN LISTS _imports)
    string(REGEX REPLACE "^DLL Name: " "" _dll "${_import}")
    string(STRIP "${_dll}" _dll)
    string(TOLOWER "${_dll}" _lower)
    string(REGEX REPLACE "\\.dll$" "" _base "${_lower}")
    if(_base IN_LIST _system OR _base MATCHES "^api-ms-win-" OR _lower IN_LIST _beside)
      continue()
    endif()
    list(APPEND _faults "${_name} imports ${_dll}, which is neither a part of Windows nor beside it")
  endforeach()
endforeach()
if(_faults)
  list(JOIN _faults "\n  " _text)
  message(FATAL_ERROR "Missing DLLs in ${FOLDER}:\n  ${_text}")
endif()
list(LENGTH _binaries _count)
message(STATUS "Imports checked: ${_count} programs in ${FOLDER} need only Windows and what lies beside them")
