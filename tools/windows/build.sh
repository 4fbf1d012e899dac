#!/bin/bash
# The engine for 64-bit Windows: dependencies (build-deps.sh, cached), then qivroengine.dll,
# qivro-engine.exe and the test host program qivro-enginehost.exe in OUT/bin.
#   tools/windows/build.sh [OUT]         (default build-windows)
# QIVRO_WINDOWS_QUIC=OFF builds without the QUIC stack (Hysteria 2 then fails with an error).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(realpath -m "${1:-$root/build-windows}")
quic=${QIVRO_WINDOWS_QUIC:-ON}
if [ "$quic" = OFF ]; then
    export QIVRO_DEPS_ONLY="openssl nghttp2 brotli"
fi

start=$(date +%s)
"$root/tools/windows/build-deps.sh" "$out/deps"
echo "== dependencies ready in $(($(date +%s) - start)) s"

start=$(date +%s)
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/tools/windows/mingw-toolchain.cmake" \
    -DQIVRO_WINDOWS_DEPS="$out/deps" -DQIVRO_BUILD_CLIENT=OFF -DQIVRO_BUILD_BENCHMARKS=OFF \
    -DQIVRO_WERROR=ON -DQIVRO_ENGINE_QUIC="$quic" >/dev/null
nice -n 19 cmake --build "$out" -j2 --target qivroengine qivro-engine qivro-enginehost
echo "== engine built in $(($(date +%s) - start)) s"

# The client resolves exactly these two names; anything else exported is a leak of internals.
exports=$(x86_64-w64-mingw32-objdump -p "$out/bin/qivroengine.dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && NR > 1 {print $NF}' | sort |
    tr '\n' ' ')
if [ "$exports" != "start stop " ]; then
    echo "qivroengine.dll exports '$exports', expected exactly start and stop" >&2
    exit 1
fi
echo "== qivroengine.dll exports: $exports"
