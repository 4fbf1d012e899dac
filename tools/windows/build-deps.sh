#!/bin/bash
# Builds the engine's dependencies for 64-bit Windows (x86_64-w64-mingw32) as static libraries from
# Debian's source packages, at the versions pinned below, into PREFIX (default build-windows/deps).
# A dependency whose stamp (name + version) is present is skipped, so a second run costs seconds.
#   tools/windows/build-deps.sh [PREFIX]
# Needs: g++-mingw-w64-x86-64-posix, libz-mingw-w64-dev, libasio-dev, nlohmann-json3-dev, dpkg-dev,
# cmake, make, m4, autoconf, automake, libtool, pkg-config and a
# deb-src entry for bookworm main (added here when missing, as root).
set -euo pipefail
shopt -s inherit_errexit

root=$(cd "$(dirname "$0")/../.." && pwd)
prefix=$(realpath -m "${1:-$root/build-windows/deps}")
work="$prefix-src"
host=x86_64-w64-mingw32
jobs=${QIVRO_JOBS:-2}
mkdir -p "$prefix/lib/pkgconfig" "$prefix/include" "$work"

# Debian's versions (bookworm main). Changing one rebuilds it and everything after it, so the
# independent ones come first.
pins=(
    "openssl 3.0.20-1~deb12u2"
    "libsodium 1.0.18-1+deb12u1"
    "nghttp2 1.52.0-1+deb12u3"
    "nghttp3 0.8.0-2"
    "brotli 1.0.9-2"
    "gmp 2:6.2.1+dfsg1-1.1"
    "nettle 3.8.1-2"
    "libtasn1-6 4.19.0-2+deb12u1"
    "gnutls28 3.7.9-2+deb12u7"
    "ngtcp2 0.12.1+dfsg-1+deb12u1"
)
only=${QIVRO_DEPS_ONLY:-}

export CC="$host-gcc-posix" CXX="$host-g++-posix" AR="$host-ar" RANLIB="$host-ranlib" RC="$host-windres"
export PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH=""
# Built as DLLs' sources unless told otherwise, these libraries would mark their API for export and
# leak it from qivroengine.dll.
export CPPFLAGS="-I$prefix/include -DNGHTTP2_STATICLIB -DNGHTTP3_STATICLIB -DNGTCP2_STATICLIB"
export LDFLAGS="-L$prefix/lib" CFLAGS="-O2"
common=(--host="$host" --prefix="$prefix" --disable-shared --enable-static)

ensure_deb_src() {
    if apt-get source --download-only --print-uris openssl >/dev/null 2>&1; then
        return
    fi
    local sources=/etc/apt/sources.list.d/debian.sources
    if [ -w "$sources" ] && grep -q '^Types: deb$' "$sources"; then
        sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
    else
        echo "deb-src http://deb.debian.org/debian bookworm main" \
            >/etc/apt/sources.list.d/qivro-deb-src.list
    fi
    apt-get update -qq
}

# Unpacks the pinned source package (with Debian's patches) into $work/<name>-<version>.
unpack() {
    local name=$1 version=$2 dir="$work/$1-$2"
    rm -rf "$dir"
    mkdir -p "$work/dl"
    # By release, not by version: for a version, apt may pick an archive that no longer has it.
    (cd "$work/dl" && apt-get source -qq --download-only "$name/bookworm" 2>/dev/null)
    local dsc="$work/dl/${name}_${version#*:}.dsc"
    if [ ! -f "$dsc" ]; then
        echo "$name: bookworm no longer ships $version; update the pin in $0" >&2
        return 1
    fi
    dpkg-source --no-check -x "$dsc" "$dir" >/dev/null
    echo "$dir"
}

