# Sourced by the end-to-end scripts: starts a private Xvfb on the first free
# display number from 70 up and exports DISPLAY for it.
#
#   start_private_xvfb <log file> [extra Xvfb arguments...]
#
# Sets XVFB_PID (the caller's cleanup ends it) and returns non-zero, with
# the server's log on standard error, when the server does not answer
# within 5 s. The screen is 1920x1080x24, the host's usual size.

start_private_xvfb() {
    local log="$1"
    shift
    local n=70
    while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp "$@" >"$log" 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    local _
    for _ in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb :$n did not start" >&2
    cat "$log" >&2
    return 1
}
