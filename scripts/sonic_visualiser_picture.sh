#!/usr/bin/env bash
# Makes docs/sonic-visualiser.png: Sonic Visualiser, on a virtual X server,
# showing the bundled example with the plug-in's beats over the waveform and
# its tempo below. Sonic Visualiser opens a session that names the audio and
# derives the two layers from the plug-in, so the layers are computed by the
# plug-in inside the host, as a user would get them.
# Usage: scripts/sonic_visualiser_picture.sh [--vamp-dir DIR] [--out FILE]
#   DIR holds tesk-music.so (default build/release/lib/vamp, which
#   scripts/test.sh builds); FILE defaults to docs/sonic-visualiser.png.
set -euo pipefail
cd "$(dirname "$0")/.."

vamp_dir=build/release/lib/vamp
out=docs/sonic-visualiser.png
while [ $# -gt 0 ]; do
  case "$1" in
    --vamp-dir) vamp_dir=$2 ;;
    --out) out=$2 ;;
    *) echo "sonic_visualiser_picture: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

fail() {
  echo "sonic_visualiser_picture: $*" >&2
  exit 1
}

[ -f "$vamp_dir/tesk-music.so" ] || fail "no $vamp_dir/tesk-music.so: build first, or give --vamp-dir"
if ! command -v sonic-visualiser >/dev/null || ! command -v xvfb-run >/dev/null ||
   ! command -v import >/dev/null || ! command -v xauth >/dev/null; then
  bash scripts/install-deps.sh --picture
fi

example=$(realpath examples/groove.flac)
rate=$(soxi -r "$example")
length=$(soxi -s "$example")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A home of its own: no first-run question about the network, and a known
# window size (the panes' zoom below fits the whole example into them).
mkdir -p "$work/home/.config/sonic-visualiser"
cat >"$work/home/.config/sonic-visualiser/Sonic Visualiser.conf" <<'EOF'
[Preferences]
network-permission-4.5.1=false
[MainWindow]
size=@Size(1200 720)
position=@Point(0 0)
EOF

# Models 2 and 3 are not in the session, only their derivations: the host
# runs the plug-in's outputs to make them.
derivation() {
  local model=$1 output=$2
  cat <<EOF
    <derivation type="transform" source="1" model="$model" channel="-1" domain="1"
                stepSize="1024" blockSize="1024" windowType="0"
                transform="vamp:tesk-music:beattracker:$output">
      <transform id="vamp:tesk-music:beattracker:$output" pluginVersion="" program=""
                 stepSize="1024" blockSize="1024" windowType="hanning"
                 startTime="0" duration="0" sampleRate="0"/>
    </derivation>
EOF
}
centre=$((length / 2))
{
  cat <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE sonic-visualiser>
<sv>
  <data>
    <model id="1" name="groove" sampleRate="$rate" start="0" end="$length" type="wavefile"
           file="$example" mainModel="true"/>
EOF
  derivation 2 beats
  derivation 3 tempo
  cat <<EOF
    <layer id="10" type="waveform" name="Waveform" model="1"/>
    <layer id="11" type="timeinstants" name="Beats" model="2" colourName="Red"/>
    <layer id="12" type="timevalues" name="Tempo (BPM)" model="3" colourName="Blue"
           plotStyle="0" verticalScale="1"/>
  </data>
  <display>
    <window width="1200" height="720"/>
    <view centre="$centre" zoom="690" followPan="1" followZoom="1" tracking="page" centreLineVisible="0"
          type="pane" id="20">
      <layer id="10" type="waveform" name="Waveform" model="1"/>
      <layer id="11" type="timeinstants" name="Beats" model="2"/>
    </view>
    <view centre="$centre" zoom="690" followPan="1" followZoom="1" tracking="page" centreLineVisible="0"
          type="pane" id="21">
      <layer id="12" type="timevalues" name="Tempo (BPM)" model="3"/>
    </view>
  </display>
</sv>
EOF
} | bzip2 >"$work/groove.sv"

# Under the virtual server: start the host, wait (bounded) until two
# screenshots a second apart are the same and show a full window, keep the
# last one, stop the host.
cat >"$work/shoot.sh" <<'EOF'
set -u
work=$1
sonic-visualiser --no-splash "$work/groove.sv" >"$work/sv.out" 2>&1 &
host=$!
previous=
for step in $(seq 1 60); do
  sleep 1
  kill -0 "$host" 2>/dev/null || { echo "the host exited" >&2; exit 1; }
  import -window root "$work/shot-$step.png" || continue
  size=$(convert "$work/shot-$step.png" -trim -format '%wx%h' info:)
  if [ "$step" -ge 5 ] && [ "$size" = "1200x720" ] && [ -n "$previous" ] &&
     [ "$(compare -metric AE "$previous" "$work/shot-$step.png" null: 2>&1)" = "0" ]; then
    cp "$work/shot-$step.png" "$work/shot.png"
    break
  fi
  previous=$work/shot-$step.png
done
kill "$host"
wait "$host" 2>/dev/null
[ -f "$work/shot.png" ] || { echo "the window did not settle within a minute" >&2; exit 1; }
EOF
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share" \
  VAMP_PATH="$(realpath "$vamp_dir")" \
  timeout 180 xvfb-run -a -s "-screen 0 1280x800x24" bash "$work/shoot.sh" "$work" ||
  { cat "$work/sv.out" >&2 2>/dev/null; fail "no picture from Sonic Visualiser"; }

# The layers must be the plug-in's: the host says so in its log if it could
# not run it or build a layer on it.
log="$work/home/.local/share/sonic-visualiser/Sonic Visualiser/log/sv-debug.log"
[ -f "$log" ] || fail "Sonic Visualiser wrote no log"
if grep -E "Unknown transform|SV-XML: (Unknown model|Failed)" "$log" >&2; then
  fail "Sonic Visualiser did not make the plug-in's layers"
fi
mkdir -p "$(dirname "$out")"
convert "$work/shot.png" -trim +repage "$out"
echo "sonic_visualiser_picture: wrote $out"
