#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for SECONDS each, one after
# the other, and fails when any of them finds a crash, a leak or a
# time-out.
#
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
#
# Each target's corpus lives in BUILD_DIR/fuzz-corpus/TARGET: the seeds
# (every file under tests/data, the fuzz regressions included, and the
# example tables) are copied in before each run, and what libFuzzer adds
# stays there for the next run. A crashing input is saved in
# BUILD_DIR/fuzz-artifacts/TARGET/, the full log in BUILD_DIR/fuzz-logs/.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}" && pwd)
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS [TARGET...]}
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_table fuzz_params fuzz_pairs fuzz_peptide fuzz_pipeline fuzz_kernel fuzz_delimited fuzz_import fuzz_modifications)

# Longest input per target: enough for several records or tokens, small
# enough to keep each execution fast under the sanitizers.
max_len() {
  case $1 in
    fuzz_table | fuzz_delimited) echo 8192 ;;
    fuzz_pipeline) echo 4096 ;;
    fuzz_peptide) echo 2048 ;;
    *) echo 1024 ;;
  esac
}

seed() {
  local corpus=$1 file name
  while IFS= read -r -d '' file; do
    name=${file#"$root"/}
    cp "$file" "$corpus/seed-${name//\//_}"
  done < <(find "$root/tests/data" "$root/examples" -type f \( -path "$root/tests/data/*" -o -name '*.txt' \) -print0)
}

# The targets' scratch files (tables, outputs) go to memory when it can,
# in a folder removed at the end even when a crashed target left its own.
scratch=$(mktemp -d "${TMPDIR:-/dev/shm}/isotope-fuzz-run-XXXXXX" 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for t in "${targets[@]}"; do
  exe=$build/fuzz/$t
  corpus=$build/fuzz-corpus/$t
  artifacts=$build/fuzz-artifacts/$t
  log=$build/fuzz-logs/$t.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  seed "$corpus"
  # Tables get their dictionary. The pipeline gets inputs up to max_len
  # from the start (a run costs about the same at any length: setting up
  # the run dominates, and longer tables reach more rows); the table reader
  # costs by the field, so its inputs grow as libFuzzer finds coverage.
  extra=()
  case $t in
    fuzz_table) extra=(-dict="$root/fuzz/table.dict") ;;
    fuzz_pipeline) extra=(-dict="$root/fuzz/table.dict" -len_control=0) ;;
  esac
  "$exe" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${extra[@]}" "$corpus" >"$log" 2>&1
  status=$?
  execs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  slowest=$(awk '/stat::slowest_unit_time_sec/ {print $2}' "$log")
  if [ $status -eq 0 ]; then
    echo "$t: ${execs:-?} executions in ${seconds} s, slowest ${slowest:-?} s, corpus $(ls "$corpus" | wc -l) inputs"
  else
    echo "$t: FAILED (exit $status) after ${execs:-?} executions; log $log" >&2
    grep -E -A 30 'ERROR: |fuzz invariant broken|runtime error|deadly signal|Test unit written' "$log" | head -n 60 >&2
    failed+=("$t")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${failed[*]} found a problem" >&2
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets ran clean"
