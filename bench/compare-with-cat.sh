#!/usr/bin/env bash
# Times the whole tool against cat and rg on the benchmark input classes held in
# the page cache: fwtally as shipped, and fwtally_with_settings at each SIMD level
# this processor runs. Every command runs once per round, in turn, as a process
# of its own, start-up included, and the median time of each is printed with its
# ratio to cat's. The first row is the work people do most: a firmware-sized
# image of 2 MiB, where starting the process costs as much as reading it.
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
with_settings=$build/bench/fwtally_with_settings

mkdir -p "$inputs"
if [[ ! -f $inputs/firmware-like.bin ]] ||
   (( $(stat -c %s "$inputs/firmware-like.bin") != size_mib * 1024 * 1024 )); then
  "$build/bench/make_bench_inputs" "$inputs" "$size_mib"
fi

# Each command as shell words, run with the image appended: cat, the tool, the
# tool at each level it runs here (its status 3 on an empty file says it runs the
# level), and rg where it is installed.
names=() commands=()
add() { names+=("$1"); shift; commands+=("$(printf '%q ' "$@")"); }
add cat cat
add fwtally "$fwtally"
for level in portable sse2 avx2 avx512 neon; do
  status=0
  "$with_settings" "$level" default default /dev/null >/dev/null 2>&1 || status=$?
  if ((status == 3)); then
    add "$level" "$with_settings" "$level" default default
  fi
done
if command -v rg >/dev/null; then
  add rg rg -c -a -F __
fi

median() { sort -g | awk '{ times[NR] = $1 } END { print (NR % 2) ? times[(NR + 1) / 2] : (times[NR / 2] + times[NR / 2 + 1]) / 2 }'; }

printf 'median ms, and the ratio to cat, over %d rounds\n%-20s' "$rounds" class
printf ' %16s' "${names[@]}"
echo
for class in firmware-like-2MiB random-without-dots all-underscores underscore-pairs firmware-like; do
  image=$inputs/$class.bin
  cat "$image" >/dev/null  # into the page cache
  declare -A times=()
  for ((round = 0; round < rounds; ++round)); do
    for i in "${!commands[@]}"; do
      start=$EPOCHREALTIME
      eval "${commands[i]}" '"$image"' >/dev/null || true
      end=$EPOCHREALTIME
      times[$i]+="$(awk -v a="$start" -v b="$end" 'BEGIN { print (b - a) * 1000 }') "
    done
  done
  printf '%-20s' "$class"
  cat_ms=$(printf '%s\n' ${times[0]} | median)
  for i in "${!commands[@]}"; do
    ms=$(printf '%s\n' ${times[$i]} | median)
    printf ' %7.2f (%5.2fx)' "$ms" "$(awk -v a="$ms" -v b="$cat_ms" 'BEGIN { print a / b }')"
  done
  echo
  unset times
done
