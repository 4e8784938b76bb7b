#!/usr/bin/env bash
# Builds player.exe and preview.exe for 64-bit Windows with mingw-w64, on
# the libraries scripts/windows_deps.sh cross-builds (once; they are cached),
# and leaves them, stripped, in OUT_DIR.
#
#   scripts/windows_build.sh [--package] [OUT_DIR]    (default build-windows)
#
# --package also writes OUT_DIR/talvek-<version>-windows-x64.zip: the two
# programs, the host guide, the licence texts and the relinking kit.
# The CMake build tree is OUT_DIR/build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

package=0
out_dir=build-windows
for arg in "$@"; do
    case $arg in
    --package) package=1 ;;
    -*) echo "usage: scripts/windows_build.sh [--package] [OUT_DIR]" >&2; exit 2 ;;
    *) out_dir=$arg ;;
    esac
done
case $out_dir in /*) ;; *) out_dir=$root/$out_dir ;; esac
build_dir=$out_dir/build
triple=x86_64-w64-mingw32
jobs=${JOBS:-2}

scripts/setup.sh --packages-only
deps_start=$(date +%s)
prefix=$(scripts/windows_deps.sh | tail -n 1)
echo "[windows] libraries in $prefix ($(($(date +%s) - deps_start)) s)"

# pkg-config reads only the cached Windows libraries' files, never the host's.
export PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig
export PKG_CONFIG_PATH=
build_start=$(date +%s)
# The configure cache holds the libraries' paths: a new recipe's folder
# means configuring afresh.
if [ "$(cat "$build_dir/deps-prefix" 2>/dev/null)" != "$prefix" ]; then
    rm -f "$build_dir/CMakeCache.txt"
    mkdir -p "$build_dir"
    echo "$prefix" >"$build_dir/deps-prefix"
fi
cmake -S "$root" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_FIND_ROOT_PATH="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DTALVEK_BUILD_TESTS=OFF -DTALVEK_BUILD_BENCH=OFF -DTALVEK_BUILD_TOOLS=OFF \
    -DTALVEK_BUILD_DECODE_BENCH=ON \
    -DTALVEK_THIRD_PARTY_LICENSES="$build_dir/third-party" >/dev/null
cmake --build "$build_dir" -j "$jobs" --target player preview
for exe in player preview; do
    $triple-strip -o "$out_dir/$exe.exe" "$build_dir/$exe/$exe.exe"
done
echo "[windows] built in $(($(date +%s) - build_start)) s:" \
    "$(stat -c '%n %s bytes' "$out_dir/player.exe" "$out_dir/preview.exe" | tr '\n' ' ')"

# Only system DLLs may be imported: a MinGW or library DLL would be missing
# on the user's machine.
for exe in player preview; do
    imports=$($triple-objdump -p "$out_dir/$exe.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
    for dll in $imports; do
        case $dll in
        kernel32.dll | user32.dll | gdi32.dll | winmm.dll | imm32.dll | ole32.dll | oleaut32.dll | \
            version.dll | advapi32.dll | setupapi.dll | shell32.dll | ws2_32.dll | bcrypt.dll | \
            msvcrt.dll | api-ms-win-*.dll) ;;
        *)
            echo "[windows] $exe.exe imports $dll, which is not a system DLL" >&2
            exit 1
            ;;
        esac
    done
    echo "[windows] $exe.exe imports:" $imports
done

# What the package adds beside the programs: the libraries' licence texts,
# versions and FFmpeg's configuration, and the kit that relinks player.exe
# against another FFmpeg (packaging/LICENSES.txt).
make_relink_kit() {
    local kit=$build_dir/relink
    rm -rf "$kit" && mkdir -p "$kit"
    local command words=() word
    command=$(ninja -C "$build_dir" -t commands player/player.exe | tail -n 1)
    read -ra words <<<"${command#*&& }"
    local out=()
    for word in "${words[@]}"; do
        case $word in
        -Wl,--out-implib,*) continue ;;
        "&&") break ;;  # ninja's own tail after the link
        "$prefix"/*) out+=("\"\$DEPS${word#"$prefix"}\"") ;;
        # MinGW's own libraries by name, wherever that MinGW keeps them.
        /*/lib/lib*.a) word=${word##*/lib}; out+=("-l${word%.a}") ;;
        */$triple-g++-posix) out+=("$triple-g++-posix") ;;
        *.obj | *.a)
            if [ -f "$build_dir/$word" ]; then
                cp "$build_dir/$word" "$kit/"
                out+=("$(basename "$word")")
            else
                out+=("$word")
            fi
            ;;
        player/player.exe) out+=(player.exe) ;;
        *) out+=("$word") ;;
        esac
    done
    {
        echo '#!/bin/sh'
        echo '# Relinks player.exe from its own objects and the static libraries in DEPS'
        echo '# (DEPS/lib/libavcodec.a, libavutil.a, libswscale.a, libSDL2.a, libopus.a).'
        echo '#   sh relink-player.sh DEPS'
        echo 'set -e'
        echo 'DEPS=${1:?usage: sh relink-player.sh DEPS}'
        echo 'cd "$(dirname "$0")"'
        echo "${out[*]}"
    } >"$kit/relink-player.sh"
}

if ((package)); then
    rm -rf "$build_dir/third-party" && mkdir -p "$build_dir/third-party"
    cp -r "$prefix/licenses/." "$prefix/versions.txt" "$prefix/ffmpeg-configure.log" \
        "$build_dir/third-party/"
    make_relink_kit
    # The kit must work: relink from a copy of it against the cached libraries.
    rm -rf "$build_dir/relink-check" && cp -r "$build_dir/relink" "$build_dir/relink-check"
    sh "$build_dir/relink-check/relink-player.sh" "$prefix"
    [ -s "$build_dir/relink-check/player.exe" ] || { echo "[windows] relinking failed" >&2; exit 1; }
    echo "[windows] relink kit checked: player.exe relinked from relink/"
    (cd "$build_dir" && cpack -G ZIP -B "$out_dir/package" >/dev/null)
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
    zip=$out_dir/talvek-$version-windows-x64.zip
    mv "$out_dir/package/talvek-$version-windows-x64.zip" "$zip"
    rm -rf "$out_dir/package"
    echo "[windows] package: $zip"
fi
