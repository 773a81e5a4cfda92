#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build tree (see fuzz/CMakeLists.txt) on their seed corpora
# (fuzz/corpus/<target>/); the targets are listed in fuzz/targets.txt.
#
#   run.sh smoke BUILD_DIR
#       Each target for a fixed number of runs from its corpus (a few seconds in all); fails on a
#       finding. Scratch files go to BUILD_DIR/fuzz-smoke/.
#   run.sh fuzz BUILD_DIR SECONDS FINDINGS_DIR [TARGET...]
#       Each target (all, or those named) for SECONDS, one after the other. What it finds is kept in
#       FINDINGS_DIR/<target>/: corpus/ (new inputs; the seed corpus in the tree is only read),
#       crash-*, leak-*, timeout-* (inputs that fail) and fuzz.log. A summary line per target gives
#       the executions, executions per second and the coverage reached (cov: edges, ft: features).
#       Exits non-zero if a target found something.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
mode=${1:?mode: smoke or fuzz}
build=$(cd "${2:?build directory}" && pwd)
bin="$build/fuzz"

mapfile -t listed < <(grep -v '^#' "$here/targets.txt" | grep -v '^ *$')

# "#12345 DONE cov: 123 ft: 456 ..." and the final stats of a log, as one line.
summary() {
  local log=$1 done_line execs rate
  done_line=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -n 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  echo "execs ${execs:-?}, ${rate:-?} exec/s, cov ${done_line#*cov: }" | sed -E 's/ corp:.*//; s/ ft: /, ft /'
}

failures=0
case "$mode" in
  smoke)
    runs=${FUZZ_SMOKE_RUNS:-400}
    for line in "${listed[@]}"; do
      set -- $line
      target=$1
      scratch="$build/fuzz-smoke/$target"
      rm -rf "$scratch"
      mkdir -p "$scratch/corpus"
      log="$scratch/fuzz.log"
      # New inputs go to the scratch corpus (the first directory); the seeds in the tree are only read.
      if "$bin/$target" -runs="$runs" -seed=1 -max_len="${2:-4096}" -timeout=20 -print_final_stats=1 \
           -artifact_prefix="$scratch/" "$scratch/corpus" "$here/corpus/$target" >"$log" 2>&1; then
        echo "fuzz smoke: $target: $(summary "$log")"
      else
        echo "fuzz smoke: $target FAILED (log: $log)"
        grep -v '^#' "$log" | tail -n 40
        failures=$((failures + 1))
      fi
    done
    ;;
  fuzz)
    seconds=${3:?seconds}
    findings=${4:?findings directory}
    shift 4
    wanted=("$@")
    mkdir -p "$findings"
    findings=$(cd "$findings" && pwd)
    for line in "${listed[@]}"; do
      set -- $line
      target=$1
      if [ "${#wanted[@]}" -gt 0 ] && ! printf '%s\n' "${wanted[@]}" | grep -qx "$target"; then
        continue
      fi
      out="$findings/$target"
      mkdir -p "$out/corpus"
      log="$out/fuzz.log"
      echo "fuzz: $target for ${seconds}s (findings in $out)"
      "$bin/$target" -max_total_time="$seconds" -max_len="${2:-4096}" -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$out/" "$out/corpus" "$here/corpus/$target" >"$log" 2>&1
      status=$?
      if [ "$status" -eq 0 ]; then
        echo "fuzz: $target: $(summary "$log")"
      else
        echo "fuzz: $target FOUND SOMETHING (exit $status; log: $log)"
        grep -v '^#' "$log" | tail -n 40
        failures=$((failures + 1))
      fi
    done
    ;;
  *)
    echo "usage: $0 smoke BUILD_DIR | fuzz BUILD_DIR SECONDS FINDINGS_DIR [TARGET...]" >&2
    exit 2
    ;;
esac
[ "$failures" -eq 0 ]
