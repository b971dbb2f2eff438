#!/usr/bin/env bash
# Fails when a window text lacks a finished English translation: a tr() text that
# i18n/veltrano_en.ts does not hold yet, one it still holds though the sources dropped it, or one
# it holds unfinished. scripts/update-translations.sh brings the .ts up to date.
set -euo pipefail
cd "$(dirname "$0")/.."
ts=i18n/veltrano_en.ts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$ts" "$scratch/"
scripts/update-translations.sh "$scratch/$(basename "$ts")"
status=0
if ! cmp -s "$ts" "$scratch/$(basename "$ts")"; then
    echo "$ts is behind the sources; run scripts/update-translations.sh and translate:" >&2
    diff "$ts" "$scratch/$(basename "$ts")" | grep -E '^[<>] *<(name|source)>' >&2 || true
    status=1
fi
if grep -q 'type="unfinished"' "$scratch/$(basename "$ts")"; then
    echo "Texts without a finished translation:" >&2
    grep -B1 'type="unfinished"' "$scratch/$(basename "$ts")" | grep '<source>' >&2 || true
    status=1
fi
[ "$status" -eq 0 ] && echo "Every window text has its English ($(grep -c '<message>' "$ts") texts)."
exit "$status"
