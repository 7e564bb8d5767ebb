# 32-bit Windows: the artefact we ship. Built and inspected, never run here.
set(VOLSTEN_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
