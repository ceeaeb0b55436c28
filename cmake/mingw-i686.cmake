# Cross-compiling the Windows utility: 32-bit, MinGW-w64, one static file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
# The win32 thread model: the posix one brings a threads library that imports
# functions Windows 95 lacks. The three Unicode calls the win32 runtime still
# makes are answered by src/platform/win32/ansi_imports.cpp.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The processor floor: a Pentium Pro (i686, with cmov and fcomi), which every
# machine that holds a drive of 2008 has passed; the tool chain's runtime is
# built for it too.
set(CMAKE_C_FLAGS_INIT "-march=pentiumpro -mtune=generic")
set(CMAKE_CXX_FLAGS_INIT "-march=pentiumpro -mtune=generic")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
