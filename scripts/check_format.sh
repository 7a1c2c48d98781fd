#!/usr/bin/env bash
# Fails when a C++ file of the product, its tools, benchmarks or tests is
# not formatted as .clang-format says, and lists those files. The fix is
# `clang-format -i FILE`. CLANG_FORMAT names another binary.
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format="${CLANG_FORMAT:-clang-format}"
command -v "$clang_format" >/dev/null || {
  echo "check_format: $clang_format not found (scripts/setup.sh installs it)" >&2
  exit 2
}

folders=(app cli core crawl dialogs export links platform probe purge repair tools bench tests)
mapfile -t files < <(find "${folders[@]}" -type f \
  \( -name '*.cpp' -o -name '*.h' -o -name '*.cc' -o -name '*.hpp' \) | LC_ALL=C sort)

failing=()
for f in "${files[@]}"; do
  "$clang_format" --style=file --dry-run -Werror "$f" >/dev/null 2>&1 || failing+=("$f")
done

if [ ${#failing[@]} -ne 0 ]; then
  printf '%s\n' "${failing[@]}"
  echo "check_format: ${#failing[@]} of ${#files[@]} files need clang-format -i" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files formatted"
