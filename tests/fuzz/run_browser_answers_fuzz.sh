#!/usr/bin/env bash
# Builds the fuzz target over the readers of the browser's answers with clang
# (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and runs it for a
# number of seconds. A crash, a hang (over 5 s on one input) or a leak fails
# the run.
#   run_browser_answers_fuzz.sh [seconds] [work folder]
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${2:-$root/build/fuzz-answers}
mkdir -p "$work/corpus"

binary=$work/browser_answers_fuzz
sources=("$here/browser_answers_fuzz.cpp" "$root/platform/websocket/json_message.cpp" "$root/platform/cdp/answers.cpp")
headers=("$root/platform/websocket/json_message.h" "$root/platform/cdp/answers.h" "$root/platform/error.h")
if [ ! -x "$binary" ] || [ -n "$(find "${sources[@]}" "${headers[@]}" -newer "$binary")" ]; then
    clang++ -std=c++20 -O1 -g -I"$root" -fsanitize=fuzzer,address,undefined \
        -fno-sanitize-recover=undefined -o "$binary" "${sources[@]}"
fi

# Answers and events as a browser sends them, to start from.
printf '%s' '{"id":1,"result":{"targetInfos":[{"targetId":"A","type":"page","title":"t","url":"http://a.example/","attached":false,"canAccessOpener":true,"openerId":"B"},{"targetId":"B","type":"page","subtype":"prerender","url":"x"}]}}' >"$work/corpus/targets"
printf '%s' '{"id":2,"result":{"windowId":7,"bounds":{"left":0,"top":0,"width":300,"height":200,"windowState":"normal"}}}' >"$work/corpus/window"
printf '%s' '{"id":3,"result":{"sessionId":"S1"}}' >"$work/corpus/session"
printf '%s' '{"id":4,"result":{"frameTree":{"frame":{"id":"F","url":"http://a.example/","mimeType":"text/html"},"childFrames":[]}}}' >"$work/corpus/frames"
printf '%s' '{"id":5,"error":{"code":-32000,"message":"No target with given id"}}' >"$work/corpus/error"
printf '%s' '{"method":"Target.targetInfoChanged","params":{"targetInfo":{"targetId":"A","type":"page","url":"http://ads.example/","openerId":"B","canAccessOpener":true}}}' >"$work/corpus/event"

status=0
"$binary" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -detect_leaks=1 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/fuzz.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    grep -v '^#[0-9]' "$work/fuzz.log" | tail -n 60
    echo "browser answers fuzzing failed (status $status); log: $work/fuzz.log" >&2
    exit "$status"
fi
grep -E '^(Done|stat::)' "$work/fuzz.log"
