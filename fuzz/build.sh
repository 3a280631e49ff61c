#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/fuzz_*.cpp) with AddressSanitizer and
# UndefinedBehaviorSanitizer. The product sources are compiled once into objects and linked
# into every target. Usage: fuzz/build.sh [build-dir]   (default: build-fuzz at the top)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build-fuzz}"
cxx="${CXX_FUZZ:-}"
if [ -z "$cxx" ]; then
  for c in clang++ clang++-14; do command -v "$c" >/dev/null 2>&1 && { cxx="$c"; break; }; done
fi
[ -n "$cxx" ] || { echo "fuzz/build.sh: clang++ not found" >&2; exit 2; }
jobs="${FUZZ_JOBS:-2}"
flags=(-std=c++17 -O1 -g -ffp-contract=off -Wall -Wextra -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=undefined -I "$root/src")
mkdir -p "$out/obj"

# Every product source but the two program entries.
mapfile -t sources < <(cd "$root" && find src -name '*.cpp' ! -name main.cpp ! -name quilm_convert_main.cpp | LC_ALL=C sort)
compile_one() {
  local src="$1" obj="$out/obj/$(echo "$1" | tr '/' '_').o"
  if [ ! -f "$obj" ] || [ "$root/$src" -nt "$obj" ] || [ -n "$(find "$root/src" -name '*.hpp' -newer "$obj" -print -quit)" ]; then
    "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$root/$src" -o "$obj"
  fi
}
export -f compile_one
export out root cxx
export flags_str="${flags[*]}"
printf '%s\n' "${sources[@]}" | xargs -P "$jobs" -I{} bash -c 'flags=($flags_str); compile_one "$@"' _ {}

objs=()
for s in "${sources[@]}"; do objs+=("$out/obj/$(echo "$s" | tr '/' '_').o"); done
for target in "$root"/fuzz/fuzz_*.cpp; do
  name="$(basename "$target" .cpp)"
  "$cxx" "${flags[@]}" -fsanitize=fuzzer "$target" "${objs[@]}" -o "$out/$name"
  echo "built $out/$name"
done
