#!/usr/bin/env bash
# Builds the fuzz targets and runs each one for a short time on its committed corpus under
# AddressSanitizer and UndefinedBehaviorSanitizer (1 s per input, 512 MB). Fails when a
# target finds a crash or a memory blow-up; the reproducer is left in the work folder. Inputs
# over the time limit are counted and printed but do not fail the run, since a loaded machine
# can push a legitimately large (bounded) input past one second.
# Usage: fuzz/run.sh [seconds-per-target]   (default 20; FUZZ_BUILD_DIR overrides the build dir)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-20}"
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
"$root/fuzz/build.sh" "$build"
work="$(mktemp -d)"
failed=()
for src in "$root"/fuzz/fuzz_*.cpp; do
  name="$(basename "$src" .cpp)"
  target="${name#fuzz_}"
  extra=()
  # Meshing is slow for large jobs: the job runner only sees small documents.
  [ "$target" = job ] && extra+=(-max_len=4096)
  corpora=("$root/fuzz/corpus/$target")
  # The face extractors read STEP text too: they start from the file parser's corpus as well.
  [ "$target" = step_faces ] && corpora+=("$root/fuzz/corpus/step_file")
  mkdir -p "$work/$target" "$work/artifacts/$target"
  echo "== fuzz $target (${seconds}s)"
  # In fork mode the exit status also reflects ignored timeouts, so the verdict comes from
  # the last progress line's oom/timeout/crash counts.
  # A worker that times out can hang in the fuzzer's own timeout report (seen on a loaded
  # machine, under the sanitizers): the whole run is cut off well after its time, and any
  # worker left behind is removed; the verdict still comes from the progress lines.
  timeout -k 10 $((seconds + 120)) \
  "$build/$name" -fork=1 -ignore_timeouts=1 -timeout=1 -rss_limit_mb=512 -max_total_time="$seconds" \
       "${extra[@]}" -artifact_prefix="$work/artifacts/$target/" \
       "$work/$target" "${corpora[@]}" > "$work/$target.log" 2>&1 || true
  pkill -9 -f "^$build/$name " 2>/dev/null || true
  last="$(grep -E '^#[0-9]+: cov:' "$work/$target.log" | tail -1 || true)"
  echo "$last"
  counts="$(echo "$last" | sed -n 's/.*oom\/timeout\/crash: \([0-9]*\)\/\([0-9]*\)\/\([0-9]*\).*/\1 \2 \3/p')"
  read -r ooms timeouts crashes <<< "${counts:-0 0 0}"
  if [ -z "$last" ] || [ "$ooms" != 0 ] || [ "$crashes" != 0 ]; then
    tail -40 "$work/$target.log"
    failed+=("$target")
  elif [ "$timeouts" != 0 ]; then
    echo "note: $timeouts input(s) of $target ran over 1 s"
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]} (artifacts under $work/artifacts)" >&2
  exit 1
fi
rm -rf "$work"
echo "fuzz: all targets clean"
