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

# Files that are not regular files: reading them must neither block (a FIFO) nor run on (/dev/zero),
# and a rename must not replace them.
mkfifo "$work/fifo.wav" "$work/fifo.kpreset" "$work/sink.fifo"
ln -s /dev/zero "$work/zero.wav"
ln -s /dev/zero "$work/zero.kpreset"

# A cue chunk before the audio that claims 2 GB, in a file of 60 bytes.
{
    printf 'RIFF\x38\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00'
    printf 'cue \xff\xff\xff\x7f\x40\x42\x0f\x00'; printf 'data\x04\x00\x00\x00\x00\x40\x00\x40'
} > "$work/cue.wav"

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
    "--in $work/fifo.wav --out $work/o.wav"
    "--in $work/zero.wav --out $work/o.wav"
    "--in $work/cue.wav --out $work/o.wav"
    "--out $work/sink.fifo"
    "--out $work/o.wav --preset $work/zero.kpreset"
    "--out $work/o.wav --preset $work/fifo.kpreset"
    "--out $work/o.wav --save-preset $work/fifo.kpreset"
    "mix=50"
)
for args in "${bad_cases[@]}"; do
    # shellcheck disable=SC2086
    if timeout 20 "$render" $args >/dev/null 2>"$work/err"; then
        echo "FAIL: succeeded: $args"; failures=$((failures + 1))
    elif [ $? -ge 124 ]; then
        echo "FAIL: timed out or crashed: $args"; failures=$((failures + 1))
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

# A data chunk that claims 4 GB: the frames that are there are rendered, and the user is told.
{ head -c 40 "$mono"; printf '\xff\xff\xff\xff'; tail -c +45 "$mono"; } > "$work/long-claim.wav"
if "$render" --in "$work/long-claim.wav" --out "$work/trimmed.wav" --tail 0 >/dev/null 2>"$work/err"; then
    grep -q "claims 4294967295 bytes" "$work/err" || { echo "FAIL: no warning for the trimmed data chunk"; failures=$((failures + 1)); }
    size=$(stat -c %s "$work/trimmed.wav")
    if [ "$size" -gt $((4372 * 8 + 4096)) ]; then echo "FAIL: trimmed.wav is $size bytes"; failures=$((failures + 1)); fi
else
    echo "FAIL: the over-long data chunk was refused"; failures=$((failures + 1))
fi

# An interrupted render removes its temporary output and leaves an older output as it was. The input
# is 37 hours of 8 kHz silence in a sparse file, so the render is surely still running. A script's
# background jobs ignore SIGINT and SIGQUIT (and a signal ignored on entry stays ignored), so the
# render gets the defaults a terminal would give it.
{
    printf 'RIFF\xf8\xff\xff\x7fWAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00'
    printf 'data\xf0\xff\xff\x7f'
} > "$work/hours.wav"
truncate -s $((44 + 0x7ffffff0)) "$work/hours.wav"
echo "old output" > "$work/long.wav"
interrupted() { # what-it-was expected-status; the render is $!
    local status=0 leftovers
    { wait "$!"; } 2>/dev/null || status=$?
    leftovers=$(find "$work" -name 'long_temp*' | wc -l)
    if [ "$status" -ne "$2" ] || [ "$leftovers" -ne 0 ] || [ "$(head -c 10 "$work/long.wav")" != "old output" ]; then
        echo "FAIL: $1: status $status (expected $2), $leftovers temporary files left"; failures=$((failures + 1))
        find "$work" -name 'long_temp*' -delete
        echo "old output" > "$work/long.wav"
    fi
}
long_render=(env --default-signal=INT,QUIT "$render" --in "$work/hours.wav" --out "$work/long.wav" "type=Bright Room")
for signal in INT TERM HUP PIPE; do
    "${long_render[@]}" >/dev/null 2>&1 &
    for _ in $(seq 1 200); do
        [ -n "$(find "$work" -name 'long_temp*')" ] && break
        sleep 0.05
    done
    [ -n "$(find "$work" -name 'long_temp*')" ] || { echo "FAIL: no temporary output within 10 s"; failures=$((failures + 1)); }
    kill -s "$signal" "$!"
    interrupted "SIG$signal" $((128 + $(kill -l "$signal")))
done
timeout 2 "${long_render[@]}" >/dev/null 2>&1 &
interrupted "timeout" 124
# Past a file-size limit (1 MB here) the write fails with a message, as on a full disk.
(ulimit -f 1024; exec "${long_render[@]}") >/dev/null 2>"$work/err" &
interrupted "file-size limit" 1
grep -q "failed" "$work/err" || { echo "FAIL: no message past the file-size limit"; failures=$((failures + 1)); }

[ "$failures" -eq 0 ] && echo "all render checks passed"
exit "$failures"