build_one() {
    local name=$1 dir=$2
    cd "$dir"
    case $name in
    openssl | brotli) ;;
    # Debian's tarball lacks the manual; its patch drops doc/ from configure.ac, which takes effect
    # only through autoreconf, as in Debian's own build.
    gmp) nice -n 19 autoreconf -fi >/dev/null ;;
    *) autoreconf_if_needed ;; # some of Debian's upstream tarballs come without configure
    esac
    case $name in
    gmp)
        nice -n 19 ./configure "${common[@]}" --enable-cxx=no
        nice -n 19 make -j"$jobs"
        make install ;;
    nettle)
        nice -n 19 ./configure "${common[@]}" --disable-documentation --disable-openssl \
            --libdir="$prefix/lib"
        nice -n 19 make -j"$jobs"
        make install ;;
    libtasn1-6)
        nice -n 19 ./configure "${common[@]}" --disable-doc --disable-valgrind-tests
        nice -n 19 make -j"$jobs" -C lib
        make -C lib install ;; # lib/ installs libtasn1.pc too
    gnutls28)
        nice -n 19 ./configure "${common[@]}" --with-included-unistring --without-p11-kit \
            --disable-doc --disable-tools --disable-tests --disable-cxx --disable-nls \
            --without-idn --without-tpm --without-tpm2 --without-zlib --without-brotli \
            --without-zstd --disable-guile --disable-libdane --disable-full-test-suite
        nice -n 19 make -j"$jobs" -C gl
        nice -n 19 make -j"$jobs" -C lib
        make -C lib install
        ;;
    openssl)
        nice -n 19 ./Configure mingw64 no-shared no-tests no-module --cross-compile-prefix= \
            --prefix="$prefix" --libdir=lib
        nice -n 19 make -j"$jobs" build_libs
        make install_dev ;;
    libsodium)
        nice -n 19 ./configure "${common[@]}"
        nice -n 19 make -j"$jobs" -C src
        make -C src install
        cp libsodium.pc "$prefix/lib/pkgconfig/" ;;
    nghttp2 | nghttp3)
        # MinGW has clock_gettime, and with it nghttp2 1.52 leaves its fallback undefined;
        # GetTickCount64 is the clock it means for Windows.
        nice -n 19 ./configure "${common[@]}" --enable-lib-only ac_cv_func_clock_gettime=no
        nice -n 19 make -j"$jobs" -C lib
        make -C lib install ;;
    ngtcp2)
        nice -n 19 ./configure "${common[@]}" --enable-lib-only --with-gnutls --without-openssl \
            --without-boringssl --without-picotls --without-wolfssl
        nice -n 19 make -j"$jobs" -C lib
        nice -n 19 make -j"$jobs" -C crypto
        make -C lib install
        make -C crypto install ;;
    brotli)
        cmake -S . -B build -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER="$CC" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF \
            -DBROTLI_DISABLE_TESTS=ON
        nice -n 19 cmake --build build -j"$jobs" --target brotlidec-static
        install_brotli ;;
    esac
}

autoreconf_if_needed() {
    [ -x configure ] || nice -n 19 autoreconf -fi >/dev/null
}

# brotli 1.0.9 installs its static libraries under other names and without a .pc that finds them.
install_brotli() {
    cp build/libbrotlicommon-static.a "$prefix/lib/libbrotlicommon.a"
    cp build/libbrotlidec-static.a "$prefix/lib/libbrotlidec.a"
    mkdir -p "$prefix/include/brotli"
    cp c/include/brotli/*.h "$prefix/include/brotli/"
    cat >"$prefix/lib/pkgconfig/libbrotlidec.pc" <<EOF
prefix=$prefix
Name: libbrotlidec
Description: Brotli decoder library
Version: 1.0.9
Libs: -L\${prefix}/lib -lbrotlidec -lbrotlicommon
Cflags: -I\${prefix}/include
EOF
}

# Header-only libraries are target-neutral: the host's copies, beside the cross-built ones, so the
# cross build never sees the host's /usr/include.
mkdir -p "$prefix/share/cmake"
cp -a /usr/include/asio /usr/include/asio.hpp /usr/include/nlohmann "$prefix/include/"
cp -a /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"

ensure_deb_src
rebuild=0
for pin in "${pins[@]}"; do
    name=${pin%% *}
    version=${pin#* }
    stamp="$prefix/.stamp-$name-${version//[:~+]/_}"
    if [ -n "$only" ] && [[ " $only " != *" $name "* ]]; then
        continue
    fi
    if [ -f "$stamp" ] && [ $rebuild = 0 ]; then
        echo "== $name $version: cached"
        continue
    fi
    rebuild=1
    rm -f "$prefix/.stamp-$name-"*
    start=$(date +%s)
    echo "== $name $version: building"
    dir=$(unpack "$name" "$version")
    # Not tested with || : that would switch errexit off inside the build.
    set +e
    (
        set -e
        build_one "$name" "$dir"
    ) >"$work/$name.log" 2>&1
    status=$?
    set -e
    if [ $status != 0 ]; then
        echo "$name failed; see $work/$name.log" >&2
        tail -20 "$work/$name.log" >&2
        exit 1
    fi
    touch "$stamp"
    echo "== $name $version: built in $(($(date +%s) - start)) s" | tee -a "$prefix/build-times.log"
done
