# The same sources for 64-bit Windows. Not shipped: it runs the Windows test
# programs under wine64 on machines whose kernel cannot run 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVIRO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
