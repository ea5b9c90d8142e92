# USB stick boot proofs (sourced by scripts/boot-check after boot-common.sh).
#
# The sticks are made by the program's own stick sequence: the end-to-end
# tests run it on a loop device over a sparse image, with the installation
# folder that holds the real kernel (FLINTMERE_E2E_INSTALL_DIR), and keep the
# images (FLINTMERE_E2E_KEEP_DIR). Each image then boots in QEMU as a USB
# stick; a proof passes only when the booted kernel prints its command line
# with the option that the stick's boot loader entry gives it.
#
#   proof_usb_mbr_bios   MBR stick with SYSLINUX, SeaBIOS   ("bootsrc=syslinux")
#   proof_usb_gpt_uefi   GPT stick, OVMF and systemd-boot   ("bootsrc=systemd-boot")

# Makes both stick images once; prints nothing on success.
boot_usb_make_images() {
    local dir=$BOOT_WORK/usb build test_bin
    [ -f "$dir/.made" ] && return 0
    mkdir -p "$dir"
    if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/loop-control ]; then
        echo "the stick proofs need root and loop devices" >&2
        return 1
    fi
    build=${FLINTMERE_BUILD_DIR:-build}
    test_bin=$BOOT_ROOT/$build/tests/test_e2e_usb_e2e
    if [ ! -f "$BOOT_ROOT/$build/CMakeCache.txt" ]; then
        cmake -S "$BOOT_ROOT" -B "$BOOT_ROOT/$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$BOOT_ROOT/$build" --target test_e2e_usb_e2e -j "$(nproc)" >/dev/null
    FLINTMERE_E2E_INSTALL_DIR=$BOOT_INSTALL FLINTMERE_E2E_KEEP_DIR=$dir \
        "$test_bin" --gtest_filter='usb_e2e.MbrWithLegacyLoader:usb_e2e.GptUefiOnly' \
        >"$dir/e2e.log" 2>&1 || {
        echo "--- the stick runs failed" >&2
        grep -v '^\[[A-Z][a-z][a-z] ' "$dir/e2e.log" | tail -n 30 >&2
        return 1
    }
    # A skipped test keeps no image.
    [ -s "$dir/usb-mbr-bios.img" ] && [ -s "$dir/usb-gpt-uefi.img" ] || {
        echo "--- no stick images were kept" >&2
        tail -n 20 "$dir/e2e.log" >&2
        return 1
    }
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
