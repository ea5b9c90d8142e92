#!/usr/bin/env bash
# The media the program makes, held against fingerprints kept in
# tests/fixtures/media: an ISO image from batch mode (the shipped program)
# and the MBR and GPT sticks of the stick tests. Any change in what lands on
# a medium (a file, node.cfg, the boot catalogue, the partition layout or the
# boot code) fails here; with --update the fingerprints are written anew.
#
#   same_media.sh PROGRAM USB_TEST_BINARY TEST_WRITER SOURCE_DIR [--update]
set -uo pipefail
program=$1 usb_test=$2 test_writer=$3 source=$4 update=${5:-}
fixtures=$source/tests/fixtures/media
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

install=$work/install
FLINTMERE_BIN=$program "$source/scripts/make-install-folder" "$install" >/dev/null || {
    echo "could not make the installation folder"; exit 1; }

compare() {
    local name=$1 kind=$2 image=$3
    "$source/scripts/media-fingerprint" "$kind" "$image" "$install" >"$work/$name.txt" || {
        echo "$name: no fingerprint"; return 1; }
    if [ "$update" = --update ]; then
        cp "$work/$name.txt" "$fixtures/$name.txt"
        echo "$name: written"
    elif diff -u "$fixtures/$name.txt" "$work/$name.txt"; then
        echo "$name: same"
    else
        echo "$name: DIFFERS from the kept fingerprint"
        return 1
    fi
}

status=0
mkdir -p "$work/iso/tmp"
cp "$source/samples/config.xml" "$work/iso/site1.xml"
if (cd / && TMPDIR=$work/iso/tmp/ "$install/flintmere" "$work/iso/site1.xml" >"$work/iso/out" 2>&1); then
    compare iso iso "$work/iso/site1.iso" || status=1
else
    echo "the batch run failed:"; cat "$work/iso/out"; status=1
fi

if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/loop-control ]; then
    echo "the sticks need root and loop devices; only the image was compared"
    [ $status -eq 0 ] && exit 77
    exit $status
fi
mkdir -p "$work/sticks"
# The shipped writer rightly refuses a loop device; the test build of it
# writes the same way and admits the one the test names.
install -m 0755 "$test_writer" "$install/flintmere-stick-writer"
if FLINTMERE_E2E_INSTALL_DIR=$install FLINTMERE_E2E_KEEP_DIR=$work/sticks \
    timeout -k 10 300 "$usb_test" --gtest_filter='usb_e2e.MbrWithLegacyLoader:usb_e2e.GptUefiOnly' \
    >"$work/sticks/log" 2>&1; then
    for name in usb-mbr-bios usb-gpt-uefi; do
        if [ -s "$work/sticks/$name.img" ]; then
            compare "$name" stick "$work/sticks/$name.img" || status=1
        else
            echo "$name: the stick test kept no image (skipped?)"; grep -i skip "$work/sticks/log"
            status=1
        fi
    done
else
    echo "the stick runs failed:"; tail -n 30 "$work/sticks/log"; status=1
fi
exit $status
