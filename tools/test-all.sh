#!/bin/bash
# Every test layer: installs what is missing, builds the linux, sanitizer and windows targets
# and runs their tests (natively, and under Wine). Ends with one line "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh || exit 1
# each layer's output, kept for a look after the run (the next run starts afresh)
log=$root/build/test-logs
rm -rf "$log"
mkdir -p "$log"
passed=0
failed=0

# ctest's summary: "100% tests passed, 0 tests failed out of 143"
count() {
    local summary total bad
    summary=$(grep -E "tests passed, [0-9]+ tests? failed out of [0-9]+" "$1" | tail -n 1)
    if [ -z "$summary" ]; then
        failed=$((failed + 1))
        echo "!! $2: no test summary"
        return
    fi
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    echo "== $2: $summary"
}

layer() {  # name, preset
    echo "== $1: build"
    if ! { cmake --preset "$2" >"$log/$2.configure" 2>&1 && cmake --build --preset "$2" >"$log/$2.build" 2>&1; }; then
        tail -n 40 "$log/$2.configure" "$log/$2.build" 2>/dev/null
        failed=$((failed + 1))
        echo "!! $1: build failed"
        return
    fi
    # A failing program shows its failed assertions too: under Wine a whole program is one test.
    ctest --preset "$2" 2>&1 | tee "$log/$2.test" | grep -E -A3 "\*\*\*Failed|\(Failed\)|Not Run|: Failure$" || true
    count "$log/$2.test" "$1"
}

layer "linux unit tests" linux
layer "linux unit tests under ASan+UBSan" linux-asan
# The client's threads under ThreadSanitizer: token renewal under traffic (against node-opcua) and
# the hostile-server cases, among them a session lost while its client is destroyed.
echo "== linux client threads under ThreadSanitizer"
if cmake --preset linux-tsan >"$log/tsan.configure" 2>&1 && cmake --build --preset linux-tsan >"$log/tsan.build" 2>&1; then
    for run in "ua/interop/ua_interop_tests --gtest_filter=*Renew*" \
               "ua/ua_tests --gtest_filter=*ReceivedChunks*:*Trickling*:*OpenAnswers*:*LostSession*:*MisbehavingServer*"; do
        if TSAN_OPTIONS="halt_on_error=1" build/linux-tsan/tests/$run >"$log/tsan.test" 2>&1; then
            passed=$((passed + 1))
        else
            tail -n 40 "$log/tsan.test"
            failed=$((failed + 1))
            echo "!! ThreadSanitizer: $run failed"
        fi
    done
else
    tail -n 40 "$log/tsan.build"
    failed=$((failed + 1))
    echo "!! ThreadSanitizer: build failed"
fi

# Fuzzers: a short fixed run each, from the stored seeds, on a scratch copy of the corpus.
fuzz() {  # target, corpus folder, seconds
    echo "== fuzzer $1: $3 s"
    local scratch
    scratch=$(mktemp -d)
    cp -r "fuzz/corpus/$2/." "$scratch/"
    # ASan's quarantine of freed memory counts towards the RSS limit: kept small so that the
    # limit measures the decoders; a failing input is written beside the logs, not into the tree.
    if ASAN_OPTIONS=quarantine_size_mb=32 build/fuzz/fuzz/"$1" -max_total_time="$3" -max_len=4096 -rss_limit_mb=512 \
        -malloc_limit_mb=256 -artifact_prefix="$log/" "$scratch" >"$log/$1.fuzz" 2>&1; then
        passed=$((passed + 1))
    else
        tail -n 30 "$log/$1.fuzz"
        failed=$((failed + 1))
        echo "!! fuzzer $1 failed"
    fi
    rm -rf "$scratch"
}
if cmake --preset fuzz >"$log/fuzz.configure" 2>&1 && cmake --build --preset fuzz >"$log/fuzz.build" 2>&1; then
    fuzz variant_text_fuzz variant_text 20
    fuzz ua_decode_fuzz ua_decode 60
    fuzz der_fuzz der 20
    fuzz xml_parse_fuzz xml_parse 20
    fuzz option_file_fuzz option_file 20
else
    tail -n 40 "$log/fuzz.build"
    failed=$((failed + 1))
    echo "!! fuzzers: build failed"
fi

tools/wine-prefix.sh start
layer "windows tests under Wine" windows
tools/wine-prefix.sh stop

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
