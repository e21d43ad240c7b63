#!/usr/bin/env bash
# run.sh <build-dir> <seconds>
#
# Builds the fuzzing targets in <build-dir> (clang++, libFuzzer) and runs
# each for <seconds>, one after the other. Every run starts from a fresh
# copy of its seed corpus in a temporary directory: the seeds kept here in
# corpus/, the station's own files, identification areas as the virtual
# board builds them and the stored traces of test/traces/. What a run adds
# to the corpus is thrown away with it, so the checked-in corpus stays
# small. Prints the executions of every
# target; exits non-zero when any target crashed, leaked, hung or ran out of
# memory, with its reproducer kept in <build-dir>/artifacts/<target>/.
set -euo pipefail

if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]] || [ "$2" -lt 1 ]; then
    echo "usage: $0 <build-dir> <seconds per target>" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=$2

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
[ -f "$1/CMakeCache.txt" ] || cmake -S "$here" -B "$1" "${generator[@]}" >/dev/null
cmake --build "$1" -j "${JOBS:-2}"
build=$(cd "$1" && pwd)

work=$(mktemp -d)
# The selection and identification targets write a file or two for every
# input: on a memory file system where there is one.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$work" "$scratch"' EXIT

# The seeds of one target into directory $2.
seed() {
    local target=$1 corpus=$2
    mkdir -p "$corpus"
    if [ -d "$here/corpus/$target" ]; then
        cp "$here/corpus/$target"/* "$corpus"/
    fi
    case $target in
    selection) cp "$root"/station/check*.cfg "$corpus"/ ;;
    identify) "$build/make_id_seeds" "$corpus" ;;
    board_file) cp "$root/station/virtual-board.ini" "$corpus"/ ;;
    program) cp "$root"/station/dsp_app/* "$corpus"/ ;;
    trace) cp "$root"/test/traces/*.qtr "$corpus"/ ;;
    esac
}

# A stack for UB reports too; a report always ends the run.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

targets=(selection identify board_file program trace record)
passed=0
failed=0
for target in "${targets[@]}"; do
    dir="$work/$target"
    seed "$target" "$dir/corpus"
    artifacts="$build/artifacts/$target"
    mkdir -p "$artifacts"
    options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048
             -artifact_prefix="$artifacts/")
    [ -f "$here/$target.dict" ] && options+=(-dict="$here/$target.dict")
    [ "$target" = identify ] && options+=(-max_len=512)
    [ "$target" = trace ] && options+=(-max_len=16384)

    status=0
    TMPDIR="$scratch" "$build/fuzz_$target" "${options[@]}" "$dir/corpus" >"$dir/log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
    corpus_size=$(find "$dir/corpus" -type f | wc -l)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        printf 'fuzz_%-11s %10s executions in %s s, corpus %s inputs\n' "$target" "${execs:-?}" "$seconds" \
            "$corpus_size"
    else
        failed=$((failed + 1))
        printf 'fuzz_%-11s FAILED (exit status %s) after %s executions\n' "$target" "$status" "${execs:-?}"
        # The sanitizer's or libFuzzer's report, its stack and the reproducer.
        sed -n '/^==[0-9]*== *ERROR\|runtime error\|^==[0-9]*== *WARNING/,$p' "$dir/log" |
            grep -v '^#[0-9]*[[:space:]]*\(NEW\|REDUCE\|pulse\)\|^stat::' | head -n 80 || true
        cp "$dir/log" "$artifacts/last-run.log"
        echo "full log: $artifacts/last-run.log"
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
