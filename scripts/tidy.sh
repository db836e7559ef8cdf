#!/usr/bin/env bash
# clang-tidy over the C++ sources changed by the last commit (or the files given), using the
# release tree's compile database. Findings are reported; they do not fail the run.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
db=$root/build/release
command -v clang-tidy >/dev/null || { echo "tidy.sh: clang-tidy not installed, skipped"; exit 0; }
[[ -f $db/compile_commands.json ]] || { echo "tidy.sh: no compile database, skipped"; exit 0; }
if (($#)); then
  files=("$@")
else
  mapfile -t files < <(cd "$root" && git diff --name-only --diff-filter=AM HEAD~1 HEAD -- 'src/*.cpp' 'tools/*.cpp' 2>/dev/null)
fi
((${#files[@]})) || { echo "tidy.sh: no changed sources"; exit 0; }
echo "tidy.sh: checking ${#files[@]} file(s)"
for f in "${files[@]}"; do
  clang-tidy -p "$db" --quiet "$root/$f" 2>/dev/null | grep -E '^(/|[a-z]).*(warning|error):' || true
done
exit 0
