#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan) in build-fuzz, makes
# their seed corpora with the sender's own code, and runs them.
#
#   scripts/fuzz.sh --seconds N [target...]  each target for N seconds, two at
#                                 a time, on a copy of the kept corpus (CI: 60)
#   scripts/fuzz.sh --long [--minutes M] [target...]
#                                 the long run, one target at a time on one
#                                 core, towards 100 million inputs (the two
#                                 reassemblers) or 10 million (the others):
#                                 each target runs until its count or M
#                                 minutes (default 60), grows the kept corpus,
#                                 minimises it and adds a line to the ledger
#   scripts/fuzz.sh --ledger      the inputs run so far, per target
# With target names, only those run (e.g. fuzz_player_args).
#
# The kept corpora are fuzz/corpus/<target>/ and the ledger fuzz/ledger.tsv,
# both in git, so a long run resumes on any machine: commit them after one.
# Each invocation works in a folder of its own, build-fuzz/runs/<mode>-<time>-<pid>/
# (seeds, logs, findings/<target>/), so a short run beside a long one, or
# after an old finding, reports only what it found. Exit status 1 on any
# finding.
set -euo pipefail
cd "$(dirname "$0")/.."

ledger=fuzz/ledger.tsv
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

# Inputs run so far by target $1, from the ledger.
ledger_total() {
    awk -F'\t' -v t="$1" 'NR > 1 && $3 == t { n += $4 } END { print n + 0 }' "$ledger"
}

print_ledger() {
    printf '%-24s %14s %14s %s\n' target "inputs run" goal done
    for t in "${targets[@]}"; do
        local n
        n=$(ledger_total "$t")
        printf '%-24s %14s %14s %s\n' "$t" "$n" "${long_runs[$t]}" \
            "$( ((n >= long_runs[$t])) && echo yes || echo no)"
    done
}

usage() {
    echo "Usage: $0 --seconds N [target...] | --long [--minutes M] [target...] | --ledger" >&2
    exit 2
}
mode=""
seconds=0
minutes=60
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
    if [ "${1:-}" = --minutes ]; then
        [[ "${2:-}" =~ ^[0-9]+$ ]] || usage
        minutes=$2
        shift 2
    fi
    ;;
--ledger)
    print_ledger
    exit 0
    ;;
*) usage ;;
esac

# The libraries under test and clang's libFuzzer runtime, on a fresh machine.
scripts/setup.sh --packages-only

build=build-fuzz
# One build at a time: two long runs may start side by side, and two ninjas
# in one folder race on the same outputs.
mkdir -p "$build"
(
    flock 9
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER=clang++-14 -DTALVEK_FUZZ=ON \
        -DTALVEK_BUILD_TESTS=OFF -DTALVEK_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" -j 2
) 9>"$build/.fuzz-build.lock"
# The ledger names what the targets were built from, not what HEAD is later.
built_from=$(git rev-parse --short HEAD)$(git diff --quiet HEAD -- . ':!fuzz/corpus' ':!fuzz/ledger.tsv' || echo +)

run="$build/runs/$mode-$(date -u +%Y%m%dT%H%M%SZ)-$$"
mkdir -p "$run/logs"
# Seeds are made afresh each time; the corpora keep what the runs found.
"$build/fuzz/make_seeds" "$run/seeds" >/dev/null 2>&1

