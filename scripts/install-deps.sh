#!/usr/bin/env bash
# Installs every package needed to build and test the project on Debian 12.
# Usage: scripts/install-deps.sh [--picture] [--training] [extra-package ...]
# --picture adds what scripts/sonic_visualiser_picture.sh needs (Sonic
# Visualiser, a virtual X server, ImageMagick): large, and not needed to
# build or test, so not installed by default. --training adds PyTorch for
# training the activation network (training/activation/run.sh); the weights
# are committed, so building and testing do without it.
set -euo pipefail

picture=()
training=()
while [ $# -gt 0 ]; do
  case "$1" in
    --picture) picture=(sonic-visualiser xvfb xauth imagemagick) ;;
    --training) training=(python3-torch) ;;
    *) break ;;
  esac
  shift
done

packages=(
  build-essential cmake pkg-config g++ clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsndfile1-dev libfftw3-dev libsoxr-dev liblo-dev
  jackd2 libjack-jackd2-dev liblo-tools
  sox
  python3-dev python3-numpy python3-pybind11 python3-pytest python3-mir-eval
  espeak-ng python3-scipy  # bench/tool/speech_mix_eval.py
  mma fluidsynth timgm6mb-soundfont musescore-general-soundfont csound-soundfont python3-mido  # corpus/build.py
  vamp-plugin-sdk vamp-examples
  "${picture[@]}"
  "${training[@]}"
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
