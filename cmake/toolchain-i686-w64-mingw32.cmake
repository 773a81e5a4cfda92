# Cross build for 32-bit Windows (the deliverables) with the posix-thread mingw-w64 compilers.
set(KVO_TARGET_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
# Every processor that runs a supported 32-bit Windows has SSE2 (Windows 8 and later require it), and
# the text conversions' block loops are written for it. The compiler realigns the stack where a
# function keeps 16-byte aligned data (-mstackrealign is on by default for this target), since
# Windows only promises 4-byte alignment to callbacks and thread entries.
set(CMAKE_C_FLAGS_INIT "-msse2")
set(CMAKE_CXX_FLAGS_INIT "-msse2")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
