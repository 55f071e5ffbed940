#!/usr/bin/env bash
# GET /status requests per second on loopback, against the engine and against
# a trivial reference server, in the same run. Usage: bench/status_throughput.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build quintalis reference_http_server >/dev/null

state=$(mktemp -d)
XDG_STATE_HOME=$state XDG_CONFIG_HOME=$state QUINTALIS_ENGINE_PORT=7490 QUINTALIS_AIRPLAY_PORT=7491 \
  build/src/quintalis 2>/dev/null &
engine=$!
build/bench/reference_http_server 7492 &
reference=$!
trap 'kill $engine $reference 2>/dev/null; rm -rf "$state"' EXIT
sleep 1

rate() { wrk -t2 -c32 -d"${seconds}s" "$1" | awk '/Requests\/sec/ {print $2}'; }
engine_rate=$(rate http://127.0.0.1:7490/status)
reference_rate=$(rate http://127.0.0.1:7492/status)
echo "engine GET /status:    ${engine_rate} requests/s"
echo "reference server:      ${reference_rate} requests/s"
awk -v e="$engine_rate" -v r="$reference_rate" 'BEGIN { printf "engine / reference:    %.2f\n", e / r }'
