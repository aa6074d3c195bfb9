# The shipped build: 32-bit Windows.
set(QORAMARK_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
