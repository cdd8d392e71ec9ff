#!/usr/bin/env bash
# Writes the image seeds of fuzz/corpus/image_scan with the fwimage tool:
# fuzz/make_image_seeds.sh path/to/fwimage
set -euo pipefail
fwimage=${1:?usage: $0 path/to/fwimage}
out="$(dirname "$0")/corpus/image_scan"
mkdir -p "$out"
make() { "$fwimage" make "$out/$1" "${@:2}" >/dev/null; }
make fw-only.bin --image fw:100
make fw-version-boot.bin --image fw:1000 --version 1.2.3.4 --version-at between --image boot:500:random=7
make boot-first.bin --image boot:64 --image fw:64 --image 01:32 --version 0.1.0.5 --version-at after
make version-first.bin --version 2.0.0.1 --version-at before --image fw:40
make lower-case.bin --signature vrq --image fw:48 --image boot:16
make long-signature.bin --signature VRQVRQVR --image fw:48
make truncated.bin --image fw:300 --image boot:200 --truncate 50
args=()
for i in $(seq 1 17); do args+=(--image "0$((i % 8)):8"); done
make seventeen.bin "${args[@]}"
