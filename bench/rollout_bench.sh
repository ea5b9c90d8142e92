#!/usr/bin/env bash
# A rollout against the single runs it replaces, fixed pauses left out:
#  - images: an 8-unit table in one run (the distribution staged once, images
#    mastered in parallel) against 8 whole ISO builds one after another;
#  - sticks: 3 slow faulty sticks (20 MB/s writing, 30 MB/s reading) written
#    at once against 1 of them alone.
# Prints both ratios. Needs root, loop devices and /dev/fuse for the sticks.
#
#   bench/rollout_bench.sh [SIZE_MIB]      (distribution image, default 128)
#
# Environment: FLINTMERE_BENCH_BUILD_DIR (default build-bench),
#              FLINTMERE_BENCH_DIR (where the work goes, default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-128}
stick_bytes=$((1200 * 1048576))
build=${FLINTMERE_BENCH_BUILD_DIR:-build-bench}
echo "== build ($build, RelWithDebInfo)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLINTMERE_BENCH=ON \
    -DFLINTMERE_TESTS=ON -DFLINTMERE_GUI=OFF >/dev/null
cmake --build "$build" --target rollout_bench_driver stick_writer_bench_writer faulty_stick \
    flintmere -j 2 >"$build/bench-build.log" 2>&1 ||
    { grep -E "error|FAILED" "$build/bench-build.log" | head -n 20 >&2; exit 1; }
driver=$(pwd)/$build/bench/rollout_bench_driver
server=$(pwd)/$build/tests/faulty_stick

work=$(mktemp -d "${FLINTMERE_BENCH_DIR:-/var/tmp}/flintmere-rollout-XXXXXX")
devs=()
pids=()
cleanup() {
    for d in "${devs[@]}"; do losetup -d "$d" 2>/dev/null || true; done
    for i in "${!pids[@]}"; do
        umount -l "$work/s$i/mnt" 2>/dev/null || true
        kill "${pids[$i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

echo "== installation folder with a ${size_mib} MiB image"
FLINTMERE_BIN=$(pwd)/$build/flintmere FLINTMERE_WRITER_BIN=$(pwd)/$build/bench/stick_writer_bench_writer \
    scripts/make-install-folder "$work/inst" >/dev/null
head -c "${size_mib}M" /dev/urandom >"$work/inst/kx/image_zev-1.2.3.4-5.tar"
export TMPDIR=$work/

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }

echo "== images: 8 units"
{
    echo "kestrel_label,kestrel_lan,kestrel_wan,kestrel_gw,hw_platform,vm_platform"
    for i in $(seq 1 8); do echo "vm-$i,10.9.0.$((10 + i)) 255.255.255.0,10.7.0.$((10 + i)) 255.255.255.0,10.9.0.1,advantech250,Vhw_Small"; done
} >"$work/images.csv"
read -r _ single _ table < <("$driver" iso "$work/inst" "$work/images.csv" "$work/images")
echo "8 single builds: $single s; the table: $table s ($(nproc) cores)"
echo "== table / single builds: $(ratio "$table" "$single")"
rm -rf "$work/images"

if [ ! -e /dev/fuse ] || [ "$(id -u)" -ne 0 ]; then
    echo "== sticks: skipped (needs root and /dev/fuse)"
    exit 0
fi
echo "== sticks: 3 at 20 MB/s writing, 30 MB/s reading"
names=()
for i in 0 1 2; do
    mkdir -p "$work/s$i/mnt"
    "$server" "$work/s$i/back.img" "$stick_bytes" "$work/s$i/mnt" &
    pids+=($!)
    for _ in $(seq 50); do [ -e "$work/s$i/mnt/stick" ] && break; sleep 0.1; done
    dev=$(losetup -f --show -P "$work/s$i/mnt/stick")
    devs+=("$dev")
    names+=("$(basename "$dev")")
    printf 'write_rate=20000000\nread_rate=30000000\n' >"$work/s$i/mnt/control"
done
{
    echo "kestrel_label,kestrel_lan,kestrel_wan,kestrel_gw,usb_stick_partitioned"
    for i in $(seq 1 4); do echo "sbc-$i,10.8.0.$((10 + i)) 255.255.255.0,10.6.0.$((10 + i)) 255.255.255.0,10.8.0.1,1"; done
} >"$work/sticks.csv"
read -r _ one _ all < <("$driver" sticks "$work/inst" "$work/sticks.csv" "${names[@]}")
echo "1 stick: $one s; 3 sticks at once: $all s"
echo "== 3 sticks / 1 stick: $(ratio "$all" "$one")"
