# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the POSIX thread model, which
# std::thread and std::mutex need). Used by `make windows`:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The tests run under wine when it is installed (CMAKE_CROSSCOMPILING_EMULATOR), each in the wine
# prefix of the build folder, so that nothing of the user's own wine set-up is touched.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTREL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${OSTREL_MINGW_PREFIX}-g++-posix ${OSTREL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${OSTREL_MINGW_PREFIX}-gcc-posix ${OSTREL_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${OSTREL_MINGW_PREFIX}-windres)
set(CMAKE_AR ${OSTREL_MINGW_PREFIX}-ar CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${OSTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config answers for the target only: the host's libsndfile, GStreamer or VLC are no use to
# a Windows program, and the cross toolchain has none of them, so those parts say they are off.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${OSTREL_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The programs and the DLL carry the C++ runtime, libgcc and winpthread inside, so that they run
# without any DLL beside them; the release build leaves out the symbol tables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")

find_program(OSTREL_WINE NAMES wine wine64)
if(OSTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all ${OSTREL_WINE})
endif()
