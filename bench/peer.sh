#!/usr/bin/env bash
# Side-by-side peer benchmark: the same 120 s inputs rendered by sonavel-play
# (the module through a player, into a WAV file) and by FFmpeg's filters that
# do the same kind of work, each pinned to one CPU, several runs each. Prints
# one Markdown table of realtime factors (seconds of audio per second of CPU
# time, user + system, the best of the runs) and their ratios.
#
#   bench/peer.sh [--runs N] [--cpu N] [--seconds S] [--build DIR] [--keep]
#
# Needs: a default build (build/bin/sonavel-play and out_sonavel.so; the
# script builds it when missing), FFmpeg (Debian package "ffmpeg"; installed
# with apt-get when missing and run as root, else the script stops and says
# so) and taskset (util-linux). Nothing of this is part of the tests.
#
# Inputs, made here with FFmpeg's sources (no third-party audio), 48 kHz 16-bit:
#   stereo.wav  a music-like stereo mix: chords with a slow tremolo, a bass
#               line, hi-hat-like bursts, some anti-phase pink ambience;
#   surround.wav a 5.1 mix: the stereo mix on L and R, a melody on C, a 50 Hz
#               line on the LFE, independent pink noises on SL and SR;
#   hrir12.wav  a 12-channel impulse set of 8192 taps (decaying noise), the
#               size of the module's binaural responses, for FFmpeg's
#               headphone filter (hrir=multich: one left/right pair per input
#               channel).
# Pairs (sonavel mode against FFmpeg filter):
#   bypass      stereo -> 6 channels copied   against   anull (a plain copy)
#   passive     stereo -> 3/1 matrix decode   against   pan to 5.1 with a 3/1 matrix
#   active      stereo -> 5.1 steered decode  against   surround (chl_out=5.1)
#   headphones  5.1 -> two ears, 8192 taps    against   headphone, default size and best size
#   encoder     5.1 -> matrix-encoded stereo  against   aresample with matrix_encoding=dplii
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
cpu=1
seconds=120
build=build
keep=0
while (($#)); do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --cpu) cpu=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,33p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "peer.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

if ! command -v ffmpeg >/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "peer.sh: installing ffmpeg (Debian package)" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ffmpeg >/dev/null
  else
    echo "peer.sh: needs ffmpeg: sudo apt-get install ffmpeg" >&2
    exit 1
  fi
fi
command -v taskset >/dev/null || { echo "peer.sh: needs taskset (util-linux)" >&2; exit 1; }
if [ ! -x "$build/bin/sonavel-play" ] || [ ! -f "$build/bin/out_sonavel.so" ]; then
  cmake --preset default >/dev/null && cmake --build --preset default --target sonavel-play out_wave out_sonavel
fi

# A RAM-backed work folder where there is one, so that disk writes weigh
# little and alike for both.
base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/sonavel-peer.XXXXXX")
cleanup() { if ((keep)); then echo "peer.sh: files kept in $work" >&2; else rm -rf "$work"; fi; }
trap cleanup EXIT

ff=(ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -filter_threads 1 -filter_complex_threads 1)
rate=48000

# ---- Inputs ---------------------------------------------------------------
"${ff[@]}" -filter_complex "
  aevalsrc=exprs='0.16*(0.6+0.4*sin(2*PI*0.5*t))*(sin(2*PI*261.63*t)+0.8*sin(2*PI*329.63*t)+0.7*sin(2*PI*392*t))
                  +0.25*sin(2*PI*(55+27.5*gt(mod(t,2),1))*t)+0.24*(mod(sin(n*12.9898)*43758.5453,1)-0.5)*exp(-30*mod(t,0.25))
               |0.16*(0.6+0.4*sin(2*PI*0.5*t+1))*(0.7*sin(2*PI*261.63*t)+sin(2*PI*329.63*t)+0.8*sin(2*PI*493.88*t))
                  +0.25*sin(2*PI*(55+27.5*gt(mod(t,2),1))*t)+0.24*(mod(sin(n*78.233)*43758.5453,1)-0.5)*exp(-30*mod(t+0.125,0.25))'
           :s=$rate:d=$seconds:c=stereo[music];
  anoisesrc=c=pink:r=$rate:a=0.05:seed=7:d=$seconds[n];
  [n]asplit[n1][n2];[n2]volume=-1[n3];[n1][n3]join=inputs=2:channel_layout=stereo[amb];
  [music][amb]amix=inputs=2:normalize=0[out]" -map "[out]" -c:a pcm_s16le "$work/stereo.wav"

"${ff[@]}" -i "$work/stereo.wav" -filter_complex "
  [0:a]channelsplit=channel_layout=stereo[l][r];
  aevalsrc=exprs='0.3*sin(2*PI*(440+220*gt(mod(t,1.5),0.75))*t)*(0.5+0.5*sin(2*PI*2*t))':s=$rate:d=$seconds[c];
  aevalsrc=exprs='0.35*sin(2*PI*50*t)*(0.5+0.5*sin(2*PI*0.25*t))':s=$rate:d=$seconds[lfe];
  anoisesrc=c=pink:r=$rate:a=0.4:seed=11:d=$seconds[sl];
  anoisesrc=c=pink:r=$rate:a=0.4:seed=12:d=$seconds[sr];
  [l][r][c][lfe][sl][sr]join=inputs=6:channel_layout=5.1[out]" -map "[out]" -c:a pcm_s16le "$work/surround.wav"

expr=""
for i in $(seq 1 12); do expr+="${expr:+|}0.1*(mod(sin(n*12.9898+$i*78.233)*43758.5453,1)-0.5)*exp(-30*t)"; done
"${ff[@]}" -f lavfi -i "aevalsrc=exprs='$expr':s=$rate:n=8192:d=0.2" -af atrim=end_sample=8192 -c:a pcm_f32le "$work/hrir12.wav"

# ---- Timing ---------------------------------------------------------------
# Best CPU time (user + system) in seconds of `runs` runs of a command, pinned.
best_cpu() {
  local best="" t out
  for ((i = 0; i < runs; i++)); do
    out=$( { TIMEFORMAT='%U %S'; time taskset -c "$cpu" "$@" >"$work/log" 2>&1 || echo failed; } 2>&1 )
    if [[ $out == *failed* ]]; then
      { echo "peer.sh: failed: $*"; cat "$work/log"; } >&2
      exit 1
    fi
    t=$(awk '{printf "%.4f", $1 + $2}' <<<"$out")
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$t; fi
  done
  echo "$best"
}

sonavel() {  # mode input
  best_cpu "$build/bin/sonavel-play" --registry "$work/hive.reg" --mode "$1" --out "$work/out-sonavel.wav" "$2"
}
ffmpeg_filter() {  # input filter [extra inputs...]
  local in=$1 filter=$2
  shift 2
  best_cpu "${ff[@]}" -i "$in" "$@" -filter_complex "$filter" -c:a pcm_s16le "$work/out-ffmpeg.wav"
}
rt() { awk -v s="$seconds" -v t="$1" 'BEGIN{printf "%.0f", s / t}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", b / a}'; }

rows=()
row() {  # task sonavel-time peer peer-time
  rows+=("| $1 | $(rt "$2")x | $3 | $(rt "$4")x | $(ratio "$2" "$4") |")
}

echo "peer.sh: $runs runs each, CPU $cpu, $seconds s inputs at $rate Hz in $work" >&2

s=$(sonavel bypass "$work/stereo.wav")
f=$(ffmpeg_filter "$work/stereo.wav" "[0:a]anull")
row "Bypass, stereo (copy)" "$s" "\`anull\`" "$f"

s=$(sonavel passive "$work/stereo.wav")
f=$(ffmpeg_filter "$work/stereo.wav" \
  "[0:a]pan=5.1|FL=0.707*FL|FR=0.707*FR|FC=0.5*FL+0.5*FR|LFE=0*FL|BL=0.5*FL-0.5*FR|BR=0.5*FL-0.5*FR")
row "Passive 3/1, stereo in" "$s" "\`pan\` (3/1 matrix)" "$f"

s=$(sonavel active "$work/stereo.wav")
f=$(ffmpeg_filter "$work/stereo.wav" "[0:a]surround=chl_out=5.1")
row "Active SN 3/2, stereo in" "$s" "\`surround\`" "$f"

s=$(sonavel encoder "$work/surround.wav")
f=$(ffmpeg_filter "$work/surround.wav" "[0:a]aresample=ochl=stereo:matrix_encoding=dplii")
row "Matrix encoder, 5.1 in" "$s" "\`aresample\` (dplii)" "$f"

hp() { ffmpeg_filter "$work/surround.wav" "[0:a][1:a]headphone=map=FL|FR|FC|LFE|BL|BR:hrir=multich$1" -i "$work/hrir12.wav"; }
s=$(sonavel headphones "$work/surround.wav")
f=$(hp "")
row "Headphones, 5.1 in" "$s" "\`headphone\`, default size" "$f"
best="" bestsize=""
for size in 2048 4096 8192 16384 32768 49152 65536; do
  t=$(hp ":size=$size")
  if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$t; bestsize=$size; fi
done
row "Headphones, 5.1 in" "$s" "\`headphone\`, best size ($bestsize)" "$best"

echo
echo "Realtime factors: $seconds s of 48 kHz audio per second of CPU time (user + system), best of $runs runs,"
echo "pinned to CPU $cpu; ratio = sonavel / FFmpeg."
echo
echo "| task | sonavel-play | FFmpeg filter | FFmpeg | ratio |"
echo "|---|---:|---|---:|---:|"
printf '%s\n' "${rows[@]}"
