#!/usr/bin/env bash
# Builds the libFuzzer targets (clang 14, ASan + UBSan) in build-fuzz, makes
# their seed corpora with the sender's own code, and runs them.
#
#   scripts/fuzz.sh --seconds N [target...]  each target for N seconds, two at
#                                 a time, on a copy of the kept corpus (CI: 60)
#   scripts/fuzz.sh --long [--minutes M] [--jobs N] [target...]
#                                 the long run, one target at a time, towards
#                                 100 million inputs (the two reassemblers) or
#                                 10 million (the others): each target runs
#                                 until its count or M minutes (default 60) in
#                                 N processes (default 1, one core) that share
#                                 the kept corpus, which it then minimises, and
#                                 adds a line to the ledger
#   scripts/fuzz.sh --ledger      the inputs run so far, per target
# With target names, only those run (e.g. fuzz_player_args).
#
# The kept corpora are fuzz/corpus/<target>/ and the ledger fuzz/ledger.tsv,
# both in git, so a long run resumes on any machine: commit them after one.
# Each invocation works in a folder of its own, build-fuzz/runs/<mode>-<time>-<pid>/
# (seeds, logs/<target>.<process>.log, findings/<target>/), so a short run
# beside a long one, or after an old finding, reports only what it found.
# Exit status 1 on any finding.
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
    echo "Usage: $0 --seconds N [target...] | --long [--minutes M] [--jobs N] [target...] | --ledger" >&2
    exit 2
}
mode=""
seconds=0
minutes=60
jobs=1
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
    while [[ "${1:-}" = --minutes || "${1:-}" = --jobs ]]; do
        [[ "${2:-}" =~ ^[1-9][0-9]*$ ]] || usage
        if [ "$1" = --minutes ]; then minutes=$2; else jobs=$2; fi
        shift 2
    done
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
# ASan clears the shadow of a freed block above 64 KB by mapping fresh pages
# over it, so each new record buffer of up to 1.4 MB faults them in again;
# clearing in place keeps them, and the video table then runs half as fast
# again. A caller's own ASAN_OPTIONS come after, so they win.
export ASAN_OPTIONS="clear_shadow_mmap_threshold=1099511627776${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
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

# One process of target $1, to its log $run/logs/$1.$3.log. -close_fd_mask=3
# silences the programs' own log lines; libFuzzer's lines and the sanitizers'
# reports still come through. $2 is the corpus it grows, $4 its limits.
run_target() {
    local t=$1 corpus=$2 process=$3 limit=$4
    local findings="$run/findings/$t"
    mkdir -p "$corpus" "$findings"
    local start=$SECONDS rc=0
    # shellcheck disable=SC2086
    "$build/fuzz/$t" $limit ${options[$t]} -timeout=25 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$run/seeds/$t" \
        >"$run/logs/$t.$process.log" 2>&1 || rc=$?
    echo "$rc $((SECONDS - start))" >"$run/logs/$t.$process.result"
}

# Target $1 for its long run, in $jobs processes side by side on its kept
# corpus. libFuzzer reloads the corpus folder every second, so each process
# goes on from what the others found; the count left is shared out.
run_long() {
    local t=$1 left p
    left=$((long_runs[$t] - $(ledger_total "$t")))
    for ((p = 1; p <= jobs; p++)); do
        run_target "$t" "fuzz/corpus/$t" "$p" \
            "-runs=$(((left + jobs - 1) / jobs)) -max_total_time=$((minutes * 60))" &
    done
    wait
}

# Target $1's totals over its processes in this run: exit status (the
# first that is not 0), seconds (the longest), inputs and inputs a second
# (both summed), and processes.
run_totals() {
    local t=$1 rc=0 seconds=0 execs=0 rate=0 processes=0 r s n f
    for f in "$run/logs/$t".[0-9]*.result; do
        read -r r s <"$f"
        ((rc != 0)) || rc=$r
        ((s <= seconds)) || seconds=$s
        n=$(sed -n 's/^stat::number_of_executed_units: *//p' "${f%.result}.log" | tail -1)
        execs=$((execs + ${n:-0}))
        n=$(sed -n 's/^stat::average_exec_per_sec: *//p' "${f%.result}.log" | tail -1)
        rate=$((rate + ${n:-0}))
        processes=$((processes + 1))
    done
    echo "$rc $seconds $execs $rate $processes"
}

# Target $1's corpus $2 and this run's findings: files, bytes, findings.
corpus_totals() {
    local t=$1 corpus=$2
    echo "$(find "$corpus" -type f | wc -l)" \
        "$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')" \
        "$(find "$run/findings/$t" -type f | wc -l)"
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
    local t=$1 rc elapsed execs rate processes files bytes found
    read -r rc elapsed execs rate processes < <(run_totals "$t")
    read -r files bytes found < <(corpus_totals "$t" "fuzz/corpus/$t")
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%d)" \
        "$built_from" "$t" "$execs" "$elapsed" "$rate" "$files" \
        "$bytes" "$found" "$processes" >>"$ledger"
}

report_target() {
    local t=$1 corpus=$2
    local rc elapsed execs rate processes files bytes found
    read -r rc elapsed execs rate processes < <(run_totals "$t")
    read -r files bytes found < <(corpus_totals "$t" "$corpus")
    printf '%-24s %12s execs %8s exec/s %6ss  corpus %6s files %10s bytes  findings %s\n' \
        "$t" "$execs" "$rate" "$elapsed" "$files" "$bytes" "$found"
    if [ "$rc" != 0 ] || [ "$found" != 0 ]; then
        find "$run/findings/$t" -type f -printf '    finding: %p\n'
        grep -m 3 -E 'ERROR|runtime error|invariant broken|SUMMARY' "$run/logs/$t".[0-9]*.log |
            sed 's/^/    /' || true
        echo "    logs: $run/logs/$t.<process>.log (exit status $rc)"
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
        run_target "${targets[i]}" "$run/corpus/${targets[i]}" 1 "-max_total_time=$seconds" &
        if ((i + 1 < ${#targets[@]})); then
            run_target "${targets[i + 1]}" "$run/corpus/${targets[i + 1]}" 1 \
                "-max_total_time=$seconds" &
        fi
        wait
    done
    for t in "${targets[@]}"; do report_target "$t" "$run/corpus/$t" || failed=1; done
    # The copies grew in the run; what was found stays with its log.
    rm -rf "$run/corpus"
else
    [ -f "$ledger" ] || printf 'date\tcommit\ttarget\tinputs\tseconds\tinputs_per_s\tcorpus_files\tcorpus_bytes\tfindings\tprocesses\n' >"$ledger"
    # One target at a time: with one process, the long run keeps to one core
    # while other work goes on.
    for t in "${targets[@]}"; do
        if (($(ledger_total "$t") >= long_runs[$t])); then
            echo "[fuzz] $t: done ($(ledger_total "$t") inputs)"
            continue
        fi
        run_long "$t"
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
