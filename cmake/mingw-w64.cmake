# Cross build for 64-bit Windows with MinGW-w64 (the posix-thread variant,
# whose libstdc++ has std::thread). Everything is linked statically so the
# .exe files run under wine or on Windows without MinGW's DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALVEK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALVEK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALVEK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALVEK_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot only, never the host's,
# and from any folder of Windows libraries given with -DCMAKE_FIND_ROOT_PATH
# (scripts/windows_build.sh passes its dependency cache).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TALVEK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets ctest run the .exe files directly when wine is installed.
find_program(TALVEK_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TALVEK_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVEK_WINE64})
endif()
