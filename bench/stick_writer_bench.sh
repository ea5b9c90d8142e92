#!/usr/bin/env bash
# Times a whole stick run in one process against the same run through
# flintmere-stick-writer (the window's way), fixed pauses left out, on a loop
# device. Needs root and loop devices.
#
#   bench/stick_writer_bench.sh [SIZE_MIB]      (default 1024)
#
# Environment: FLINTMERE_BENCH_BUILD_DIR (default build-bench),
#              FLINTMERE_BENCH_DIR (where the image goes, default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
rounds=5

build=${FLINTMERE_BENCH_BUILD_DIR:-build-bench}
echo "== build ($build, RelWithDebInfo)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLINTMERE_BENCH=ON \
    -DFLINTMERE_TESTS=OFF -DFLINTMERE_GUI=OFF >/dev/null
cmake --build "$build" --target flintmere stick_writer_bench_driver stick_writer_bench_writer \
    -j 2 >"$build/bench-build.log" 2>&1 ||
    { grep -E "error|FAILED" "$build/bench-build.log" | head -n 20 >&2; exit 1; }

work=$(mktemp -d "${FLINTMERE_BENCH_DIR:-/var/tmp}/flintmere-writer-XXXXXX")
dev=''
cleanup() {
    [ -n "$dev" ] && losetup -d "$dev"
    rm -rf "$work"
}
trap cleanup EXIT

FLINTMERE_BIN=$build/flintmere FLINTMERE_WRITER_BIN=$build/bench/stick_writer_bench_writer \
    scripts/make-install-folder "$work/inst" >/dev/null
echo "== distribution: one ${size_mib} MiB image"
head -c "${size_mib}M" /dev/urandom >"$work/inst/kx/image_zev-1.2.3.4-5.tar"
truncate -s $((size_mib + 512))M "$work/stick.img"
dev=$(losetup -f --show -P --direct-io=on "$work/stick.img")
echo "stick: $dev"

echo "== $rounds rounds in turns, best time each"
read -r _ here _ writer < <("$build/bench/stick_writer_bench_driver" "$(basename "$dev")" \
    "$work/inst" "$rounds" 2>/dev/null | tail -n 1)
echo "in one process: $here s"
echo "through the stick writer: $writer s"
echo "== writer / one process: $(awk -v a="$writer" -v b="$here" 'BEGIN{printf "%.3f", a/b}')"
