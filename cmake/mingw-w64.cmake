# Cross-builds tarsel.dll for Windows x64 with mingw-w64 on Debian, and runs the
# test programs under Wine. Use it through scripts/windows/test.sh, or:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DTARSEL_FFMPEG_PREFIX=$(scripts/windows/build-ffmpeg.sh | tail -1)
# TARSEL_FFMPEG_PREFIX is the install prefix of FFmpeg built for Windows (its
# lib/pkgconfig, lib/*.dll.a and bin/*.dll).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARSEL_MINGW_TRIPLE x86_64-w64-mingw32)

# The -posix compilers: the -win32 ones have no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${TARSEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARSEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARSEL_MINGW_TRIPLE}-windres)

# The FFmpeg prefix is kept for try_compile projects too, which read the
# toolchain file again.
if(NOT TARSEL_FFMPEG_PREFIX AND DEFINED ENV{TARSEL_FFMPEG_PREFIX})
  set(TARSEL_FFMPEG_PREFIX $ENV{TARSEL_FFMPEG_PREFIX})
endif()
set(TARSEL_FFMPEG_PREFIX "${TARSEL_FFMPEG_PREFIX}" CACHE PATH "FFmpeg built for Windows x64")
if(NOT TARSEL_FFMPEG_PREFIX OR NOT EXISTS ${TARSEL_FFMPEG_PREFIX}/lib/pkgconfig/libavcodec.pc)
  message(FATAL_ERROR "TARSEL_FFMPEG_PREFIX must name FFmpeg built for Windows "
                      "(scripts/windows/build-ffmpeg.sh prints it); got '${TARSEL_FFMPEG_PREFIX}'")
endif()
set(ENV{TARSEL_FFMPEG_PREFIX} ${TARSEL_FFMPEG_PREFIX})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TARSEL_FFMPEG_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${TARSEL_MINGW_TRIPLE} ${TARSEL_FFMPEG_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the Windows FFmpeg, never the Linux one.
set(ENV{PKG_CONFIG_LIBDIR} ${TARSEL_FFMPEG_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The C++ runtime, libgcc and winpthread are linked in, so tarsel.dll and the
# test programs import only system DLLs and FFmpeg's. tarsel.dll takes
# winpthread without its version resource, which would stand for its own
# (cmake/windows.cmake).
set(tarsel_static_runtime "-static-libgcc -static-libstdc++")
set(tarsel_static_threads "-Wl,-Bstatic,--whole-archive -lwinpthread -Wl,--no-whole-archive,-Bdynamic")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${tarsel_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${tarsel_static_runtime} ${tarsel_static_threads}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${tarsel_static_runtime} ${tarsel_static_threads}")

# Test programs run under Wine, in a Wine prefix of the build folder, finding
# tarsel.dll and FFmpeg's DLLs through WINEPATH. The runner explains a DLL that
# cannot be found.
get_filename_component(tarsel_wine_run ${CMAKE_CURRENT_LIST_DIR}/../scripts/windows/wine-run.sh
                       ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${tarsel_wine_run}
    ${CMAKE_BINARY_DIR}/wine
    ${CMAKE_BINARY_DIR}/src
    ${TARSEL_FFMPEG_PREFIX}/bin
    --)
