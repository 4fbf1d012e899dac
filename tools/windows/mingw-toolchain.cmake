# Cross build of the engine for 64-bit Windows with Debian's MinGW-w64 (posix thread model, which
# std::thread needs). Dependencies come from QIVRO_WINDOWS_DEPS (tools/windows/build-deps.sh),
# zlib from libz-mingw-w64-dev.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT QIVRO_WINDOWS_DEPS)
    set(QIVRO_WINDOWS_DEPS "${CMAKE_BINARY_DIR}/deps")
endif()
# Try-compile projects get their own binary dir: hand the prefix down.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QIVRO_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH "${QIVRO_WINDOWS_DEPS}" /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# build-deps.sh copies the host's header-only asio and nlohmann-json into the prefix: the host's
# /usr/include itself must never be on the cross compiler's path.
set(QIVRO_ASIO_INCLUDE_DIR "${QIVRO_WINDOWS_DEPS}/include" CACHE PATH "")
set(OPENSSL_ROOT_DIR "${QIVRO_WINDOWS_DEPS}")
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(ZLIB_USE_STATIC_LIBS ON) # libz-mingw-w64-dev has an import library too

# Static archives only: pkg-config must report their private dependencies too.
set(ENV{PKG_CONFIG_LIBDIR} "${QIVRO_WINDOWS_DEPS}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(PKG_CONFIG_ARGN --static)

# One self-contained DLL and runner: no libstdc++, libgcc or winpthread DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
