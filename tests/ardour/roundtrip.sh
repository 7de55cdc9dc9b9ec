#!/usr/bin/env bash
# KestruneRoom in Ardour 7 (Debian 12's ardour package), headless: for the LV2 and the VST3, insert,
# set values, play, save, reopen, check the values shown and the sound, and bounce; for the LV2 also a
# session saved when it kept its values in its state alone (roundtrip.lua). Everything Ardour writes
# stays in a temporary folder.
# Usage: tests/ardour/roundtrip.sh [ARTEFACTS], the folder that holds LV2/ and VST3/ (by default the
# release build's).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
artefacts=$(cd "${1:-$here/../../build/release/processor/KestruneRoom_artefacts/RelWithDebInfo}" && pwd)
scanner=/usr/lib/ardour7/ardour-vst3-scanner
if ! command -v ardour7-lua >/dev/null || [ ! -x "$scanner" ]; then
    echo "roundtrip.sh: Ardour 7 is not installed (apt-get install ardour)" >&2
    exit 1
fi
for bundle in "$artefacts/LV2/KestruneRoom.lv2" "$artefacts/VST3/KestruneRoom.vst3"; do
    [ -e "$bundle" ] || { echo "roundtrip.sh: $bundle is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
export LV2_PATH=$artefacts/LV2 KESTRUNE_PREFERENCES_FOLDER=$work/preferences
mkdir -p "$HOME/.vst3" "$XDG_CONFIG_HOME/ardour7/scripts"
ln -s "$artefacts/VST3/KestruneRoom.vst3" "$HOME/.vst3/"
cp "$here/kestrune-test-click.lua" "$XDG_CONFIG_HOME/ardour7/scripts/"
cp "$here/kestrune-test-capture.lua" "$XDG_CONFIG_HOME/ardour7/scripts/"
# Ardour lists its dummy backend only when told to.
cat > "$XDG_CONFIG_HOME/ardour7/config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="hide-dummy-backend" value="0"/>
  </Config>
</Ardour>
XML
# Ardour's Lua session tool finds VST3 plug-ins only through the scanner's cache.
LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -f -q "$HOME/.vst3/KestruneRoom.vst3"

# A session saved when the LV2 kept its values in its state alone, with the settings roundtrip.lua
# sets: it must sound like the session the create stage saves.
mkdir -p "$work/sessions"
cp -r "$here/state-only-session" "$work/sessions/LV2-state-only"

failures=0
run() { # format stage session
    local log=$work/$1-$2.log
    KRT_FORMAT=$1 KRT_STAGE=$2 KRT_DIR=$work/sessions/$3 KRT_REFERENCE=$work/sessions/LV2/before-save.f32 \
        timeout 300 ardour7-lua "$here/roundtrip.lua" >"$log" 2>&1 || true
    grep -E '^(PASS|FAIL|KNOWN) ' "$log" || true
    if ! grep -q "^DONE $1 $2 failures 0$" "$log"; then
        grep -q "^DONE $1 $2" "$log" || { echo "FAIL $1: the $2 stage did not finish:"; tail -5 "$log"; }
        failures=$((failures + 1))
    fi
}
for format in LV2 VST3; do
    run $format create $format
    run $format reopen $format
done
run LV2 state-only LV2-state-only
run LV2 state-only-resaved LV2-state-only
[ "$failures" -eq 0 ] && echo "Ardour round trip passed (KNOWN lines are limitations of the host or the format)"
exit "$failures"
