# Cross build of the Windows program: 64-bit Windows, mingw-w64 (Debian's
# g++-mingw-w64-x86-64). The "posix" thread-model compilers are used because
# the portable core relies on std::thread, std::mutex and
# std::condition_variable, which the "win32" thread model of GCC 12 lacks.
# Everything is linked statically so that the .exe runs without the
# compiler's DLLs next to it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MFU_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MFU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MFU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MFU_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MFU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools are run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
