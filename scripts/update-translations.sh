#!/usr/bin/env bash
# Brings i18n/veltrano_en.ts (or the .ts given) up to date with the texts of the windows'
# sources: new tr() texts are added unfinished, texts no longer in the sources are dropped.
# Translate the new ones afterwards (in Qt Linguist: linguist i18n/veltrano_en.ts, or by hand in
# the .ts) and mark them finished; the build compiles the .ts into the program, and
# scripts/check-translations.sh (a test of the suite) fails while a text is left unfinished.
set -euo pipefail
cd "$(dirname "$0")/.."
ts=${1:-i18n/veltrano_en.ts}
lupdate=${LUPDATE:-$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)}
"$lupdate" -silent -no-obsolete -locations none -source-language zh_TW -target-language en \
    -I src src/window src/widgets src/transfer -ts "$ts"
