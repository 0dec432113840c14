#!/usr/bin/env bash
# Builds the third-party libraries Quillmark links statically, for one Windows
# target, from Debian's own source packages:
#   libcurl (Schannel TLS, zlib), minizip, TinyXML, GoogleTest, and
#   winpthreads (from mingw-w64) for both bitnesses.
# zlib itself comes ready-made from libz-mingw-w64-dev.
#
# The programs must load on Windows XP SP3 (x86) and XP x64 / Server 2003
# (x64), so everything that goes into them is compiled for those: mingw-w64's
# headers otherwise assume Windows 10, and libcurl and winpthreads then import
# functions that first came with Vista (SRW locks, InitializeCriticalSectionEx,
# inet_pton, BCryptGenRandom, GetTickCount64). At the XP level they take their
# older paths (CryptGenRandom, their own inet_pton, QueryPerformanceCounter).
#
# usage: scripts/build-deps.sh x86_64|i686
# prints the folder that holds include/ and lib/ for that target.
#
# The result lives in a cache outside the work tree and is reused while the
# source versions and this script stay the same.
set -euo pipefail

arch=${1:?usage: build-deps.sh x86_64|i686}
case "$arch" in x86_64|i686) ;; *) echo "unknown target $arch" >&2; exit 2 ;; esac
triple=$arch-w64-mingw32
winnt_of() { case "$1" in i686) echo 0x0501 ;; x86_64) echo 0x0502 ;; esac; }
winnt=$(winnt_of "$arch")
here=$(cd "$(dirname "$0")" && pwd)
cache=${QUILLMARK_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quillmark-deps}
jobs=$(nproc)

log() { echo "[deps $arch] $*" >&2; }

# The versions Debian serves now; the mirror keeps only the current ones, so the
# key records what was actually used.
versions=""
for pkg in curl minizip tinyxml mingw-w64; do
    v=$(apt-cache showsrc "$pkg" 2>/dev/null | awk '/^Version:/ {print $2; exit}')
    [ -n "$v" ] || { echo "no source package $pkg (is deb-src enabled? run scripts/setup-host.sh)" >&2; exit 1; }
    versions="$versions $pkg=$v"
done
gtest_v=$(dpkg-query -W -f '${Version}' googletest)
versions="$versions googletest=$gtest_v"
key=$( (echo "$versions"; cat "$0" "$here/../cmake/mingw-$arch.cmake" "$here/../cmake/mingw-common.cmake") | sha256sum | cut -c1-16)
prefix=$cache/$arch-$key

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

# One build at a time per cache: a second caller waits, then finds it done.
mkdir -p "$cache"
exec 9>"$cache/.lock-$arch"
flock 9
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

