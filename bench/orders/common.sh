# What the first job's benchmarks share: the build, the generated data, and
# how a command is timed. Sourced by bench/orders/run and run-export, after
# they have set orders, rows, repeat and keep from their arguments.
# Needs: cmake, a C++ compiler, Qt 6 (tools/setup installs them), mawk,
# /usr/bin/time (package "time").
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="${BUILD_DIR:-$here/build}"
for tool in mawk /usr/bin/time cmake; do
  command -v "$tool" >/dev/null || { echo "bench/orders: $tool is missing" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target ordergate-cli og_bench_intake -j2 >/dev/null
cli="$build/bin/ordergate-cli"
intake_bin="$build/bin/og_bench_intake"

work="${keep:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT
: >"$work/notes.log"
data="$work/data"

# The report of $orders order lines and the lists beside it (--keep reuses them).
make_report() {
  if [ ! -f "$data/report.csv" ] || [ "$(wc -l < "$data/report.csv")" -ne "$orders" ]; then
    echo "generating $orders order lines and lists of 100,000 entries ..." >&2
    /usr/bin/python3 "$here/bench/orders/generate.py" "$data" --orders "$orders"
  fi
  report="$data/report.csv"
}

# The header-row export of $rows rows, in a folder of its own named by its size.
make_export() {
  export_dir="$data/export-$rows"
  if [ ! -f "$export_dir/shopify.csv" ]; then
    echo "generating $rows rows of a header-row export ..." >&2
    /usr/bin/python3 "$here/bench/orders/generate.py" "$export_dir" --orders "$rows" --shopify
  fi
  shopify="$export_dir/shopify.csv"
}

# measure CMD...: prints "seconds kilobytes cpu-seconds": the command's wall
# time, peak resident memory and processor time (user + system)
measure() {
  local log="$work/time.log"
  # the runs' notes (a million new customers named) go to a log, not here
  /usr/bin/time -v -o "$log" "$@" >/dev/null 2>>"$work/notes.log" ||
    { echo "bench/orders: $* failed:" >&2; tail -5 "$work/notes.log" >&2; exit 1; }
  awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0;
                for (i = 1; i <= n; i++) s = s * 60 + p[i]; t = s }
              /Maximum resident set size/ { m = $2 }
              /User time \(seconds\)/ { c += $2 }
              /System time \(seconds\)/ { c += $2 }
              END { printf "%.3f %d %.3f\n", t, m, c }' "$log"
}

# The best (fastest) of the lines "seconds kilobytes cpu" on standard input.
best() { sort -n | head -1; }
# The highest peak of those lines.
peak() { awk '{ if ($2 > m) m = $2 } END { print m }'; }
