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
sources=("$here/browser_answers_fuzz.cpp")
for file in wire/json_message wire/channel wire/extension_socket wire/frames mirror/page_mirror mirror/page_model \
    devtools/answers devtools/devtools_protocol bidi/answers bidi/bidi_protocol extension/extension_protocol; do
    sources+=("$root/browsers/$file.cpp")
done
sources+=("$root/platform/posix/peer_user.cpp" "$root/platform/posix/private_folder.cpp")
# Each source is compiled on its own, side by side, and again only when it or
# a header it includes changed: ninja keeps the books, from clang's lists of
# what each source included. Line tables are all a report needs, and cheaper
# to build than full debug information. A short run is mostly its build,
# which takes a quarter less time unoptimised; a long one fuzzes faster
# optimised.
optimise=-O1
[ "$seconds" -gt 30 ] || optimise=-O0
flags="-std=c++20 $optimise -gline-tables-only -I'$root' -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
escaped() { local path=${1//$/\$\$}; path=${path// /\$ }; printf '%s' "${path//:/\$:}"; }
{
    echo "rule cxx"
    echo "  command = clang++ $flags -MD -MF \$out.d -c \$in -o \$out"
    echo "  depfile = \$out.d"
    echo "  deps = gcc"
    echo "rule link"
    echo "  command = clang++ $flags -o \$out \$in -lpthread"
    objects=()
    for source in "${sources[@]}"; do
        object="obj/$(basename "$(dirname "$source")")_$(basename "$source" .cpp).o"
        objects+=("$object")
        echo "build $object: cxx $(escaped "$source")"
    done
    echo "build $(basename "$binary"): link ${objects[*]}"
} >"$work/build.ninja"
ninja -C "$work" --quiet -j "$(nproc)" "$(basename "$binary")"

# Answers and events as a browser sends them, to start from.
printf '%s\n' '{"method":"Target.targetCreated","params":{"targetInfo":{"targetId":"B","type":"page","url":"http://site.example/"}}}' \
    '{"method":"Target.targetCreated","params":{"targetInfo":{"targetId":"A","type":"page","url":"http://a.example/","canAccessOpener":true,"openerId":"B"}}}' \
    '{"id":2,"result":{"windowId":1}}' '{"id":3,"result":{"windowId":2}}' '{"id":4,"result":{"sessionId":"S1"}}' \
    '{"id":6,"result":{"frameTree":{"frame":{"mimeType":"text/html"}}}}' \
    '{"method":"Target.targetDestroyed","params":{"targetId":"A"}}' >"$work/corpus/targets"
printf '%s\n' '{"type":"success","id":1,"result":{"sessionId":"s","capabilities":{}}}' '{"type":"success","id":2,"result":{}}' \
    '{"type":"success","id":3,"result":{"contexts":[{"context":"U","url":"http://site.example/","parent":null,"originalOpener":null,"clientWindow":"w1","children":null}]}}' \
    '{"type":"event","method":"browsingContext.contextCreated","params":{"context":"P","url":"about:blank","parent":null,"originalOpener":"U","clientWindow":"w2"}}' \
    '{"type":"event","method":"browsingContext.navigationStarted","params":{"context":"P","navigation":"n","url":"http://ads.example/"}}' \
    '{"type":"success","id":4,"result":{"type":"success","result":{"type":"string","value":"true text/html"}}}' \
    '{"type":"event","method":"browsingContext.load","params":{"context":"P","navigation":"n","url":"http://ads.example/"}}' \
    '{"type":"event","method":"browsingContext.contextDestroyed","params":{"context":"P"}}' >"$work/corpus/contexts"
printf '%s' '{"id":2,"result":{"windowId":7,"bounds":{"left":0,"top":0,"width":300,"height":200,"windowState":"normal"}}}' >"$work/corpus/window"
printf '%s' '{"id":3,"result":{"sessionId":"S1"}}' >"$work/corpus/session"
printf '%s' '{"id":4,"result":{"frameTree":{"frame":{"id":"F","url":"http://a.example/","mimeType":"text/html"},"childFrames":[]}}}' >"$work/corpus/frames"
printf '%s' '{"id":5,"error":{"code":-32000,"message":"No target with given id"}}' >"$work/corpus/error"
printf '%s\n' '{"method":"Target.attachedToTarget","params":{"sessionId":"S2","targetInfo":{"targetId":"A","type":"page","url":"","openerId":"B","canAccessOpener":true},"waitingForDebugger":true}}' \
    '{"method":"Fetch.requestPaused","sessionId":"S2","params":{"requestId":"R","frameId":"A","resourceType":"Document","request":{"url":"http://ads.example/","method":"GET"}}}' \
    '{"method":"Target.detachedFromTarget","params":{"sessionId":"S2","targetId":"A"}}' >"$work/corpus/held"
printf '%s\n' '{"type":"hello","protocol":3,"browser":"firefox"}' \
    '{"type":"tabs","tabs":[{"tab":1,"window":1,"windowType":"normal","url":"http://site.example/","sourceTab":null}]}' \
    '{"type":"held","hold":1,"tab":2,"window":2,"windowType":"popup","url":"http://ads.example/","sourceTab":null,"opener":true}' \
    '{"type":"opened","tab":2,"window":2,"windowType":"popup","sourceTab":1,"url":"http://ads.example/"}' \
    '{"type":"gone","tab":2}' >"$work/corpus/held-tab"
printf '%s\n' '{"type":"hello","protocol":4,"browser":"chromium"}' \
    '{"type":"tabs","tabs":[{"tab":1,"window":1,"windowType":"normal","url":"http://site.example/","sourceTab":null}]}' \
    '{"type":"opened","tab":2,"window":2,"windowType":"popup","sourceTab":1,"url":"http://ads.example/","opener":true}' \
    '{"type":"probe","id":1,"tab":2,"url":"http://ads.example/","opener":false,"contentType":"text/html"}' >"$work/corpus/vouched"
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
