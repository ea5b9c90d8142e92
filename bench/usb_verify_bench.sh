#!/usr/bin/env bash
# Times the read-back of a stick against reading the same number of bytes
# from the device with dd, both from the medium (the device's cache dropped
# first), on a FAT32 volume on a loop device. Needs root and loop devices.
#
#   bench/usb_verify_bench.sh [SIZE_MIB]      (default 3072)
#
# Environment: FLINTMERE_BENCH_BUILD_DIR (default build-bench),
#              FLINTMERE_BENCH_DIR (where the image goes, default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-3072}
rounds=15

build=${FLINTMERE_BENCH_BUILD_DIR:-build-bench}
echo "== build ($build, RelWithDebInfo)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLINTMERE_BENCH=ON \
    -DFLINTMERE_TESTS=OFF -DFLINTMERE_GUI=OFF >/dev/null
cmake --build "$build" --target usb_verify_bench_driver -j 2 >"$build/bench-build.log" 2>&1 ||
    { grep -E "error|FAILED" "$build/bench-build.log" | head -n 20 >&2; exit 1; }
driver=$(pwd)/$build/bench/usb_verify_bench_driver

work=$(mktemp -d "${FLINTMERE_BENCH_DIR:-/var/tmp}/flintmere-verify-XXXXXX")
dev=''
cleanup() {
    [ -n "$dev" ] && losetup -d "$dev"
    rm -rf "$work"
}
trap cleanup EXIT

echo "== distribution: one ${size_mib} MiB image and 32 files of 4 MiB"
mkdir -p "$work/kx/extras"
head -c "${size_mib}M" /dev/urandom >"$work/kx/image_zev-1.2.3.4-5.tar"
for i in $(seq 1 32); do head -c 4M /dev/urandom >"$work/kx/extras/part$i.bin"; done

truncate -s $((size_mib + 512))M "$work/stick.img"
# Direct I/O: the loop device reads its backing file from the disk, as a
# stick is read from the stick, not from memory.
dev=$(losetup -f --show --direct-io=on "$work/stick.img")
mkfs.fat -F 32 -n tvq -I "$dev" >/dev/null
echo "stick: $dev"

echo "== read-back and dd of as many bytes, $rounds rounds in turns, best time each"
baseline='dd if='"$dev"' of=/dev/null bs=1M count=$(((BYTES + 1048575) / 1048576)) status=none'
read -r _ verify_secs _ dd_secs _ bytes < <("$driver" "$(basename "$dev")" "$work/kx" "$rounds" \
    "$baseline" | tail -n 1)
echo "read-back: $verify_secs s for $bytes bytes"
echo "dd of the same bytes: $dd_secs s"
echo "== read-back / dd: $(awk -v a="$verify_secs" -v b="$dd_secs" 'BEGIN{printf "%.2f", a/b}')"
