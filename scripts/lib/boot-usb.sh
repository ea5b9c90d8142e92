# shellcheck shell=bash
# USB stick boot proofs (sourced by scripts/boot-check after boot-common.sh).
#
# The sticks are made by the program's own stick sequence: the end-to-end
# tests run it on a loop device over a sparse image, with an installation
# folder that holds the real kernel (FLINTMERE_E2E_INSTALL_DIR), and keep the
# images (FLINTMERE_E2E_KEEP_DIR). Each image then boots in QEMU as a USB
# stick; a proof passes only when the booted kernel prints its command line
# with the option that the stick's boot loader entry gives it.
#
# The shipped flintmere-stick-writer writes only to a removable USB disk that
# is attached now, and rightly refuses a loop device. A file becomes such a
# disk only through the USB gadget drivers (dummy_hcd and a mass-storage
# function over configfs), which the machines this runs on lack: no kernel
# modules, no configfs, no USB bus at all. So the sticks are written by the
# test build of the writer (tests/helper/test_writer_main.cpp): the same
# writing code, which also admits the loop device the test names. The rest of
# the folder is the one the ISO proof uses.
#
#   proof_usb_mbr_bios   MBR stick with SYSLINUX, SeaBIOS   ("bootsrc=syslinux")
#   proof_usb_gpt_uefi   GPT stick, OVMF and systemd-boot   ("bootsrc=systemd-boot")

# Makes both stick images once and says which writer wrote them.
boot_usb_make_images() {
    local dir=$BOOT_WORK/usb inst test_bin test_writer
    [ -f "$dir/.made" ] && return 0
    # Made once for both proofs, failed once for both.
    [ -f "$dir/.failed" ] && { echo "no stick images (see the first stick proof)" >&2; return 1; }
    mkdir -p "$dir"
    touch "$dir/.failed"
    if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/loop-control ]; then
        echo "the stick proofs need root and loop devices" >&2
        return 1
    fi
    test_bin=$BOOT_BUILD/tests/test_e2e_usb_e2e
    test_writer=$BOOT_BUILD/tests/flintmere-stick-writer-test
    if [ ! -f "$BOOT_BUILD/CMakeCache.txt" ]; then
        cmake -S "$BOOT_ROOT" -B "$BOOT_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    # Nothing to do after scripts/test's build; the test program builds the writer too.
    cmake --build "$BOOT_BUILD" --target test_e2e_usb_e2e -j "$(nproc)" >/dev/null
    [ -x "$test_writer" ] || { echo "no test writer at $test_writer" >&2; return 1; }
    inst=$dir/install
    rm -rf "$inst"
    cp -a "$BOOT_INSTALL" "$inst"
    install -m 0755 "$test_writer" "$inst/flintmere-stick-writer"
    echo "stick writer: the test build (admits the loop device; no USB gadget drivers here)"
    # Two stick runs take well under a minute; the bound keeps a hung one from
    # holding up scripts/test.
    FLINTMERE_E2E_INSTALL_DIR=$inst FLINTMERE_E2E_KEEP_DIR=$dir \
        timeout -k 10 300 "$test_bin" --gtest_filter='usb_e2e.MbrWithLegacyLoader:usb_e2e.GptUefiOnly' \
        >"$dir/e2e.log" 2>&1 || {
        echo "--- the stick runs failed" >&2
        # The test's own words, then the boxes of the runs' logs.
        grep -v '^\[[A-Z][a-z][a-z] ' "$dir/e2e.log" | tail -n 30 >&2
        sed -n 's/^\[[^]]*\] DisplayMessage(): //p' "$dir/e2e.log" | sort -u >&2
        return 1
    }
    # A skipped test keeps no image.
    [ -s "$dir/usb-mbr-bios.img" ] && [ -s "$dir/usb-gpt-uefi.img" ] || {
        echo "--- no stick images were kept" >&2
        tail -n 20 "$dir/e2e.log" >&2
        return 1
    }
    rm -f "$dir/.failed"
    touch "$dir/.made"
}

# boot_usb_check LOG WORD: the booted kernel's command line holds WORD.
boot_usb_check() {
    local log=$1 word=$2 cmdline
    cmdline=$(boot_cmdline "$log")
    echo "booted kernel command line: ${cmdline:-(none)}"
    if [[ " $cmdline " != *" $word "* ]]; then
        echo "--- serial console (last lines)" >&2
        tr -d '\r' <"$log" | tail -n 30 >&2
        return 1
    fi
}

# The stick on an xHCI controller, as a real one would be; the image itself
# is not changed by the boot (snapshot).
boot_usb_drive_args() {
    printf '%s\n' -drive "if=none,id=stick,format=raw,snapshot=on,file=$1" \
        -device qemu-xhci,id=xhci -device usb-storage,bus=xhci.0,drive=stick,bootindex=1
}

proof_usb_mbr_bios() {
    local dir=$BOOT_WORK/usb log args
    boot_usb_make_images || return 1
    log=$dir/qemu-mbr-bios.log
    mapfile -t args < <(boot_usb_drive_args "$dir/usb-mbr-bios.img")
    boot_run_qemu 180 "$log" "${args[@]}"
    boot_usb_check "$log" bootsrc=syslinux
}

proof_usb_gpt_uefi() {
    local dir=$BOOT_WORK/usb log args code vars
    boot_usb_make_images || return 1
    code=$(boot_ovmf_code) || { echo "no OVMF firmware (install ovmf)" >&2; return 1; }
    vars=$(boot_ovmf_vars) || { echo "no OVMF variables template (install ovmf)" >&2; return 1; }
    cp "$vars" "$dir/ovmf-vars.fd"
    log=$dir/qemu-gpt-uefi.log
    mapfile -t args < <(boot_usb_drive_args "$dir/usb-gpt-uefi.img")
    boot_run_qemu 240 "$log" \
        -drive "if=pflash,format=raw,readonly=on,file=$code" \
        -drive "if=pflash,format=raw,file=$dir/ovmf-vars.fd" \
        "${args[@]}"
    boot_usb_check "$log" bootsrc=systemd-boot
}