log "building into $prefix ($versions )"
src=$cache/src
mkdir -p "$src"
work=$(mktemp -d "$cache/work-$arch.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix/include" "$prefix/lib"

# Fetch each source package once (all targets share them).
fetch() {
    local pkg=$1 ver=$2 dir
    dir=$src/$pkg-$ver
    if [ ! -f "$dir/.unpacked" ]; then
        rm -rf "$dir"; mkdir -p "$dir"
        (cd "$dir" && apt-get source -q "$pkg=$ver" >/dev/null 2>&1) \
            || { echo "apt-get source $pkg=$ver failed" >&2; exit 1; }
        touch "$dir/.unpacked"
    fi
    find "$dir" -mindepth 1 -maxdepth 1 -type d | head -n 1
}
ver_of() { tr ' ' '\n' <<<"$versions" | awk -F= -v p="$1" '$1 == p {print $2}'; }

toolchain=$here/../cmake/mingw-$arch.cmake
zlib_lib=/usr/$triple/lib/libz.a
zlib_inc=/usr/$triple/include
cc=$triple-gcc-posix
ar=$triple-ar

# libcurl: static, Schannel, zlib, HTTP/HTTPS/FTP only.
curl_src=$(fetch curl "$(ver_of curl)")
log "libcurl from $curl_src"
cmake -S "$curl_src" -B "$work/curl" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
    -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBSSH=OFF -DCURL_USE_GSSAPI=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DCURL_DISABLE_TELNET=ON \
    -DCURL_DISABLE_DICT=ON -DCURL_DISABLE_FILE=ON -DCURL_DISABLE_TFTP=ON \
    -DCURL_DISABLE_RTSP=ON -DCURL_DISABLE_POP3=ON -DCURL_DISABLE_IMAP=ON \
    -DCURL_DISABLE_SMTP=ON -DCURL_DISABLE_GOPHER=ON -DCURL_DISABLE_MQTT=ON \
    -DCURL_DISABLE_SMB=ON -DENABLE_MANUAL=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none \
    -DCURL_ZLIB=ON -DZLIB_LIBRARY="$zlib_lib" -DZLIB_INCLUDE_DIR="$zlib_inc" \
    -DCURL_TARGET_WINDOWS_VERSION="$winnt" \
    >"$work/curl.log" 2>&1 || { tail -n 40 "$work/curl.log" >&2; exit 1; }
cmake --build "$work/curl" -j "$jobs" >>"$work/curl.log" 2>&1 \
    && cmake --install "$work/curl" >>"$work/curl.log" 2>&1 \
    || { tail -n 40 "$work/curl.log" >&2; exit 1; }

# minizip: no build system of its own; four files make the library.
mz_src=$(fetch minizip "$(ver_of minizip)")
log "minizip from $mz_src"
mz=$(dirname "$(find "$mz_src" -name unzip.c | head -n 1)")
mkdir -p "$work/mz" "$prefix/include/minizip"
for f in ioapi iowin32 unzip zip; do
    $cc -O2 -D_WIN32_WINNT="$winnt" -c "$mz/$f.c" -I"$zlib_inc" -o "$work/mz/$f.o"
done
$ar rcs "$prefix/lib/libminizip.a" "$work"/mz/*.o
cp "$mz"/ioapi.h "$mz"/iowin32.h "$mz"/unzip.h "$mz"/zip.h "$prefix/include/minizip/"
[ -f "$mz/crypt.h" ] && cp "$mz/crypt.h" "$prefix/include/minizip/"

# TinyXML 2.6 with STL support, as Debian builds it.
tx_src=$(fetch tinyxml "$(ver_of tinyxml)")
log "TinyXML from $tx_src"
mkdir -p "$work/tx"
for f in tinyxml tinystr tinyxmlerror tinyxmlparser; do
    $triple-g++-posix -O2 -D_WIN32_WINNT="$winnt" -DTIXML_USE_STL -c "$tx_src/$f.cpp" -o "$work/tx/$f.o"
done
$ar rcs "$prefix/lib/libtinyxml.a" "$work"/tx/*.o
cp "$tx_src/tinyxml.h" "$tx_src/tinystr.h" "$prefix/include/"

# winpthreads, the POSIX threads under libstdc++'s std::thread and std::mutex:
# the compilers link `-lpthread` into every program, and the copy Debian ships
# (built for Vista and later) imports GetTickCount64. Built here from Debian's
# mingw-w64 source at the XP level, it uses QueryPerformanceCounter instead. One
# copy per bitness, as each tree also builds the other bitness's DPInst; the
# programs put winpthreads/<arch>/lib first in the linker's search path, so
# that `-lpthread` finds this copy (CMakeLists.txt, src/dpinst/CMakeLists.txt).
# (A stand-in for GetTickCount64 alone would have worked too, but this keeps
# the library exactly as its authors build it for XP.)
# The library's own build (autotools, libtool) adds nothing a static library
# needs: its sources are compiled with the flags of its Makefile.am.
wp_src=$(fetch mingw-w64 "$(ver_of mingw-w64)")/mingw-w64-libraries/winpthreads
log "winpthreads from $wp_src"
for wp_arch in i686 x86_64; do
    out=$prefix/winpthreads/$wp_arch/lib
    mkdir -p "$work/wp-$wp_arch" "$out"
    for f in "$wp_src"/src/*.c; do
        $wp_arch-w64-mingw32-gcc-posix -O2 -Wall -DWIN32_LEAN_AND_MEAN -DIN_WINPTHREAD \
            -DWINPTHREAD_DBG=1 -D__USE_MINGW_ANSI_STDIO=0 -D_WIN32_WINNT="$(winnt_of $wp_arch)" \
            -I"$wp_src/include" -c "$f" -o "$work/wp-$wp_arch/$(basename "$f" .c).o" \
            2>>"$work/winpthreads.log" || { tail -n 40 "$work/winpthreads.log" >&2; exit 1; }
    done
    $wp_arch-w64-mingw32-ar rcs "$out/libwinpthread.a" "$work/wp-$wp_arch"/*.o
    cp "$out/libwinpthread.a" "$out/libpthread.a"
done

# GoogleTest and GoogleMock from Debian's googletest package sources.
log "GoogleTest $gtest_v"
cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF \
    >"$work/gtest.log" 2>&1 \
    && cmake --build "$work/gtest" -j "$jobs" >>"$work/gtest.log" 2>&1 \
    && cmake --install "$work/gtest" >>"$work/gtest.log" 2>&1 \
    || { tail -n 40 "$work/gtest.log" >&2; exit 1; }

echo "$versions" >"$prefix/VERSIONS"
touch "$prefix/.complete"
# Older builds for this target are of no more use.
find "$cache" -mindepth 1 -maxdepth 1 -type d -name "$arch-*" ! -path "$prefix" -exec rm -rf {} +
log "done"
echo "$prefix"
