# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix, GCC 12).
# The posix flavour is the one with std::thread and std::mutex. The runtime is linked
# statically, so an .exe needs only the DLLs every Windows has (KERNEL32, WS2_32, IPHLPAPI,
# USER32, msvcrt): nothing to ship beside it, and no stray libstdc++ DLL found on PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine, each in a network namespace of its own with only loopback (a Windows
# program that binds port 67 or broadcasts by mistake reaches no network); the prefix comes
# from the test's environment (see tests/win32).
find_program(TORVANE_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/isolated.sh ${TORVANE_WINE})
