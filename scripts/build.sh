#!/usr/bin/env bash
# Builds Quillmark for Windows x64 (build/x64) and x86 (build/x86): installs
# the tools when missing, builds the third-party libraries into their cache,
# then configures and builds both trees. Each tree's program/ folder holds
# quillmark.exe and its companion files as a user gets them.
#   scripts/build.sh        both trees
#   scripts/build.sh x64    only the one named (x64 or x86)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup-host.sh"
for t in x64:x86_64 x86:i686; do
    tree=${t%%:*} arch=${t##*:}
    if [ $# -gt 0 ] && [ "$1" != "$tree" ]; then continue; fi
    deps=$("$root/scripts/build-deps.sh" "$arch")
    dir=$root/build/$tree
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S "$root" -B "$dir" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
            -DQM_DEPS_DIR="$deps" -DQM_WINEPREFIX="$root/build/wineprefix" >/dev/null
    else
        cmake "$dir" -DQM_DEPS_DIR="$deps" >/dev/null
    fi
    echo "[build] $tree" >&2
    cmake --build "$dir" -j "$(nproc)"
done
# With both trees built: the setup program (setup/).
[ $# -gt 0 ] || "$root/setup/make-setup.sh"
