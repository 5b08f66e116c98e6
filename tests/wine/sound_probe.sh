#!/usr/bin/env bash
# Plays a 660 Hz tone into the null sink while sound_probe.exe records from the default
# wave-input device, then checks what reached the sound spool: about 2 s of that tone.
#   sound_probe.sh <path to sound_probe.exe>
set -u
exe=${1:?usage: sound_probe.sh sound_probe.exe}
[ -f "$exe" ] || { echo "missing $exe (build the Windows configurations first)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
source "$here/rig.sh"
rig_start
cp "$exe" "$RIG_WORK/"
cd "$RIG_WORK" || exit 1
sox -n -r 44100 -c 1 -b 16 tone.wav synth 12 sine 660 vol 0.5 || exit 1
rig_play_background tone.wav
rig_desktop ./sound_probe.exe
kill "$RIG_PLAYER" 2>/dev/null
if [ ! -f sound_probe.txt ]; then
    echo "sound_probe.exe wrote no report" >&2
    tail -20 "$RIG_WORK/wine.log" >&2
    exit 1
fi
tr -d '\r' <sound_probe.txt
tr -d '\r' <sound_probe.txt | grep -qx PASS || exit 1
python3 "$here/tone_check.py" sound_probe.raw 660 22050
