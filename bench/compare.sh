#!/usr/bin/env bash
# Measures the engine of an older commit and the engine of the working tree
# side by side: the same benchmark source, compiler and flags (Release) for
# both, built under build/compare/.
#
#   bench/compare.sh [BASE]              timings: medians of all repetitions
#   bench/compare.sh --callgrind [BASE]  instructions per call, under callgrind
#
# BASE is any commit (default bccca22, the engine's first implementation); only
# its src/ is taken. Timing runs alternate between the two engines ROUNDS times
# (default 3), each run with REPETITIONS repetitions (default 5) of at least
# MIN_TIME seconds (default 0.5), so that a change in machine load falls on
# both; the memory counters are taken once per engine.
set -euo pipefail

mode=time
if [[ ${1:-} == --callgrind ]]; then
    mode=callgrind
    shift
fi
base=${1:-bccca22}
rounds=${ROUNDS:-3}
repetitions=${REPETITIONS:-5}
min_time=${MIN_TIME:-0.5}

root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
out=$root/build/compare
timed='^BM_(AddDart|State|UndoThenAddDart|ParseDart|StartEightPlayers)$'

build() {
    local side=$1 engine_dir=$2
    cmake -S "$root/bench" -B "$out/$side" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DGAME501_ENGINE_DIR="$engine_dir" >/dev/null
    cmake --build "$out/$side" -j2 >/dev/null
}

# Prints "benchmark<TAB>side<TAB>value" for every repetition row of a CSV report.
csv_rows() {
    local side=$1 column=$2
    shift 2
    awk -F, -v side="$side" -v column="$column" '
        /^name,/ { for (i = 1; i <= NF; i++) { h = $i; gsub(/"/, "", h); index_of[h] = i }; next }
        index_of[column] && $1 !~ /_(mean|median|stddev|cv)"?$/ {
            name = $1; gsub(/"/, "", name); sub(/\/.*/, "", name)
            print name "\t" side "\t" $(index_of[column])
        }' "$@"
}

# Reads "key<TAB>side<TAB>value" lines and prints "key<TAB>base<TAB>head<TAB>base/head"
# with the median of each key and side.
median_table() {
    sort -t "$(printf '\t')" -k1,1 -k2,2 -k3,3g | awk -F'\t' '
        { key = $1 SUBSEP $2; values[key, ++count[key]] = $3; names[$1] = 1 }
        function median(key,   c) {
            c = count[key]
            if (c == 0) return 0
            if (c % 2) return values[key, (c + 1) / 2]
            return (values[key, c / 2] + values[key, c / 2 + 1]) / 2
        }
        END {
            for (name in names) {
                b = median(name SUBSEP "base"); h = median(name SUBSEP "head")
                printf "%-34s %14.7g %14.7g %8.2f\n", name, b, h, (h > 0 ? b / h : 0)
            }
        }' | sort
}

# Sums the inclusive instructions and the calls of every benchmark helper
# (acceptDart, readState ...) in one callgrind profile.
callgrind_per_call() {
    awk '
        /^cfn=/ {
            callee = ""
            if (match($0, /::(acceptDart|clearBoard|readState|undoLastDart|parseNotation|startGame)\(/))
                callee = substr($0, RSTART + 2, RLENGTH - 3)
            next
        }
        /^calls=/ && callee != "" { split($0, field, /[= ]/); calls[callee] += field[2]; take = 1; next }
        take { instructions[callee] += $2; take = 0; callee = "" }
        END { for (name in calls) printf "%s\t%d\t%d\n", name, calls[name], instructions[name] / calls[name] }
    ' "$1"
}

mkdir -p "$out"
rm -rf "$out/base-src"
mkdir -p "$out/base-src"
git -C "$root" archive "$base" src | tar -x -C "$out/base-src"
build base "$out/base-src/src"
build head "$root/src"
echo "base: $base (src/ only); head: the working tree of $(git -C "$root" rev-parse --short HEAD)"
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); load: $(cut -d' ' -f1-3 /proc/loadavg)"

if [[ $mode == callgrind ]]; then
    for side in base head; do
        for benchmark in AddDart State UndoThenAddDart ParseDart StartEightPlayers; do
            valgrind --tool=callgrind --compress-strings=no --compress-pos=no \
                --callgrind-out-file="$out/$side.$benchmark.callgrind" \
                "$out/$side/game501_bench" --benchmark_filter="^BM_$benchmark\$" \
                --benchmark_min_time=0.05 >/dev/null 2>&1
            callgrind_per_call "$out/$side.$benchmark.callgrind" |
                awk -F'\t' -v b="$benchmark" -v side="$side" '{ print "BM_" b "/" $1 "\t" side "\t" $3 }'
        done
    done >"$out/callgrind.tsv"
    printf '\n%-34s %14s %14s %8s\n' "instructions per call" base head "base/head"
    median_table <"$out/callgrind.tsv"
    exit 0
fi

rm -f "$out"/*.csv
for round in $(seq "$rounds"); do
    for side in base head; do
        "$out/$side/game501_bench" --benchmark_filter="$timed" \
            --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
            --benchmark_format=csv >"$out/$side.$round.csv" 2>/dev/null
    done
done
for side in base head; do
    "$out/$side/game501_bench" --benchmark_filter='^BM_EngineMemory' \
        --benchmark_format=csv >"$out/$side.memory.csv" 2>/dev/null
done

printf '\n%-34s %14s %14s %8s\n' "real time, median (us; ns for parse)" base head "base/head"
for side in base head; do csv_rows "$side" real_time "$out/$side".[0-9]*.csv; done | median_table
printf '\n%-34s %14s %14s %8s\n' "cpu time, median" base head "base/head"
for side in base head; do csv_rows "$side" cpu_time "$out/$side".[0-9]*.csv; done | median_table
printf '\n%-34s %14s %14s %8s\n' "heap bytes held by one engine" base head "base/head"
for side in base head; do
    for counter in bytes_worst_case bytes_after_100k_darts bytes_peak_100k_darts; do
        csv_rows "$side" "$counter" "$out/$side.memory.csv" |
            awk -F'\t' -v OFS='\t' -v name="$counter" '{ $1 = name; print }'
    done
done | median_table
