#!/usr/bin/env bash
# Installs what the build, the tests and the demo need (Debian 12), then
# configures and builds. Safe to run again: it installs only what is missing.
#
#   scripts/setup.sh [cmake option...]   install, configure and build in $BUILD_DIR
#   scripts/setup.sh --packages-only     install only
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    # build
    build-essential cmake ninja-build pkg-config
    libsdl2-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev
    libopus-dev
    # tests and benchmarks
    googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
    # Windows programs: cross compiler, runner, and what scripts/windows_deps.sh
    # needs to fetch and build the libraries from Debian's source packages
    g++-mingw-w64-x86-64-posix wine64 nasm dpkg-dev make
    # Linux packages (CPack's .deb finds the run-time dependencies)
    file
    # headless windows, screenshots and input
    xvfb xauth x11-utils xdotool imagemagick libx11-dev libgl1-mesa-dri
    # the scripts' free loopback ports (scripts/lib_net.sh)
    python3
)

# One install at a time: two scripts started side by side on a fresh machine
# (two long fuzz runs, say) would otherwise race for apt's lock, and the
# second would fail. The second waits, then finds nothing missing.
exec 9>"${TMPDIR:-/tmp}/talvek-setup-$(id -u).lock"
flock 9
missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "[setup] installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    # Waits for an apt run of someone else's (unattended upgrades) too.
    apt_opts=(-o DPkg::Lock::Timeout=600)
    $SUDO apt-get "${apt_opts[@]}" update -qq
    $SUDO apt-get "${apt_opts[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
flock -u 9

[ "${1:-}" = --packages-only ] && exit 0

BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$BUILD_DIR"
echo "[setup] built in $BUILD_DIR"
