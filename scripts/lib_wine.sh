# Sourced by the Windows scripts: wine in a prefix of the caller's own, so a
# run neither reads nor changes ~/.wine, with no Mono, Gecko or menu
# builder (their installers would prompt on the first start) and no debug
# chatter on standard error.
#
#   use_wine_prefix <folder>    (the scripts use $TALVEK_WINEPREFIX, default
#                                build-windows/wine-prefix)
#
# Exports WINEPREFIX and the rest, sets WINE and WINESERVER, and creates
# the prefix on first use (about 15 s).

WINE=${WINE:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

use_wine_prefix() {
    export WINEPREFIX=$1
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
    # wine turns the Unix command line into Windows' wide one through the
    # locale's character set: with none, "Jürgen" would not survive.
    export LC_ALL=C.UTF-8
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "[wine] creating the prefix $WINEPREFIX (first run only)"
        local start
        start=$(date +%s)
        DISPLAY= WAYLAND_DISPLAY= "$WINE" wineboot --init >/dev/null 2>&1
        # The prefix is complete only once its wineserver has written it out.
        "$WINESERVER" -w
        echo "[wine] prefix ready in $(($(date +%s) - start)) s"
    fi
}

# Starts the prefix's wineserver to stay up, with wine's own services
# (services.exe, winedevice.exe, plugplay.exe...) under it, their output
# going to $1. Otherwise the first program a test starts brings them up,
# and they write to its standard error: a crash of one of them reads as
# the program's own, and their start-up eats the test's time.
start_wine() {
    stop_wine
    "$WINESERVER" -p
    DISPLAY= WAYLAND_DISPLAY= "$WINE" cmd /c exit >>"$1" 2>&1
}

# Ends the prefix's wineserver and every wine process left in it.
stop_wine() {
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
}
