#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over every source file of the
# ordinary build, using its compile_commands.json. Not part of
# tools/run-tests.sh; run it by hand before sending a change.
#   tools/tidy.sh              all sources in build/normal
#   tools/tidy.sh FILE.cpp...  only those (paths from the top of the tree)
# Prints the findings and exits 1 if there are any.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"
build="build/normal"

command -v clang-tidy >/dev/null || {
    echo "tidy.sh: clang-tidy is missing (tools/install-deps.sh --test installs it)" >&2
    exit 2
}
# Generated headers (moc, resources) must exist before the sources that
# include them can be read, so the build comes first; it is quick when
# nothing changed.
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" >/dev/null

if [ $# -gt 0 ]; then
    files=("$@")
else
    # Sources of the tree itself, not what the build generates.
    mapfile -t files < <(python3 - "$top" "$build/compile_commands.json" <<'PY'
import json, os, sys
top, db = sys.argv[1], sys.argv[2]
seen = set()
for entry in json.load(open(db)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    rel = os.path.relpath(path, top)
    if rel.startswith(("..", "build")) or rel in seen:
        continue
    seen.add(rel)
    print(rel)
PY
)
fi

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
printf '%s\n' "${files[@]}" |
    xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet \
        --extra-arg=-Wno-unknown-warning-option >"$out" 2>/dev/null || true
cat "$out"
findings="$(grep -c ': warning: \|: error: ' "$out" || true)"
echo "tidy: ${#files[@]} files, $findings finding(s)"
[ "$findings" -eq 0 ]
