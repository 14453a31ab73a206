# Cross build for Windows with MinGW-w64 (posix thread model), included by the
# toolchain file of each architecture after it has set QUILL_MINGW_ARCH (the
# compiler's CPU: i686 or x86_64) and QUILL_WINE_ARCH (win32 or win64).
# Programs of the build run under wine through tools/wine-run.sh, which picks
# the loader and the prefix of that architecture.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUILL_MINGW_ARCH})
set(CMAKE_C_COMPILER ${QUILL_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILL_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${QUILL_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
get_filename_component(QUILL_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL_WINE_RUN} ${QUILL_WINE_ARCH})
