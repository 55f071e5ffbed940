#!/usr/bin/env bash
# Resources of the virtual iPhones: CPU at rest and memory with two phones,
# and the time to render one frame. Usage: bench/simulator_resources.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build quintalis simulator_bench >/dev/null

state=$(mktemp -d)
QUINTALIS_SIMULATOR=2 XDG_STATE_HOME=$state XDG_CONFIG_HOME=$state XDG_DATA_HOME=$state \
  QUINTALIS_ENGINE_PORT=7494 QUINTALIS_AIRPLAY_PORT=7495 build/src/quintalis 2>/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null; rm -rf "$state"' EXIT
sleep 8  # start-up and the first matching pass
ticks() { awk '{print $14 + $15}' /proc/$pid/stat; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
hz=$(getconf CLK_TCK)
awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" 'BEGIN { printf "CPU at rest, two phones: %.2f %% of one core\n", 100 * t / hz / s }'
echo "memory (RSS), two phones: $(awk '/VmRSS/ {printf "%.1f MB", $2 / 1024}' /proc/$pid/status)"
build/bench/simulator_bench --benchmark_min_time=1 2>/dev/null | grep -E 'Render|Pointer'
