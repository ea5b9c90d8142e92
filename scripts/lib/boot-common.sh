# shellcheck shell=bash
# Shared pieces of the boot proofs (sourced by scripts/boot-check).
#
# A proof boots a medium the program made in QEMU with a real Debian kernel
# and a one-file initrd whose init writes its kernel command line to the
# second serial port, which nothing else uses, between two marker lines:
#     flintmere-cmdline-begin
#     <contents of /proc/cmdline>
#     flintmere-cmdline-end
# and powers the machine off. The proof then reads that line back. Kernel
# messages go to the first serial port (the console) only, so none can land
# inside the line; the console also shows "flintmere-cmdline: ..." for people.
#
# Functions:
#   boot_ensure_packages             installs qemu-system-x86 ovmf busybox-static cpio when missing
#   boot_fetch_kernel DIR            Debian's default kernel, unpacked into DIR; prints its path
#   boot_build_initrd FILE           writes the initrd (gzip'd newc cpio) to FILE
#   boot_run_qemu SECONDS LOG ARGS   runs qemu-system-x86_64 (TCG, -nographic, console on
#                                    stdout into LOG, second serial port into LOG.cmdline)
#                                    with ARGS, bounded by SECONDS
#   boot_cmdline LOG                 prints the command line the booted kernel reported:
#                                    the one line between the markers in LOG.cmdline
#   boot_ovmf_code / boot_ovmf_vars  paths of the UEFI firmware code and a variables template
#
# Variables set by scripts/boot-check before the proofs run:
#   BOOT_ROOT     the source tree
#   BOOT_WORK     a work folder for the proofs (removed at the end)
#   BOOT_BUILD    the build folder (absolute)
#   BOOT_BIN      the built program
#   BOOT_KERNEL   the real kernel; BOOT_INITRD the initrd
#   BOOT_INSTALL  an installation folder with them (scripts/make-install-folder)

boot_ensure_packages() {
    local missing=() p
    for p in qemu-system-x86 ovmf busybox-static cpio; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        # Waits for another apt run rather than failing on its lock.
        local apt=(apt-get -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends)
        DEBIAN_FRONTEND=noninteractive "${apt[@]}" "${missing[@]}" ||
            { apt-get update -qq && DEBIAN_FRONTEND=noninteractive "${apt[@]}" "${missing[@]}"; }
    fi
}

# The kernel package the Debian default depends on, e.g. linux-image-6.1.0-57-amd64.
boot_kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n 1
}

boot_fetch_kernel() {
    local dir=$1 pkg deb
    mkdir -p "$dir"
    pkg=$(boot_kernel_package)
    if [ -z "$pkg" ]; then
        apt-get update -qq
        pkg=$(boot_kernel_package)
    fi
    [ -n "$pkg" ] || { echo "no Debian kernel package found" >&2; return 1; }
    if [ -s "$dir/$pkg.vmlinuz" ]; then
        echo "$dir/$pkg.vmlinuz"
        return 0
    fi
    (cd "$dir" && apt-get download -qq -o APT::Sandbox::User=root "$pkg" >&2) ||
        { apt-get update -qq && (cd "$dir" && apt-get download -qq -o APT::Sandbox::User=root "$pkg" >&2); } || return 1
    deb=$(ls -t "$dir"/"$pkg"_*.deb | head -n 1)
    # Only the kernel image: the modules are not needed to print a command line.
    dpkg-deb --fsys-tarfile "$deb" | tar -x -O --wildcards './boot/vmlinuz-*' >"$dir/$pkg.vmlinuz.part"
    [ -s "$dir/$pkg.vmlinuz.part" ] || { echo "no vmlinuz in $deb" >&2; return 1; }
    mv "$dir/$pkg.vmlinuz.part" "$dir/$pkg.vmlinuz"
    rm -f "$deb"
    echo "$dir/$pkg.vmlinuz"
}

boot_build_initrd() {
    local out=$1 tree
    tree=$(mktemp -d)
    mkdir -p "$tree/bin" "$tree/proc" "$tree/dev"
    cp /bin/busybox "$tree/bin/busybox"
    cat >"$tree/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox mount -t proc proc /proc
/bin/busybox mount -t devtmpfs dev /dev 2>/dev/null
# Only emergencies on the console from here on, for a readable log.
/bin/busybox dmesg -n 1
cmdline=$(/bin/busybox cat /proc/cmdline)
echo "flintmere-cmdline: $cmdline"
# The proof's copy goes to the second serial port, where no kernel message goes.
printf 'flintmere-cmdline-begin\n%s\nflintmere-cmdline-end\n' "$cmdline" >/dev/ttyS1
/bin/busybox sync
/bin/busybox poweroff -f
EOF
    chmod 0755 "$tree/init"
    (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -9n) >"$out"
    rm -rf "$tree"
}

boot_run_qemu() {
    local seconds=$1 log=$2
    shift 2
    # Without KVM (TCG) a Debian kernel boots in a few seconds; the bound
    # keeps a medium that does not boot from hanging the proof.
    rm -f "$log.cmdline"
    timeout --foreground -k 5 "$seconds" qemu-system-x86_64 -machine q35,accel=tcg -m 512 \
        -nographic -no-reboot -serial mon:stdio -serial "file:$log.cmdline" \
        "$@" </dev/null >"$log" 2>&1 || true
}

# The line between the markers, only when there is exactly one.
boot_cmdline() {
    [ -f "$1.cmdline" ] || return 0
    tr -d '\r' <"$1.cmdline" | awk '
        $0 == "flintmere-cmdline-begin" { inside = 1; n = 0; next }
        $0 == "flintmere-cmdline-end" && inside { if (n == 1) { print line; exit } inside = 0; next }
        inside { n++; line = $0 }'
}

boot_ovmf_code() {
    local f
    for f in /usr/share/OVMF/OVMF_CODE_4M.fd /usr/share/OVMF/OVMF_CODE.fd; do
        [ -f "$f" ] && { echo "$f"; return 0; }
    done
    return 1
}

boot_ovmf_vars() {
    local f
    for f in /usr/share/OVMF/OVMF_VARS_4M.fd /usr/share/OVMF/OVMF_VARS.fd; do
        [ -f "$f" ] && { echo "$f"; return 0; }
    done
    return 1
}
