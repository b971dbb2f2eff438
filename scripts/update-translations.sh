#!/usr/bin/env bash
# Brings i18n/*.ts up to date with the texts of the windows' sources: new tr() texts are added
# unfinished, texts no longer in the sources are dropped. Translate the new ones afterwards (Qt
# Linguist, or by hand in the .ts) and mark them finished; the build compiles the .ts into the
# program and the test suite fails while any text is left unfinished.
set -euo pipefail
cd "$(dirname "$0")/.."
lupdate=$(command -v lupdate || echo /usr/lib/qt6/bin/lupdate)
"$lupdate" -silent -no-obsolete -locations none -source-language zh_TW -target-language en \
    -I src src/window src/widgets -ts i18n/veltrano_en.ts "$@"