# Per target: the input size limit. The video table's inputs stay at 8 KB:
# that is room for 180 datagrams, enough for both eviction rules, the sweep
# and completion, and reaches the same code as 64 KB, at three times the
# inputs a second (ASan's fresh pages for each new record buffer are most
# of an input's cost). Preview's reassembler needs 64 KB to complete the
# frames that reach all of its code.
declare -A options=(
    [fuzz_video_reassembly]="-max_len=8192"
    [fuzz_frame_reassembler]="-max_len=65536"
    [fuzz_decode]="-max_len=131072"
    [fuzz_screen_audio]="-max_len=16384"
    [fuzz_player_args]="-max_len=1024"
    [fuzz_preview_args]="-max_len=1024"
)
if (($# > 0)); then
    for t in "$@"; do
        [[ -n "${long_runs[$t]:-}" ]] || { echo "[fuzz] unknown target: $t" >&2; usage; }
    done
    targets=("$@")
fi

# One target, to its log. -close_fd_mask=3 silences the programs' own log
# lines; libFuzzer's lines and the sanitizers' reports still come through.
# $2 is the corpus it grows.
run_target() {
    local t=$1 corpus=$2
    local findings="$run/findings/$t"
    mkdir -p "$corpus" "$findings"
    local limit
    if [ "$mode" = seconds ]; then
        limit="-max_total_time=$seconds"
    else
        limit="-runs=$(( long_runs[$t] - $(ledger_total "$t") )) -max_total_time=$((minutes * 60))"
    fi
    local start=$SECONDS rc=0
    # shellcheck disable=SC2086
    "$build/fuzz/$t" $limit ${options[$t]} -timeout=25 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$run/seeds/$t" \
        >"$run/logs/$t.log" 2>&1 || rc=$?
    echo "$rc $((SECONDS - start))" >"$run/logs/$t.result"
}

# Keeps only the inputs that add coverage (seeds included), in place.
minimise_corpus() {
    local t=$1 corpus=$2
    local merged="$run/merged/$t"
    rm -rf "$merged" && mkdir -p "$merged"
    # shellcheck disable=SC2086
    "$build/fuzz/$t" -merge=1 ${options[$t]} -close_fd_mask=3 "$merged" "$corpus" \
        "$run/seeds/$t" >"$run/logs/$t.merge.log" 2>&1
    rm -rf "$corpus" && mv "$merged" "$corpus"
}

# Adds target $1's last run to the ledger.
record_run() {
    local t=$1
    local log="$run/logs/$t.log" rc elapsed execs rate files bytes found
    read -r rc elapsed <"$run/logs/$t.result"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    files=$(find "fuzz/corpus/$t" -type f | wc -l)
    bytes=$(find "fuzz/corpus/$t" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    found=$(find "$run/findings/$t" -type f | wc -l)
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%d)" \
        "$built_from" "$t" "${execs:-0}" "$elapsed" "${rate:-0}" "$files" \
        "$bytes" "$found" >>"$ledger"
}

report_target() {
    local t=$1 corpus=$2
    local log="$run/logs/$t.log"
    local rc elapsed
    read -r rc elapsed <"$run/logs/$t.result"
    local execs rate files bytes found
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    files=$(find "$corpus" -type f | wc -l)
    bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    found=$(find "$run/findings/$t" -type f | wc -l)
    printf '%-24s %12s execs %8s exec/s %6ss  corpus %6s files %10s bytes  findings %s\n' \
        "$t" "${execs:-?}" "${rate:-?}" "$elapsed" "$files" "$bytes" "$found"
    if [ "$rc" != 0 ] || [ "$found" != 0 ]; then
        find "$run/findings/$t" -type f -printf '    finding: %p\n'
        grep -m 3 -E 'ERROR|runtime error|invariant broken|SUMMARY' "$log" | sed 's/^/    /' || true
        echo "    log: $log (exit status $rc)"
        return 1
    fi
}

failed=0
if [ "$mode" = seconds ]; then
    # A copy of the kept corpus, so a short run leaves the tree as it was.
    for t in "${targets[@]}"; do
        mkdir -p "$run/corpus/$t"
        if [ -d "fuzz/corpus/$t" ]; then cp -r "fuzz/corpus/$t/." "$run/corpus/$t/"; fi
    done
    # Never more than two fuzzing processes at once: the machine has two cores.
    for ((i = 0; i < ${#targets[@]}; i += 2)); do
        run_target "${targets[i]}" "$run/corpus/${targets[i]}" &
        if ((i + 1 < ${#targets[@]})); then
            run_target "${targets[i + 1]}" "$run/corpus/${targets[i + 1]}" &
        fi
        wait
    done
    for t in "${targets[@]}"; do report_target "$t" "$run/corpus/$t" || failed=1; done
    # The copies grew in the run; what was found stays with its log.
    rm -rf "$run/corpus"
else
    [ -f "$ledger" ] || printf 'date\tcommit\ttarget\tinputs\tseconds\tinputs_per_s\tcorpus_files\tcorpus_bytes\tfindings\n' >"$ledger"
    # One at a time: the long run keeps to one core while other work goes on.
    for t in "${targets[@]}"; do
        if (($(ledger_total "$t") >= long_runs[$t])); then
            echo "[fuzz] $t: done ($(ledger_total "$t") inputs)"
            continue
        fi
        run_target "$t" "fuzz/corpus/$t"
        minimise_corpus "$t" "fuzz/corpus/$t"
        record_run "$t"
        report_target "$t" "fuzz/corpus/$t" || failed=1
    done
    print_ledger
fi

if ((failed)); then
    echo "[fuzz] findings: reproduce one with $build/fuzz/<target> <finding file>"
    exit 1
fi
echo "[fuzz] no findings"
