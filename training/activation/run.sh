#!/usr/bin/env bash
# Trains the activation network from scratch and writes the library's
# weights and its test's reference case (run from the repository root):
#
#   bash training/activation/run.sh CORPUS WORK
#
# CORPUS holds both splits of the generated corpus
# (/usr/bin/python3 corpus/build.py --out CORPUS --split all --jobs 2, about
# half an hour); WORK receives the feature-extraction build, the features
# and the training run: about 10 minutes for the features and 35 for the
# training on 2 cores. Needs scripts/install-deps.sh --training.
# (training/activation/metronome.py makes click tracks with accented
# downbeats; the model card says what training with them gained and lost.)
set -euo pipefail
corpus=${1:?usage: run.sh CORPUS WORK}
work=${2:?usage: run.sh CORPUS WORK}
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$work"
cmake -S "$root" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DTESK_MUSIC_BENCH=ON >/dev/null
make -C "$work/build" -j2 activation_features >/dev/null
features="$work/build/bin/activation_features"
/usr/bin/python3 "$root/training/activation/prepare.py" --corpus "$corpus" --split training \
  --features "$features" --out "$work/train" --copies 2 --jobs 2 --seed 1
/usr/bin/python3 "$root/training/activation/prepare.py" --corpus "$corpus" --split validation \
  --features "$features" --out "$work/validation" --jobs 2
cd "$root"
/usr/bin/python3 training/activation/train.py --train "$work/train" --validation "$work/validation" \
  --out "$work/run" --channels 32 --steps 16000 --eval-every 2000 --threads 2 --seed 1 \
  --export src/activation/model/activation_model.inc \
  --reference tests/activation/data/reference.bin \
  --made-by "bash training/activation/run.sh CORPUS WORK (train.py --channels 32 --steps 16000 --threads 2 --seed 1)"
cp "$work/run/log.tsv" training/activation/training_log.tsv
