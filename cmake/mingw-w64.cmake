# Cross-build for 64-bit Windows with Debian's MinGW-w64 (posix threads: the
# win32-thread compilers lack std::mutex, which GoogleTest needs).
#   cmake -S . -B build-windows -G Ninja -DTOLVANE_PURE_ONLY=ON \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Executables are linked statically, so they run under wine (and on a bare
# Windows) without any MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_tolvane_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_tolvane_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_tolvane_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_tolvane_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_tolvane_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test executables through wine. Debian keeps wine64 out of
# PATH; scripts/test-windows passes a wrapper of its own instead, which also
# sets the prefix and the display.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(TOLVANE_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
  if(TOLVANE_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLVANE_WINE64})
  endif()
endif()
