#!/usr/bin/env bash
# Builds the benchmarks (Release, Linux) and prints one table of medians:
# LogMessage (back to back and paced at 1 kHz, beside spdlog's asynchronous
# logger) and SendTallo on the caller's thread, one statistics push beside a
# bare JSON parse of the same report, and gzip of a 30 s batch. Counters a
# benchmark reports (the paced calls' percentiles) follow its times.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/tools/install_deps.sh"
dir=$root/build/bench
port=${BENCH_PORT:-18495}  # the local service double
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTESSELSDK_BUILD_BENCH=ON -DTESSELSDK_BUILD_TESTS=OFF \
  -DTESSELSDK_BUILD_EXAMPLES=OFF -DTESSELSDK_LOCAL_ENDPOINTS=ON -DTESSELSDK_LOCAL_PORT="$port" > /dev/null
cmake --build "$dir" -j "${JOBS:-$(nproc)}" > "$dir/build.log" 2>&1 || { tail -30 "$dir/build.log"; exit 1; }

# The telemetry benchmark posts to the local service double.
python3 "$root/tools/service_double.py" start --port "$port" --pidfile "$dir/double.pid"
trap 'python3 "$root/tools/service_double.py" stop --pidfile "$dir/double.pid"' EXIT
export XDG_DATA_HOME=$dir/data TESSELSDK_LOCAL_PORT=$port

results=()
for b in "$dir"/bin/bench_*; do
  out=$dir/$(basename "$b").json
  "$b" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
       --benchmark_out="$out" --benchmark_out_format=json > /dev/null 2>&1
  results+=("$out")
done

python3 - "${results[@]}" <<'PY'
import json, sys
# Keys every run has; any other number of a run is a counter of its own.
known = {"family_index", "per_family_instance_index", "repetitions", "repetition_index", "threads",
         "iterations", "real_time", "cpu_time"}
rows = []
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            counters = "  ".join(f"{k} {v:.2f}" for k, v in b.items()
                                 if k not in known and isinstance(v, (int, float)) and not isinstance(v, bool))
            rows.append((b["run_name"], b["real_time"], b["cpu_time"], b["time_unit"], counters))
w = max(len(r[0]) for r in rows)
print(f"{'benchmark':<{w}}  {'median wall':>12}  {'median cpu':>12}  counters (median)")
for name, real, cpu, unit, counters in rows:
    print(f"{name:<{w}}  {real:>9.1f} {unit:>2}  {cpu:>9.1f} {unit:>2}  {counters}".rstrip())
PY
