#!/usr/bin/env bash
# Builds the optimised host preset, runs the benchmarks RUNS times (default 3) and prints one line per
# figure, "name value", the median over the runs. The spread ("name median min max") and the load
# before each run go to stderr; each run's full report stays in build/host-release/bench-results/.
# Extra arguments go to the benchmark program (--benchmark_filter=..., --benchmark_min_time=...).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-3}
build=$root/build/host-release
results=$build/bench-results

if ! dpkg -s libbenchmark-dev >/dev/null 2>&1; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends libbenchmark-dev >&2
fi
cd "$root"
cmake --preset host-release >&2
cmake --build "$build" --target zul_bench >&2
mkdir -p "$results"
rm -f "$results"/figures.*.txt
for i in $(seq 1 "$runs"); do
  echo "run $i of $runs: $(uptime)" >&2
  "$build/reference/zul_bench" --figures="$results/figures.$i.txt" "$@" >"$results/report.$i.txt" 2>&1
done

# Median, minimum and maximum of each figure over the runs, in the order the program wrote them.
awk '
  !($1 in count) { order[++names] = $1 }
  { values[$1, ++count[$1]] = $2 }
  END {
    for (i = 1; i <= names; ++i) {
      name = order[i]; n = count[name]
      for (a = 1; a <= n; ++a) sorted[a] = values[name, a] + 0
      for (a = 2; a <= n; ++a) for (b = a; b > 1 && sorted[b - 1] > sorted[b]; --b) {
        t = sorted[b]; sorted[b] = sorted[b - 1]; sorted[b - 1] = t
      }
      median = n % 2 ? sorted[(n + 1) / 2] : (sorted[n / 2] + sorted[n / 2 + 1]) / 2
      printf "%s %.4g\n", name, median
      printf "%s %.4g %.4g %.4g\n", name, median, sorted[1], sorted[n] > "/dev/stderr"
    }
  }' "$results"/figures.*.txt
