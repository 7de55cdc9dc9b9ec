#!/usr/bin/env bash
# Runs kestrune-render through its error paths and two good renders. Usage: test-render.sh RENDER_BINARY
set -uo pipefail
render=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# A 16-bit mono WAV (0.1 s at 44100 Hz) with one impulse, and a file that only looks like a WAV.
mono=$work/mono.wav
{
    printf 'RIFF'; printf '\x4c\x22\x00\x00'; printf 'WAVEfmt '
    printf '\x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00'
    printf 'data'; printf '\x28\x22\x00\x00'; printf '\x00\x40'; head -c 8742 /dev/zero
} > "$mono"
echo "not audio" > "$work/text.wav"

# Each case: arguments that must fail, leaving no output file and no temporary beside it.
bad_cases=(
    "--out $work/out/missing-folder.wav"
    "--out $work"
    "--out $work/o.wav bogus=1"
    "--out $work/o.wav mix=100.5"
    "--out $work/o.wav decay=0"
    "--out $work/o.wav decay=abc"
    "--out $work/o.wav type=0"
    "--out $work/o.wav type=2.5"
    "--out $work/o.wav type=NoSuchRoom"
    "--out $work/o.wav --block 0"
    "--out $work/o.wav --rate 100"
    "--out $work/o.wav --tail -1"
    "--out $work/o.wav --frobnicate"
    "--in $work/none.wav --out $work/o.wav"
    "--in $work/text.wav --out $work/o.wav"
    "--in $mono --out $work/o.wav --rate 48000"
    "--out $work/o.wav --preset $work/none.kpreset"
    "--out $work/o.wav --preset $work/text.wav"
    "mix=50"
)
for args in "${bad_cases[@]}"; do
    # shellcheck disable=SC2086
    if "$render" $args >/dev/null 2>"$work/err"; then
        echo "FAIL: succeeded: $args"; failures=$((failures + 1))
    elif [ ! -s "$work/err" ]; then
        echo "FAIL: no message: $args"; failures=$((failures + 1))
    fi
    leftovers=$(find "$work" -name 'o*.wav' -o -name '*.tmp' -o -name 'missing-folder*' | wc -l)
    if [ "$leftovers" -ne 0 ]; then
        echo "FAIL: left files behind: $args"; failures=$((failures + 1))
        find "$work" -name 'o*.wav' -delete
    fi
done

# Reads the fmt chunk fields of a WAV file (JUCE puts a JUNK chunk first): format tag, channels, rate, bits.
header() {
    local fmt
    fmt=$(grep -obUa "fmt " "$1" | head -1 | cut -d: -f1)
    [ -n "$fmt" ] || { echo "none"; return; }
    od -An -t u2 -j $((fmt + 8)) -N 4 "$1"; od -An -t u4 -j $((fmt + 12)) -N 4 "$1"; od -An -t u2 -j $((fmt + 22)) -N 2 "$1"
}

check_output() { # file rate
    read -r -a h <<< "$(header "$1" | tr '\n' ' ')"
    # 3 = IEEE float, 65534 = extensible
    if [[ "${h[0]}" != 3 && "${h[0]}" != 65534 ]] || [ "${h[1]}" != 2 ] || [ "${h[2]}" != "$2" ] || [ "${h[3]}" != 32 ]; then
        echo "FAIL: $1 header is ${h[*]}"; failures=$((failures + 1))
    fi
}

if "$render" --out "$work/builtin.wav" --rate 44100 type="Dark Room" decay=0.5 mix=40 >/dev/null; then
    check_output "$work/builtin.wav" 44100
else
    echo "FAIL: built-in render"; failures=$((failures + 1))
fi
if "$render" --in "$mono" --out "$work/from-mono.wav" --tail 0.5 --block 77 type=12 >/dev/null; then
    check_output "$work/from-mono.wav" 44100
    # 4372 input frames + 0.5 s tail, 8 bytes a frame
    size=$(stat -c %s "$work/from-mono.wav")
    if [ "$size" -lt $(((4372 + 22050) * 8)) ]; then echo "FAIL: from-mono.wav too short ($size bytes)"; failures=$((failures + 1)); fi
else
    echo "FAIL: mono render"; failures=$((failures + 1))
fi
"$render" --help | grep -q "RTHighXover" || { echo "FAIL: --help lists no parameters"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "all render checks passed"
exit "$failures"
