#!/bin/bash
# A longer coverage-guided campaign on one parser, then its coverage.
# Usage: tools/fuzz.sh TARGET SECONDS [--keep]
#   TARGET   a row of tests/fuzz/CMakeLists.txt (date_text, number_text,
#            text_search, window_template, web_rules, json_checks)
#   --keep   afterwards, minimise the committed corpus together with what the
#            campaign found into tests/fuzz/corpus/TARGET (libFuzzer -merge)
# The campaign runs the clang build (libFuzzer, ASan, UBSan, the target's
# reference checks) from the committed corpus into build/fuzz-campaign/TARGET;
# a failure stops it and leaves the input there. Then every input is replayed
# once in a coverage build and llvm-cov prints line and branch coverage of the
# parser's files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ $# -lt 2 ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
target=$1 seconds=$2 keep=${3:-}
bash tools/setup.sh >/dev/null || exit 1
bash tools/build.sh fuzz
files=$(sed "s#[^ ]\+#$root/&#g" "build/fuzz/fuzz_targets/$target.files" 2>/dev/null) || { echo "fuzz: no target $target" >&2; exit 2; }
# No compiler launcher here: coverage needs the source paths as compiled.
if [ ! -f build/fuzz-cov/CMakeCache.txt ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz-cov -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DRT_FUZZ=ON -DRT_FUZZ_COVERAGE=ON -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= >/dev/null
fi
cmake --build build/fuzz-cov --target "${target}_fuzz" -- --no-print-directory >/dev/null

seeds=tests/fuzz/corpus/$target
work=build/fuzz-campaign/$target
mkdir -p "$work/corpus"
dict=()
[ -f "tests/fuzz/dict/$target.dict" ] && dict=(-dict="tests/fuzz/dict/$target.dict")
echo "fuzz: $target for $seconds s"
status=0
"build/fuzz/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/" "${dict[@]}" "$work/corpus" "$seeds" 2>"$work/log" || status=$?
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::new_units_added)|FAIL|ERROR|SUMMARY' "$work/log" || true
if [ "$status" != 0 ]; then
  echo "fuzz: $target failed; the input is in $work/ (see $work/log)" >&2
fi

# Coverage of the parser's files over the seeds and everything found.
rm -f "$work"/*.profraw
LLVM_PROFILE_FILE="$work/cov-%p.profraw" "build/fuzz-cov/tests/fuzz/${target}_fuzz" -runs=0 \
  "$work/corpus" "$seeds" >/dev/null 2>&1 || true
llvm-profdata-14 merge -sparse "$work"/*.profraw -o "$work/cov.profdata"
echo "coverage of $target over $(ls "$work/corpus" "$seeds" | wc -l) inputs:"
# shellcheck disable=SC2086
llvm-cov-14 report "build/fuzz-cov/tests/fuzz/${target}_fuzz" -instr-profile="$work/cov.profdata" \
  -show-region-summary=false -show-instantiation-summary=false $files

if [ "$keep" = --keep ] && [ "$status" = 0 ]; then
  fresh=$work/minimised
  rm -rf "$fresh" && mkdir -p "$fresh"
  "build/fuzz/tests/fuzz/${target}_fuzz" -merge=1 "$fresh" "$seeds" "$work/corpus" 2>/dev/null
  rm -f "$seeds"/* && cp "$fresh"/* "$seeds"/
  echo "fuzz: $seeds now holds $(ls "$seeds" | wc -l) inputs ($(du -sb "$seeds" | cut -f1) bytes)"
fi
exit "$status"
