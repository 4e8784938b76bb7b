#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan) in build-fuzz, makes
# their seed corpora with the sender's own code, and runs every target, two
# at a time.
#
#   scripts/fuzz.sh --seconds N [target...]  each target for N seconds (CI: 60)
#   scripts/fuzz.sh --long [target...]       each target until 100 million
#                                 inputs (the two reassemblers) or 10 million
#                                 (the others)
# With target names, only those run (e.g. fuzz_player_args).
#
# Corpora stay in build-fuzz/corpus, so runs resume where the last one ended;
# findings go to build-fuzz/findings/<target>/. Exit status 1 on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "Usage: $0 --seconds N [target...] | --long [target...]" >&2
    exit 2
}
mode=""
seconds=0
case "${1:-}" in
--seconds)
    [[ "${2:-}" =~ ^[0-9]+$ ]] || usage
    mode=seconds
    seconds=$2
    shift 2
    ;;
--long)
    mode=long
    shift
    ;;
*) usage ;;
esac

# The libraries under test and clang's libFuzzer runtime, on a fresh machine.
scripts/setup.sh --packages-only

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++-14 -DTALVEK_FUZZ=ON \
    -DTALVEK_BUILD_TESTS=OFF -DTALVEK_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j 2

# Seeds are made afresh each time; the corpora keep what the runs found.
rm -rf "$build/seeds"
"$build/fuzz/make_seeds" "$build/seeds" >/dev/null 2>&1

# Per target: the input size limit, and for the decode target no leak check
# after each input: the receiver's join watchdog is a detached thread that
# frees its state after the input has ended, which would send every input
# through a full leak scan. Leaks are still looked for at exit.
declare -A options=(
    [fuzz_video_reassembly]="-max_len=65536"
    [fuzz_frame_reassembler]="-max_len=65536"
    [fuzz_decode]="-max_len=131072 -detect_leaks=0"
    [fuzz_screen_audio]="-max_len=16384"
    [fuzz_player_args]="-max_len=1024"
    [fuzz_preview_args]="-max_len=1024"
)
declare -A long_runs=(
    [fuzz_video_reassembly]=100000000
    [fuzz_frame_reassembler]=100000000
    [fuzz_decode]=10000000
    [fuzz_screen_audio]=10000000
    [fuzz_player_args]=10000000
    [fuzz_preview_args]=10000000
)
targets=(fuzz_video_reassembly fuzz_frame_reassembler fuzz_screen_audio fuzz_player_args
         fuzz_preview_args fuzz_decode)
if (($# > 0)); then
    for t in "$@"; do
        [[ -n "${long_runs[$t]:-}" ]] || { echo "[fuzz] unknown target: $t" >&2; usage; }
    done
    targets=("$@")
fi

# One target, to its log. -close_fd_mask=3 silences the programs' own log
# lines; libFuzzer's lines and the sanitizers' reports still come through.
run_target() {
    local t=$1
    local corpus="$build/corpus/$t" findings="$build/findings/$t"
    mkdir -p "$corpus" "$findings"
    local limit
    if [ "$mode" = seconds ]; then
        limit="-max_total_time=$seconds"
    else
        limit="-runs=${long_runs[$t]}"
    fi
    local start=$SECONDS rc=0
    # shellcheck disable=SC2086
    "$build/fuzz/$t" $limit ${options[$t]} -timeout=25 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$build/seeds/$t" \
        >"$build/logs/$t.log" 2>&1 || rc=$?
    echo "$rc $((SECONDS - start))" >"$build/logs/$t.result"
}

report_target() {
    local t=$1 log="$build/logs/$t.log"
    local rc elapsed
    read -r rc elapsed <"$build/logs/$t.result"
    local execs rate files bytes found
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    files=$(find "$build/corpus/$t" -type f | wc -l)
    bytes=$(find "$build/corpus/$t" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    found=$(find "$build/findings/$t" -type f | wc -l)
    printf '%-24s %12s execs %8s exec/s %6ss  corpus %6s files %10s bytes  findings %s\n' \
        "$t" "${execs:-?}" "${rate:-?}" "$elapsed" "$files" "$bytes" "$found"
    if [ "$rc" != 0 ] || [ "$found" != 0 ]; then
        find "$build/findings/$t" -type f -printf '    finding: %p\n'
        grep -m 3 -E 'ERROR|runtime error|invariant broken|SUMMARY' "$log" | sed 's/^/    /' || true
        echo "    log: $log (exit status $rc)"
        return 1
    fi
}

mkdir -p "$build/logs"
# Never more than two fuzzing processes at once: the machine has two cores.
for ((i = 0; i < ${#targets[@]}; i += 2)); do
    run_target "${targets[i]}" &
    if ((i + 1 < ${#targets[@]})); then run_target "${targets[i + 1]}" & fi
    wait
done

failed=0
for t in "${targets[@]}"; do report_target "$t" || failed=1; done
if ((failed)); then
    echo "[fuzz] findings: reproduce one with $build/fuzz/<target> <finding file>"
    exit 1
fi
echo "[fuzz] no findings"
