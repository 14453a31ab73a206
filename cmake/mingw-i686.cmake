# 32-bit Windows: the shipped plug-in, run under wine's 32-bit loader.
set(QUILL_MINGW_ARCH i686)
set(QUILL_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
