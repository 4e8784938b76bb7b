# Sourced by the end-to-end scripts: starts a private Xvfb on a display
# number the server picks itself and exports DISPLAY for it.
#
#   start_private_xvfb <log file> [extra Xvfb arguments...]
#
# Sets XVFB_PID (the caller's cleanup ends it) and returns non-zero, with
# the server's log on standard error, when the server does not answer
# within 5 s. The screen is 1920x1080x24, the host's usual size.
#
# The server names its display through -displayfd once it listens there:
# two scripts that chose a free number themselves could both choose the
# same one, and the second would then run on the first one's server.

start_private_xvfb() {
    local log="$1"
    shift
    local number_file
    number_file="$(mktemp)"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp "$@" 3>"$number_file" >"$log" 2>&1 &
    XVFB_PID=$!
    local _ n=""
    for _ in $(seq 50); do
        n="$(tr -dc 0-9 <"$number_file")"
        if [[ -n "$n" ]] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
            rm -f "$number_file"
            export DISPLAY=":$n"
            return 0
        fi
        sleep 0.1
    done
    rm -f "$number_file"
    echo "Xvfb ${n:+:$n }did not start" >&2
    cat "$log" >&2
    return 1
}
