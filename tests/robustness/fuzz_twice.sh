#!/usr/bin/env bash
# Runs the fuzzer twice with one seed in the build's prefix: both runs must pass and print the same checksum.
# usage: fuzz_twice.sh <win32|win64> <wine-dir> <zorvane_fuzz.exe> <seed> <calls>
set -uo pipefail
arch=$1 wine_dir=$2 program=$3 seed=$4 calls=$5
run=$(cd "$(dirname "$0")/../../scripts" && pwd)/wine_run.sh
sums=()
for pass in 1 2; do
  output=$("$run" "$arch" "$wine_dir" "$program" "$seed" "$calls" 2>&1)
  status=$?
  echo "$output" | grep -v '^call ' | tail -n 30
  [ $status -eq 0 ] || { echo "run $pass failed with status $status"; exit 1; }
  sums+=("$(echo "$output" | grep '^checksum ' | tr -d '\r')")
done
[ -n "${sums[0]}" ] && [ "${sums[0]}" = "${sums[1]}" ] || { echo "checksums differ: ${sums[*]}"; exit 1; }
echo "same sequence twice: ${sums[0]}"
