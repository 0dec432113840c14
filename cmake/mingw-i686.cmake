# Windows x86
set(QM_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
