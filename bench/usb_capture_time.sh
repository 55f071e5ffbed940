#!/usr/bin/env bash
# The whole usb-capture process on a virtual iPhone (start, first frame,
# scaling, JPEG, exit), best and median of N runs. Usage: bench/usb_capture_time.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-20}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build quintalis >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  QUINTALIS_SIMULATOR=1 XDG_STATE_HOME=$out build/src/quintalis usb-capture "$out/shot.jpg" --max 1000 >/dev/null 2>&1
  echo $(( ($(date +%s%N) - start) / 1000000 ))
done | sort -n | awk '{ t[NR] = $1 } END { printf "usb-capture --max 1000, whole process: best %d ms, median %d ms over %d runs\n", t[1], t[int((NR + 1) / 2)], NR }'
