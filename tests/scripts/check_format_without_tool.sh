#!/usr/bin/env bash
# scripts/check-format must fail, naming the tool, when the formatter is not
# installed: an empty answer from a missing tool is not "formatted".
set -euo pipefail
source_dir=$1
bin=$(mktemp -d)
trap 'rm -rf "$bin"' EXIT
# Every tool the script uses but the formatter and its git front end.
for tool in bash env git grep sed dirname cat printf mktemp; do
    ln -s "$(command -v "$tool")" "$bin/$tool"
done
for missing in clang-format git-clang-format; do
    rm -f "$bin/clang-format" "$bin/git-clang-format"
    [ "$missing" = clang-format ] || ln -s "$(command -v clang-format)" "$bin/clang-format"
    status=0
    out=$(cd "$source_dir" && PATH=$bin scripts/check-format HEAD 2>&1) || status=$?
    if [ "$status" -eq 0 ]; then
        echo "check-format passed without $missing" >&2
        exit 1
    fi
    if ! grep -q "'$missing' is not installed" <<<"$out"; then
        echo "check-format failed without naming $missing: $out" >&2
        exit 1
    fi
done
echo "check-format fails and names each missing tool"
