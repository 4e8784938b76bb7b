#!/usr/bin/env bash
# Cross-builds the Windows programs' libraries (opus, SDL2, a minimal FFmpeg)
# from Debian's own source packages with mingw-w64, as static libraries, into
# a cache outside the clone. The cache folder is named after a hash of the
# recipe (this script from its "recipe" line on, and the compiler's version),
# so a second run (or CI on the same machine) finds it at once and a changed
# recipe builds anew beside the old one.
#
#   scripts/windows_deps.sh            build what is missing, print the prefix
#   scripts/windows_deps.sh --prefix   print the prefix only (built or not)
#
# $TALVEK_WINDOWS_DEPS_CACHE overrides the cache root
# (default ~/.cache/talvek-windows-deps); $JOBS the parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

triple=x86_64-w64-mingw32
cc=$triple-gcc-posix
cxx=$triple-g++-posix
jobs=${JOBS:-2}
cache_root=${TALVEK_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/talvek-windows-deps}

recipe_hash() {
    {
        sed -n '/^# ---- recipe/,$p' "$root/scripts/windows_deps.sh"
        "$cc" --version 2>/dev/null | head -n 1
    } | sha256sum | cut -c1-16
}

if ! command -v "$cc" >/dev/null; then
    echo "[windows-deps] $cc is missing: run scripts/setup.sh --packages-only" >&2
    exit 1
fi
prefix=$cache_root/$(recipe_hash)
if [ "${1:-}" = --prefix ]; then
    echo "$prefix"
    exit 0
fi

mkdir -p "$cache_root"
# One builder at a time per cache; a second waits and then finds it done.
exec 9>"$cache_root/lock"
flock 9
if [ -f "$prefix/complete" ]; then
    echo "$prefix"
    exit 0
fi

for tool in nasm dpkg-source make cmake ninja pkg-config; do
    command -v "$tool" >/dev/null || {
        echo "[windows-deps] $tool is missing: run scripts/setup.sh --packages-only" >&2
        exit 1
    }
done

# ---- recipe: everything from here on decides what is built.
work=$prefix.work
rm -rf "$prefix" "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/apt/sources.list.d" \
    "$work/src" "$prefix"
log() { echo "[windows-deps] $*" >&2; }
step_start=0
step() { step_start=$(date +%s); log "$*"; }
step_done() { log "$1 done in $(($(date +%s) - step_start)) s"; }

# --- Sources: the machine's own Debian archive entries, as deb-src, in an apt
# state of our own, so neither the system's lists nor its lock are touched.
step "fetching the source packages"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -qi debian "$f" || continue
    case $f in
    *.sources) sed -E 's/^Types:.*/Types: deb-src/' "$f" ;;
    *) sed -nE 's/^deb(\s)/deb-src\1/p' "$f" ;;
    esac >"$work/apt/sources.list.d/$(basename "$f" | sed 's/\.list$/-src.list/; s/\.sources$/-src.sources/')"
done
apt_opts=(
    -o Dir::Etc::SourceList=/dev/null
    -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
    -o Dir::State::Lists="$work/apt/lists"
    -o Dir::Cache="$work/apt/cache"
    -o APT::Sandbox::User=root
)
apt-get "${apt_opts[@]}" -qq update
(cd "$work/src" && apt-get "${apt_opts[@]}" -qq source opus libsdl2 ffmpeg >/dev/null)
src_dir() { find "$work/src" -maxdepth 1 -mindepth 1 -type d -name "$1-*" | head -n 1; }
opus_src=$(src_dir opus)
sdl_src=$(src_dir libsdl2)
ffmpeg_src=$(src_dir ffmpeg)
for d in "$opus_src" "$sdl_src" "$ffmpeg_src"; do
    [ -d "$d" ] || { log "a source package did not unpack under $work/src"; exit 1; }
done
step_done "sources ($(basename "$opus_src"), $(basename "$sdl_src"), $(basename "$ffmpeg_src"))"

# --- Opus. Its configure adds -D_FORTIFY_SOURCE=2, whose checked functions
# need libssp at link time; the programs link without it.
step "building opus"
mkdir -p "$work/opus" && cd "$work/opus"
"$opus_src/configure" --host=$triple --prefix="$prefix" CC="$cc" \
    CFLAGS="-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=0" \
    --enable-static --disable-shared --disable-doc --disable-extra-programs \
    --disable-stack-protector >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
make -j"$jobs" >build.log 2>&1 || { tail -n 30 build.log >&2; exit 1; }
make install >/dev/null
step_done "opus"

# --- SDL2: video, rendering, events, audio, timers and threads. Joysticks,
# haptics and sensors are left out: neither program opens them.
step "building SDL2"
cmake -S "$sdl_src" -B "$work/sdl2" -G Ninja \
    -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64 \
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_RC_COMPILER=$triple-windres \
    -DCMAKE_FIND_ROOT_PATH=/usr/$triple -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER \
    -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
    -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF \
    >"$work/sdl2-configure.log" 2>&1 || { tail -n 30 "$work/sdl2-configure.log" >&2; exit 1; }
cmake --build "$work/sdl2" -j "$jobs" >"$work/sdl2-build.log" 2>&1 ||
    { tail -n 30 "$work/sdl2-build.log" >&2; exit 1; }
cmake --install "$work/sdl2" >/dev/null
step_done "SDL2"

# --- FFmpeg, LGPL only: the VP8 and H.264 decoders and parsers, libswscale,
# Windows threads (which --disable-autodetect would otherwise leave off) and
# nasm for the assembly paths.
step "building FFmpeg"
mkdir -p "$work/ffmpeg" && cd "$work/ffmpeg"
"$ffmpeg_src/configure" --prefix="$prefix" \
    --target-os=mingw32 --arch=x86_64 --cross-prefix=$triple- --cc="$cc" --cxx="$cxx" \
    --pkg-config=pkg-config --pkg-config-flags=--static \
    --enable-static --disable-shared --disable-autodetect --disable-everything \
    --disable-programs --disable-doc --disable-network --disable-debug \
    --disable-avdevice --disable-avformat --disable-avfilter --disable-swresample \
    --disable-postproc \
    --enable-avcodec --enable-avutil --enable-swscale \
    --enable-decoder=vp8,h264 --enable-parser=vp8,h264 \
    --enable-w32threads --enable-x86asm --x86asmexe=nasm \
    >configure.log 2>&1 || { tail -n 30 configure.log >&2; exit 1; }
make -j"$jobs" >build.log 2>&1 || { tail -n 30 build.log >&2; exit 1; }
make install >/dev/null
step_done "FFmpeg"

# The licence texts the package ships beside the programs.
mkdir -p "$prefix/licenses/opus" "$prefix/licenses/SDL2" "$prefix/licenses/FFmpeg"
cp "$opus_src/COPYING" "$prefix/licenses/opus/"
cp "$sdl_src/LICENSE.txt" "$prefix/licenses/SDL2/"
cp "$ffmpeg_src/COPYING.LGPLv2.1" "$ffmpeg_src/LICENSE.md" "$prefix/licenses/FFmpeg/"
{
    echo "opus $(basename "$opus_src")"
    echo "SDL2 $(basename "$sdl_src")"
    echo "FFmpeg $(basename "$ffmpeg_src")"
} >"$prefix/versions.txt"
# Kept: the FFmpeg configuration, for the package's relinking note.
cp "$work/ffmpeg/configure.log" "$prefix/ffmpeg-configure.log"

cd "$root"
rm -rf "$work"
touch "$prefix/complete"
echo "$prefix"
