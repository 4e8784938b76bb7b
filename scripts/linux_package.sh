#!/usr/bin/env bash
# The build a user who only wants the programs makes: tests, benchmarks and
# the sender off. Configures it so that GoogleTest, Google Benchmark,
# libavformat and X11 cannot be found (proving none is needed), builds,
# installs into a staging folder, checks what landed there, and packs a .deb
# and a .tar.gz.
#
#   scripts/linux_package.sh [BUILD_DIR]     (default build-package)
#
# The packages are left in BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build_dir=${1:-build-package}
case $build_dir in /*) ;; *) build_dir=$root/$build_dir ;; esac

scripts/setup.sh --packages-only
rm -rf "$build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release --no-warn-unused-cli \
    -DTALVEK_BUILD_TESTS=OFF -DTALVEK_BUILD_BENCH=OFF -DTALVEK_BUILD_TOOLS=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
# pkg-config lookups leave their results in the cache: none of these may.
for module in AVFORMAT SWRESAMPLE X11; do
    if grep -q "^${module}_FOUND\|^${module}_VERSION\|__pkg_config_checked_${module}:" \
        "$build_dir/CMakeCache.txt"; then
        echo "[package] the programs-only build looked for $module" >&2
        exit 1
    fi
done
cmake --build "$build_dir" -j "${JOBS:-2}"

stage=$build_dir/stage
cmake --install "$build_dir" --prefix "$stage" >/dev/null
for program in player preview; do
    [ -x "$stage/bin/$program" ] || { echo "[package] bin/$program not installed" >&2; exit 1; }
done
[ ! -e "$stage/bin/sender" ] || { echo "[package] the sender was installed by default" >&2; exit 1; }
echo "[package] installed:" $(cd "$stage" && find . -type f | sort)

(cd "$build_dir" && cpack -G "DEB;TGZ" >/dev/null)
for f in "$build_dir"/talvek-*.deb "$build_dir"/talvek-*.tar.gz; do
    [ -f "$f" ] || { echo "[package] no package written" >&2; exit 1; }
    echo "[package] $f ($(stat -c %s "$f") bytes)"
done
dpkg-deb --field "$build_dir"/talvek-*.deb Package Version Depends
dpkg-deb --contents "$build_dir"/talvek-*.deb | awk '{print $NF}' | grep -q '^./usr/bin/player$' ||
    { echo "[package] the .deb holds no /usr/bin/player" >&2; exit 1; }
