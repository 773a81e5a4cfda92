# Shared part of the mingw-w64 cross toolchains; the per-architecture files set KVO_TARGET_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR and include this one.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER   ${KVO_TARGET_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVO_TARGET_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${KVO_TARGET_TRIPLE}-windres)
set(CMAKE_DLLTOOL      ${KVO_TARGET_TRIPLE}-dlltool CACHE FILEPATH "dlltool")
set(CMAKE_OBJDUMP      ${KVO_TARGET_TRIPLE}-objdump CACHE FILEPATH "objdump")

set(CMAKE_FIND_ROOT_PATH /usr/${KVO_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The deliverables carry their C and C++ runtime inside: a DLL that the installer extracts, or a
# program started beside the JVM, must not depend on mingw DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
