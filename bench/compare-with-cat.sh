#!/usr/bin/env bash
# Times the whole tool against cat on the benchmark input classes held in the page
# cache. The two run alternately, one run each per round, and the ratio of their
# median times is printed per class. With hyperfine installed, a table of fwtally,
# cat, rg and grep (those installed) follows.
#
#   bench/compare-with-cat.sh            # 256 MiB inputs, 30 rounds
#   FWTALLY_BENCH_MIB=64 FWTALLY_BENCH_ROUNDS=10 bench/compare-with-cat.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/bench
inputs=${FWTALLY_BENCH_INPUTS:-$build/inputs}
size_mib=${FWTALLY_BENCH_MIB:-256}
rounds=${FWTALLY_BENCH_ROUNDS:-30}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DFWTALLY_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" >/dev/null
fwtally=$build/app/fwtally

mkdir -p "$inputs"
if [[ ! -f $inputs/firmware-like.bin ]] ||
   (( $(stat -c %s "$inputs/firmware-like.bin") != size_mib * 1024 * 1024 )); then
  "$build/bench/make_bench_inputs" "$inputs" "$size_mib"
fi

median() { sort -g | awk '{ times[NR] = $1 } END { print (NR % 2) ? times[(NR + 1) / 2] : (times[NR / 2] + times[NR / 2 + 1]) / 2 }'; }

classes=(random-without-dots all-underscores underscore-pairs firmware-like firmware-like-2MiB)
printf '%-22s %12s %12s %8s\n' class 'cat (ms)' 'fwtally (ms)' ratio
for class in "${classes[@]}"; do
  image=$inputs/$class.bin
  cat "$image" >/dev/null  # into the page cache
  "$fwtally" "$image" >/dev/null
  cat_times=() tool_times=()
  for ((round = 0; round < rounds; ++round)); do
    start=$EPOCHREALTIME; cat "$image" >/dev/null
    middle=$EPOCHREALTIME; "$fwtally" "$image" >/dev/null
    end=$EPOCHREALTIME
    cat_times+=("$(awk -v a="$start" -v b="$middle" 'BEGIN { print (b - a) * 1000 }')")
    tool_times+=("$(awk -v a="$middle" -v b="$end" 'BEGIN { print (b - a) * 1000 }')")
  done
  cat_ms=$(printf '%s\n' "${cat_times[@]}" | median)
  tool_ms=$(printf '%s\n' "${tool_times[@]}" | median)
  printf '%-22s %12.2f %12.2f %7.2fx\n' "$class" "$cat_ms" "$tool_ms" \
    "$(awk -v a="$tool_ms" -v b="$cat_ms" 'BEGIN { print a / b }')"
done

if command -v hyperfine >/dev/null; then
  for class in "${classes[@]}"; do
    image=$inputs/$class.bin
    commands=("$fwtally $image" "cat $image")
    command -v rg >/dev/null && commands+=("rg -c -a -F __ $image")
    command -v grep >/dev/null && commands+=("grep -c -a -F __ $image")
    echo
    echo "== $class"
    hyperfine -N -i --warmup 3 --runs "$rounds" --style basic "${commands[@]}" 2>/dev/null |
      grep -E 'Benchmark|Time|faster|±'
  done
fi
