# Cross-building for 64-bit Windows with Debian's mingw-w64 (GCC with the
# posix thread model, for std::thread). The programs use the runtime DLLs, as
# Qt's do (one C++ runtime in the process); they go beside the programs in
# the installer. Tests run under wine through tests/win32/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_STRIP /usr/bin/x86_64-w64-mingw32-strip)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine-run)

# Qt for MinGW (scripts/qt-mingw prints where it is), with the host's own
# moc, uic and rcc.
if(KAROLX_QT_MINGW)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KAROLX_QT_MINGW})
  list(APPEND CMAKE_PREFIX_PATH ${KAROLX_QT_MINGW})
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
