# 64-bit Windows: the same tree, so that the Windows code runs under wine64 on
# machines that cannot run 32-bit programs.
set(QUILL_MINGW_ARCH x86_64)
set(QUILL_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
