#!/usr/bin/env bash
# Builds the field reader's fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a number of seconds. A crash, a
# hang (over 5 s on one input) or a leak fails the run.
#   run_field_reader_fuzz.sh [seconds] [work folder]
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${2:-$root/build/fuzz}
mkdir -p "$work/corpus"

# A short run is mostly its build, quicker unoptimised; a long one fuzzes
# faster optimised. Each kept apart, so that neither is taken for the other.
optimise=-O1
[ "$seconds" -gt 30 ] || optimise=-O0
binary=$work/field_reader_fuzz$optimise
sources=("$here/field_reader_fuzz.cpp" "$root/allowed/field_reader.cpp")
if [ ! -x "$binary" ] || [ -n "$(find "${sources[@]}" "$root/allowed/field_reader.h" -newer "$binary")" ]; then
    # Line tables are all a report needs, and cheaper to build than full debug information.
    clang++ -std=c++20 $optimise -gline-tables-only -I"$root" -fsanitize=fuzzer,address,undefined \
        -fno-sanitize-recover=undefined -o "$binary" "${sources[@]}"
fi

# A few files as a person or the program would write them, to start from.
printf '\xff%b' 'a.example\r\nb.example\r\n' >"$work/corpus/saved"
printf '\xff%b' '  a.example, "b,c.example" x\nd.example\r,,e.example' >"$work/corpus/hand"
printf '\xf2%b' '"unclosed\r\n' >"$work/corpus/failing"

# The whole log stays beside the corpus; a failure leaves its input there too.
status=0
"$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -detect_leaks=1 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/fuzz.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    grep -v '^#[0-9]' "$work/fuzz.log" | tail -n 60
    echo "field reader fuzzing failed (status $status); log: $work/fuzz.log" >&2
    exit "$status"
fi
grep -E '^(Done|stat::)' "$work/fuzz.log"
