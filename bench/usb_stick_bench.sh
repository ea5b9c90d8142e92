#!/usr/bin/env bash
# A whole stick run on a slow stick (the faulty stick of the tests at 20 MB/s
# writing and 30 MB/s reading, behind a loop device) against dd writing the
# same bytes plus dd reading them back. Fixed pauses are left out. Prints
# the ratio and the bytes read and written at the device. Needs root, loop
# devices and /dev/fuse.
#
#   bench/usb_stick_bench.sh [SIZE_MIB]      (distribution image, default 256)
#
# Environment: FLINTMERE_BENCH_BUILD_DIR (default build-bench),
#              FLINTMERE_BENCH_DIR (where the stick's file goes, default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-256}
write_rate=20000000
read_rate=30000000
stick_bytes=$((1200 * 1048576))

build=${FLINTMERE_BENCH_BUILD_DIR:-build-bench}
echo "== build ($build, RelWithDebInfo)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLINTMERE_BENCH=ON \
    -DFLINTMERE_TESTS=ON -DFLINTMERE_GUI=OFF >/dev/null
cmake --build "$build" --target usb_stick_bench_driver faulty_stick flintmere -j 2 \
    >"$build/bench-build.log" 2>&1 ||
    { grep -E "error|FAILED" "$build/bench-build.log" | head -n 20 >&2; exit 1; }
driver=$(pwd)/$build/bench/usb_stick_bench_driver
server=$(pwd)/$build/tests/faulty_stick

work=$(mktemp -d "${FLINTMERE_BENCH_DIR:-/var/tmp}/flintmere-stick-XXXXXX")
dev=''
pid=''
cleanup() {
    [ -n "$dev" ] && losetup -d "$dev"
    if [ -n "$pid" ]; then umount -l "$work/mnt" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "== installation folder with a ${size_mib} MiB image"
FLINTMERE_BIN=$(pwd)/$build/flintmere scripts/make-install-folder "$work/inst" >/dev/null
head -c "${size_mib}M" /dev/urandom >"$work/inst/kx/image_zev-1.2.3.4-5.tar"

mkdir -p "$work/mnt"
"$server" "$work/back.img" "$stick_bytes" "$work/mnt" &
pid=$!
for _ in $(seq 50); do [ -e "$work/mnt/stick" ] && break; sleep 0.1; done
dev=$(losetup -f --show -P "$work/mnt/stick")
printf 'write_rate=%s\nread_rate=%s\n' "$write_rate" "$read_rate" >"$work/mnt/control"
counter() { sed -n "s/^$1=//p" "$work/mnt/control"; }
echo "stick: $dev at $((write_rate / 1000000)) MB/s writing, $((read_rate / 1000000)) MB/s reading"

echo "== whole stick run"
# Write requests as the loop device passed them on: a stick pays for each
# request as well as for each byte.
requests() { awk '{print $5, $7}' "/sys/block/$(basename "$dev")/stat"; }
r0=$(counter read); w0=$(counter written); read -r q0 s0 < <(requests)
run_secs=$("$driver" "$(basename "$dev")" "$work/inst" | sed -n 's/^run //p')
read_bytes=$(($(counter read) - r0)); written=$(($(counter written) - w0))
read -r q1 s1 < <(requests)
echo "run: $run_secs s; at the device: $written bytes written, $read_bytes bytes read;" \
    "$((q1 - q0)) write requests of $(((s1 - s0) / 2 / (q1 - q0 > 0 ? q1 - q0 : 1))) KiB on average"

echo "== dd writing the same bytes, then reading them back"
mib=$(((written + 1048575) / 1048576))
# Once through the device's cache as the tools write, once past it.
dd_pass() { # FLAGS_OUT FLAGS_IN
    local start mid end
    start=$(date +%s.%N)
    dd if=/dev/zero of="$dev" bs=1M count="$mib" $1 conv=fsync status=none
    mid=$(date +%s.%N)
    blockdev --flushbufs "$dev"
    dd if="$dev" of=/dev/null bs=1M count="$mib" $2 status=none
    end=$(date +%s.%N)
    awk -v a="$start" -v m="$mid" -v b="$end" 'BEGIN{printf "%.3f %.3f %.3f\n", m-a, b-m, b-a}'
}
read -r bw br bt < <(dd_pass "" "")
read -r dw dr dt < <(dd_pass oflag=direct iflag=direct)
echo "dd buffered: $bw s writing + $br s reading $mib MiB"
echo "dd direct:   $dw s writing + $dr s reading $mib MiB"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }
echo "== run / dd buffered: $(ratio "$run_secs" "$bt"); run / dd direct: $(ratio "$run_secs" "$dt")" \
    "(read at the device: $(ratio "$read_bytes" "$written") x the bytes written)"
