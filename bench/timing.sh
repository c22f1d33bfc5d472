# Shared by the benchmarks: wall-clock runs of a command and their minimum and median.
# Source it; RUNS must be set.

now() { date +%s%N; }

# Milliseconds of each of RUNS runs of a command, one per line.
measure() {
  for _ in $(seq 1 "$RUNS"); do
    local start end
    start=$(now)
    "$@" >/dev/null
    end=$(now)
    echo $(((end - start) / 1000000))
  done
}

# "MIN MEDIAN" of the numbers on standard input, with two decimals.
stats() { sort -g | awk '{ v[NR] = $1 } END { printf "%.2f %.2f\n", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# Prints "label: A / B" of two medians with two decimals.
ratio() { awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%s: %.2f\n", l, (b > 0 ? a / b : 0) }'; }
