#!/usr/bin/env bash
# Runs a command against a private Xvfb display (for the tests that need a real window or the clipboard):
#     scripts/with-xvfb.sh build/release/tests/plugin/plugin_tests --gtest_filter='Display*'
# A bare Xvfb has no window manager, so the atoms that JUCE looks up "if they exist" (window state,
# protocols, frame extents) are missing; they are interned here, as a window manager would.
set -euo pipefail

if ! command -v Xvfb >/dev/null || ! command -v xprop >/dev/null; then
    echo "with-xvfb.sh: Xvfb and xprop are needed (scripts/setup.sh installs xvfb and x11-utils)" >&2
    exit 1
fi

# The first free display number from 90 up.
display=90
while [ -e "/tmp/.X11-unix/X${display}" ] || [ -e "/tmp/.X${display}-lock" ]; do
    display=$((display + 1))
done

Xvfb ":${display}" -screen 0 1280x1024x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "${xvfb_pid}" 2>/dev/null || true; wait "${xvfb_pid}" 2>/dev/null || true' EXIT

export DISPLAY=":${display}"
for _ in $(seq 1 50); do
    xprop -root >/dev/null 2>&1 && break
    sleep 0.1
done

atoms=(WM_PROTOCOLS WM_TAKE_FOCUS WM_DELETE_WINDOW WM_CHANGE_STATE WM_STATE _NET_WM_PING
       _NET_WM_WINDOW_TYPE _NET_WM_WINDOW_TYPE_NORMAL _NET_WM_WINDOW_TYPE_COMBO
       _NET_WM_STATE _NET_WM_STATE_HIDDEN _NET_WM_STATE_FULLSCREEN _NET_FRAME_EXTENTS
       _NET_WORKAREA _MOTIF_WM_HINTS _NET_WM_ALLOWED_ACTIONS)
# Each value of an atom-typed property is interned; a scratch property keeps them off the real ones.
for atom in "${atoms[@]}"; do
    xprop -root -f _KESTRUNE_WM_ATOM 32a -set _KESTRUNE_WM_ATOM "${atom}"
done

"$@"
