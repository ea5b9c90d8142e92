#!/usr/bin/env bash
# Times the copy engine against `cp -r`, and the whole ISO build against
# `cp -r` plus genisoimage by hand, on the same multi-gigabyte distribution
# tree, and reports the ratios and the peak memory. The program's fixed
# pauses (500 ms per copied file and after each announced step) are taken
# out by bench/iso_bench_driver.cpp; the real program is timed too.
#
#   bench/iso_bench.sh [SIZE_GIB]      (default 3; needs about 4 x SIZE_GIB free)
#
# Environment: FLINTMERE_BENCH_BUILD_DIR (default build-bench),
#              FLINTMERE_BENCH_DIR (where the trees go, default /var/tmp).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
size_gib=${1:-3}
rounds=2

build=${FLINTMERE_BENCH_BUILD_DIR:-build-bench}
echo "== build ($build, RelWithDebInfo)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFLINTMERE_BENCH=ON \
    -DFLINTMERE_TESTS=OFF -DFLINTMERE_GUI=OFF >/dev/null
if ! cmake --build "$build" --target flintmere iso_bench_driver -j 2 >"$build/bench-build.log" 2>&1; then
    grep -E "error|FAILED" "$build/bench-build.log" | head -n 20 >&2
    echo "build failed (see $build/bench-build.log)" >&2
    exit 1
fi
driver=$root/$build/bench/iso_bench_driver

work=$(mktemp -d "${FLINTMERE_BENCH_DIR:-/var/tmp}/flintmere-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
inst=$work/install
FLINTMERE_BIN=$root/$build/flintmere scripts/make-install-folder "$inst" >/dev/null
cp samples/config.xml "$work/site1.xml"
mkdir -p "$work/tmp"
export TMPDIR=$work/tmp/

echo "== distribution tree: $size_gib GiB"
# One large image, as the appliance ships it, and a folder of smaller files.
rm -f "$inst"/kx/image_zev-*.tar
small_count=64
small_mib=8
image_mib=$((size_gib * 1024 - small_count * small_mib))
head -c "${image_mib}M" /dev/urandom >"$inst/kx/image_zev-1.2.3.4-5.tar"
mkdir -p "$inst/kx/extras"
for i in $(seq 1 "$small_count"); do
    head -c "${small_mib}M" /dev/urandom >"$inst/kx/extras/part$i.bin"
done
files=$(find "$inst/kx" -type f | wc -l)
bytes=$(du -sb "$inst/kx" | cut -f1)
echo "$files files, $bytes bytes"
cat "$inst"/kx/image_zev-*.tar "$inst"/kx/extras/* >/dev/null # into the page cache

# measure NAME COMMAND...: best wall time of $rounds runs and the largest peak RSS.
declare -A secs rss
measure() {
    local name=$1 best='' peak=0 i e m
    shift
    for i in $(seq 1 "$rounds"); do
        sync
        /usr/bin/time -f '%e %M' -o "$work/time.out" "$@" >"$work/run.out" 2>&1 ||
            { cat "$work/run.out" >&2; echo "$name failed" >&2; exit 1; }
        read -r e m <"$work/time.out"
        if [ -z "$best" ] || awk -v a="$e" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$e; fi
        [ "$m" -gt "$peak" ] && peak=$m
        cleanup_after "$name"
    done
    secs[$name]=$best
    rss[$name]=$peak
    printf '%-28s %8.2f s   peak RSS %7d KiB\n' "$name" "$best" "$peak"
}
cleanup_after() {
    rm -rf "$work/dst" "$work"/tmp/flintmere_*/ "$work"/*.iso
    mkdir -p "$work/dst"
}
mkdir -p "$work/dst"

by_hand() {
    local t=$work/tmp/byhand
    mkdir -p "$t/EFI/BOOT" "$t/loader/entries"
    cp -r "$inst/kx/." "$t/"
    cp "$inst/syslinux/syslinux.cfg" "$inst/syslinux/isolinux.bin" "$inst/syslinux/ldlinux.c32" "$t/"
    sed '0,/APPEND /s//APPEND vmcdromboot=true /' "$inst/syslinux/syslinux.cfg" >"$t/isolinux.cfg"
    cp "$inst/systemd-boot/systemd-bootx64.efi" "$t/EFI/BOOT/BOOTX64.EFI"
    cp "$inst/systemd-boot/loader.conf" "$t/loader/loader.conf"
    cp "$inst/systemd-boot/iso.conf" "$t/loader/entries/auto.conf"
    genisoimage -o "$work/byhand.iso" -b isolinux.bin -c boot.cat -no-emul-boot \
        -boot-load-size 4 -boot-info-table -iso-level 4 "$t"
    rm -rf "$t"
}
export -f by_hand
export work inst

echo "== copy: $rounds rounds each, best time"
measure "cp -r" cp -r "$inst/kx/." "$work/dst/"
measure "copy engine (no pauses)" "$driver" copy "$inst/kx" "$work/dst"

echo "== ISO build"
measure "cp -r + genisoimage" bash -c by_hand
measure "ISO build (no pauses)" "$driver" iso "$inst" "$work/site1.xml" "$work/site1.iso"
rounds=1
measure "program, batch mode" "$inst/flintmere" "$work/site1.xml"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a/b}'; }
echo "== summary ($size_gib GiB, $files files)"
echo "copy engine / cp -r:                 $(ratio "${secs[copy engine (no pauses)]}" "${secs[cp -r]}")"
echo "ISO build / (cp -r + genisoimage):   $(ratio "${secs[ISO build (no pauses)]}" "${secs[cp -r + genisoimage]}")"
echo "peak RSS: copy engine ${rss[copy engine (no pauses)]} KiB, cp -r ${rss[cp -r]} KiB,"\
    "ISO build ${rss[ISO build (no pauses)]} KiB (the program or genisoimage, whichever is larger),"\
    "by hand ${rss[cp -r + genisoimage]} KiB"
echo "(the real program adds its fixed pauses: 500 ms per copied file after the first of each folder, and 3.5 s more)"
