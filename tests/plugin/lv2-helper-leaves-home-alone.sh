#!/usr/bin/env bash
# The LV2 manifest helper constructs the processor at build time; it must leave the builder's home and
# /var alone. Usage: lv2-helper-leaves-home-alone.sh HELPER PLUGIN_LIBRARY
set -euo pipefail
helper=$1
library=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/home"
cp "$library" "$work/"

common=/var/.KestruneRoomPreferences/KestruneRoomPreferences.settings
stamp() { stat -c %y "$1" 2>/dev/null || echo absent; }
before=$(stamp "$common")
env -u KESTRUNE_PREFERENCES_FOLDER HOME="$work/home" "$helper" "$work/$(basename "$library")"
after=$(stamp "$common")

failures=0
[ -f "$work/manifest.ttl" ] || { echo "FAIL: the helper wrote no manifest"; failures=$((failures + 1)); }
if [ -n "$(ls -A "$work/home")" ]; then
    echo "FAIL: the helper wrote into the home folder:"; find "$work/home"; failures=$((failures + 1))
fi
[ "$before" = "$after" ] || { echo "FAIL: the helper changed $common"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] && echo "the manifest helper left home and /var alone"
exit "$failures"
