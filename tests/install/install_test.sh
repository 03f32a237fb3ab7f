#!/usr/bin/env bash
# Installs the build into a temporary prefix under the build tree, then does
# what a user of the installed files does: builds the documented examples (the
# engine example examples/engine_beats.cc, the pipeline example in
# docs/programming.md) and a tiny host with the flags pkg-config gives, runs
# them (the examples through LD_LIBRARY_PATH, the host through its rpath; the
# host loads the plug-in both with RTLD_LOCAL and with RTLD_GLOBAL) and checks
# what they print. The installed tesk-beat must find the installed plug-in.
# Usage: install_test.sh --build DIR --source DIR --libdir LIBDIR --cxx CXX
#                        [--flags "EXTRA FLAGS"] [--tool 0|1]
set -euo pipefail

flags="" tool=1
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2 ;;
    --source) source=$2 ;;
    --libdir) libdir=$2 ;;
    --cxx) cxx=$2 ;;
    --flags) flags=$2 ;;
    --tool) tool=$2 ;;
    *) echo "install_test: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done

fail() {
  echo "install_test: $*" >&2
  exit 1
}

work=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
mkdir -p "$work/run"

timeout 120 cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
read -r -a pc_flags <<<"$(pkg-config --cflags --libs tesk-music)"
pc_libdir=$(pkg-config --variable=libdir tesk-music)
plugin=$(pkg-config --variable=plugin tesk-music)
[ "$(realpath "$pc_libdir")" = "$(realpath "$prefix/$libdir")" ] ||
  fail "pkg-config libdir $pc_libdir is not the prefix's $prefix/$libdir"
[ -f "$plugin" ] || fail "pkg-config names the plug-in $plugin, which is not installed"

# Builds the C++ source SOURCE with pkg-config's flags and runs it in
# $work/run, its output into $work/NAME.out.
build_and_run() {  # SOURCE NAME WHAT
  # shellcheck disable=SC2086  # $flags holds several options
  timeout 120 "$cxx" $flags -o "$work/$2" "$1" "${pc_flags[@]}" ||
    fail "the $3 example does not build with pkg-config's flags"
  (cd "$work/run" && LD_LIBRARY_PATH="$pc_libdir" timeout 60 "$work/$2") >"$work/$2.out" ||
    { cat "$work/$2.out" >&2; fail "the $3 example failed"; }
}

# Builds and runs the C++ example under the heading SECTION of the Markdown
# file DOC exactly as shown there.
doc_example() {  # DOC SECTION NAME WHAT
  awk -v heading="## $2" 'index($0, heading) == 1 { section = 1 }
       section && /^```cpp/ { code = 1; next }
       code && /^```/ { exit }
       code' "$source/$1" >"$work/$3.cc"
  [ -s "$work/$3.cc" ] || fail "no C++ example under '## $2' in $1"
  build_and_run "$work/$3.cc" "$3" "$4 ($1)"
}

# The engine example the documentation shows, as the file it names; it
# keeps the engine's diagnostic files in a private directory it removes.
build_and_run "$source/examples/engine_beats.cc" beats "engine (examples/engine_beats.cc)"
grep -q '^interval 60 frames (100.0 BPM)' "$work/beats.out" ||
  { cat "$work/beats.out" >&2; fail "the engine example did not find the 100 BPM clicks"; }
[ -z "$(ls -A "$work/run")" ] ||
  { ls -A "$work/run" >&2; fail "the engine example left files in its working directory"; }

# The pipeline example finds the plug-in beside the installed library.
doc_example docs/programming.md "The pipeline library" pipeline pipeline
[ "$(grep -Ec '^beat at [0-9.]+ s, 1(19\.[5-9]|20\.[0-4]) BPM$' "$work/pipeline.out")" -ge 10 ] ||
  { cat "$work/pipeline.out" >&2; fail "the pipeline example did not follow the 120 BPM clicks"; }

# shellcheck disable=SC2086
timeout 120 "$cxx" $flags -o "$work/tiny_host" "$source/tests/install/tiny_host.cc" \
  "${pc_flags[@]}" -ldl -Wl,-rpath,"$pc_libdir" ||
  fail "the tiny host does not build with pkg-config's flags"
for scope in local global; do
  (cd "$work/run" && timeout 60 "$work/tiny_host" "$plugin" "$scope") >"$work/host.out" ||
    { cat "$work/host.out" >&2; fail "the tiny host failed with RTLD_${scope^^}"; }
  grep -q '^refused: BeatTracker: parameter "MAX_BPM" (60) must be above "MIN_BPM" (60)$' \
    "$work/host.out" || { cat "$work/host.out" >&2; fail "RTLD_${scope^^}: no refusal caught"; }
  grep -Eq '^tiny_host: [0-9]+ beats, [1-9][0-9]* reliable, last at 100 BPM$' "$work/host.out" ||
    { cat "$work/host.out" >&2; fail "RTLD_${scope^^}: the node did not follow the clicks"; }
done

if [ "$tool" = 1 ]; then
  timeout 60 "$prefix/bin/tesk-beat" --version >"$work/version.out" 2>&1 ||
    { cat "$work/version.out" >&2; fail "the installed tesk-beat does not run"; }
  grep -q '^module ZEDEDAZUV revision 9156 version 3.0.3$' "$work/version.out" ||
    { cat "$work/version.out" >&2; fail "the installed tesk-beat did not load the plug-in"; }
fi
# The front ends on the pipeline, where they were installed (absent from
# sanitizer builds): the Vamp plug-in in a host, the Python package in
# /usr/bin/python3; each finds libtesk-music-pipeline and the plug-in.
vamp_lib="$prefix/$libdir/vamp/tesk-music.so"
if [ -f "$vamp_lib" ] && command -v vamp-simple-host >/dev/null; then
  VAMP_PATH="$prefix/$libdir/vamp" timeout 60 vamp-simple-host -l >"$work/vamp.out" 2>&1 || true
  grep -q '"beattracker"' "$work/vamp.out" ||
    { cat "$work/vamp.out" >&2; fail "the installed Vamp plug-in is not listed by vamp-simple-host"; }
fi
python_dir=$(find "$prefix" -type d -name tesk_music -path '*-packages/*' | head -n 1)
if [ -n "$python_dir" ]; then
  (cd "$work/run" && PYTHONPATH="$(dirname "$python_dir")" timeout 60 /usr/bin/python3 -c '
import numpy as np, tesk_music
t = np.arange(44100 * 6) / 44100.0
x = np.where(np.mod(t, 0.5) < 0.01, np.sin(6283.0 * np.mod(t, 0.5)), 0.0)
r = tesk_music.track(x, 44100)
assert r.summary["reliable"] >= 4 and abs(r.summary["median_tempo"] - 120) < 1, r.summary
') >"$work/python.out" 2>&1 ||
    { cat "$work/python.out" >&2; fail "the installed Python package did not track 120 BPM clicks"; }
fi

echo "install_test: engine and pipeline examples, tiny host (RTLD_LOCAL, RTLD_GLOBAL), tool, Vamp plug-in and Python package work from $prefix"
