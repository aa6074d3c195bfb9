# 64-bit Windows: the same sources, for running the tests under wine64 where
# 32-bit programs cannot run.
set(QORAMARK_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
