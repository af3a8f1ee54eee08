#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test, the fuzzers for a few
# seconds each; then runs the threaded browser core's tests once more, built
# with ThreadSanitizer. Ends with the time each phase took.
set -euo pipefail
cd "$(dirname "$0")"

started=$SECONDS
lap_started=$SECONDS
laps=""
lap() {
    laps+="$1 $((SECONDS - lap_started)) s, "
    lap_started=$SECONDS
}

scripts/install-deps.sh
lap deps

scripts/check-format.sh
scripts/check-layers.py
scripts/package-extension.py --lint
cmake --preset test >/dev/null
cmake --preset tsan >/dev/null
cmake --build --preset test
lap build

# The ThreadSanitizer build takes what the cores have left while the tests
# wait on browsers and X servers; niced, so that it never holds a test up.
mkdir -p build/tsan
rm -f build/tsan/ctest.log
nice -n 15 cmake --build --preset tsan >build/tsan/build.log 2>&1 &
tsan_build=$!

status=0
ctest --preset test -j2 | tee build/test/ctest.log || status=$?
lap tests

tsan_status=0
if wait "$tsan_build"; then
    ctest --preset tsan -j2 | tee build/tsan/ctest.log || tsan_status=$?
else
    tsan_status=$?
    tail -n 40 build/tsan/build.log
    echo "The ThreadSanitizer build failed; log: build/tsan/build.log" >&2
fi
lap tsan

echo "Time: ${laps}total $((SECONDS - started)) s"
sed -n 's/^\([0-9]*% tests passed\)/ThreadSanitizer: \1/p' build/tsan/ctest.log 2>/dev/null || true
# The whole suite's summary stays the last line.
grep -E '^[0-9]+% tests passed' build/test/ctest.log || true
[ "$status" -eq 0 ] && [ "$tsan_status" -eq 0 ]
