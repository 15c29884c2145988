#!/usr/bin/env bash
# Formats the C++ sources by .clang-format at the top of the tree.
#   tools/format.sh                  rewrites every source file that differs
#   tools/format.sh --check          lists the files that differ; exits 1 if any do
#   tools/format.sh [--check] FILE.. only those files
# Sources are the .h and .cpp files git knows of, tracked or new (not ignored).
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"

check=0
if [ "${1:-}" = "--check" ]; then
    check=1
    shift
fi
command -v clang-format >/dev/null || {
    echo "format.sh: clang-format is missing (tools/install-deps.sh --test installs it)" >&2
    exit 2
}

if [ $# -gt 0 ]; then
    files=("$@")
else
    mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' |
                         while read -r f; do [ -f "$f" ] && echo "$f"; done)
fi

differing=0
for f in "${files[@]}"; do
    if [ "$check" -eq 1 ]; then
        if ! clang-format --style=file "$f" | cmp -s - "$f"; then
            echo "$f"
            differing=$((differing + 1))
        fi
    else
        clang-format --style=file -i "$f"
    fi
done

if [ "$check" -eq 1 ] && [ "$differing" -gt 0 ]; then
    echo "format.sh: $differing file(s) differ from .clang-format; tools/format.sh rewrites them" >&2
    exit 1
fi
exit 0
