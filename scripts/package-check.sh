#!/usr/bin/env bash
# Packs the .deb from a built tree and meets it as a user would: the desktop entry, AppStream
# metadata and package pass their validators, the package installs with apt, the installed
# window starts and the installed veltrano-cli collects and searches a cache in the user's data
# folder. The package (and whatever it alone pulled in) is removed again at the end.
#
#   scripts/package-check.sh [build folder]     (default build/release, already configured)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}

cmake --build "$build" -j "$(nproc)"
rm -f "$build"/veltrano_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/veltrano_*.deb)
echo "== $deb"
dpkg-deb --info "$deb" | grep -E '^ (Depends|Recommends|Installed-Size):'

desktop-file-validate data/org.calderwick.Veltrano.desktop
appstreamcli validate --no-net "$build/data/org.calderwick.Veltrano.metainfo.xml"
# Warnings are shown; errors fail the check.
lintian --fail-on error "$deb"

if dpkg-query -W -f='${Status}' veltrano 2>/dev/null | grep -q "install ok installed"; then
    echo "veltrano is installed already; not touching it" >&2
    exit 1
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" { print $2 }' | sort; }
before=$(mktemp) && installed >"$before"
home=$(mktemp -d)
cleanup() {
    $SUDO apt-get purge -y -qq veltrano >/dev/null || true
    # Packages that came in as veltrano's dependencies go too; nothing else may go with them.
    local added
    added=$(installed | comm -13 "$before" - | comm -12 - <(apt-mark showauto | sort) | tr '\n' ' ')
    if [ -n "$added" ]; then
        if $SUDO apt-get -s purge $added | awk '/^Purg/ { print $2 }' | sort | comm -13 <(tr ' ' '\n' <<<"$added" | sort) - | grep -q .; then
            echo "left installed (other packages need them): $added" >&2
        else
            $SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $added >/dev/null
        fi
    fi
    rm -rf "$home" "$before"
}
trap cleanup EXIT
# Recommended fonts and icons are left out: what the package depends on must be enough.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "./$deb" >/dev/null

# A user who has never run Veltrano: nothing but a home folder.
export HOME="$home"
unset VELTRANO_HOME XDG_DATA_HOME
data="$home/.local/share/veltrano"
mkdir -p "$home/share/sub"
echo hello >"$home/share/sub/Readme.txt"
echo notes >"$home/share/notes.md"
(cd "$home" && /usr/bin/veltrano-cli collect --cache "$data/Cache" --codepage UTF-8 --no-resolve \
    "\\\\PC1\\share=$home/share" >/dev/null)
hits=$(cd "$home" && /usr/bin/veltrano-cli search --format text name contains readme)
echo "$hits"
grep -q 'Readme.txt' <<<"$hits" || { echo "the installed veltrano-cli did not find Readme.txt" >&2; exit 1; }

# The window runs until it is stopped: still running after a few seconds means it started,
# unless it is showing a start-up error, which it also writes to standard error.
status=0
(cd "$home" && QT_QPA_PLATFORM=offscreen timeout 6 /usr/bin/veltrano 2>"$home/stderr") || status=$?
cat "$home/stderr" >&2
if [ "$status" -ne 124 ] || grep -q '^veltrano:' "$home/stderr"; then
    echo "the installed window did not start (status $status)" >&2
    exit 1
fi
echo "package check passed"
