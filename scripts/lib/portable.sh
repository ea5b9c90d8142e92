# shellcheck shell=bash
# Makes an installation folder run where none of the build's packages is
# installed (sourced by scripts/make-install-folder --portable): the program,
# the tools it runs and the Qt platform plugins, each with the shared
# libraries it needs in lib/, found through $ORIGIN run paths, and a font
# with its fontconfig file in fonts/ for machines that have none.
#
# The C library, the X11/Wayland client libraries of the desktop, the GL
# dispatch libraries and the D-Bus client library stay the host's: they must
# match the host's display server, GPU drivers and session bus, which a
# bundled copy would not.
#
#   portable_bundle DIR PROGRAM...   PROGRAM... go into DIR, the rest around them
#   portable_verify DIR [ROOT]       every ELF file of DIR (outside kx/) finds each library
#                                    it names in DIR, the C library or the desktop's set;
#                                    with ROOT, DIR lies in the system at ROOT, and ldd runs
#                                    there. Prints the count and the newest glibc needed.

# Libraries of the C library, which every Linux system brings in one piece.
portable_glibc_re='^(ld-linux[-a-z0-9_]*\.so\.[0-9]+|lib(c|m|mvec|pthread|dl|rt|resolv|util|anl|nsl|BrokenLocale|thread_db|nss_[a-z]+)\.so\.[0-9.]+|linux-vdso\.so\.1)$'
# Libraries of the desktop: display and bus clients, GL dispatch.
portable_desktop_re='^lib(dbus-1|X11|X11-xcb|Xau|Xdmcp|Xext|Xrender|Xi|Xfixes|Xcursor|Xrandr|SM|ICE|xcb|xcb-[a-z0-9-]+|xkbcommon|xkbcommon-x11|wayland-[a-z]+|EGL|GL|GLX|OpenGL|GLdispatch|GLESv2|drm|gbm|vulkan)\.so\.[0-9.]+$'

# A font for machines that have none (the window reads it only there).
portable_font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
portable_data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../data" && pwd)

portable_qt_plugins=/usr/lib/x86_64-linux-gnu/qt6/plugins
# Qt's platform plugins: X11 and XWayland, Wayland, offscreen; with the
# shells and decorations Wayland loads and the input method of compose keys.
# The widgets paint without OpenGL, so its glue stays out (the folder has a
# size budget), and so do picture formats: the program decodes no picture
# (a logo is copied as it is).
portable_qt_plugin_globs=(
    platforms/libqxcb.so platforms/libqwayland-generic.so platforms/libqoffscreen.so
    'wayland-shell-integration/*.so' 'wayland-decoration-client/*.so'
    platforminputcontexts/libcomposeplatforminputcontextplugin.so
)

# Prints the Debian package that owns FILE (a path, links followed or not).
portable_package_of() {
    local f=$1 real owner
    real=$(readlink -f "$f")
    for p in "$f" "$real" "${real#/usr}" "/usr$real"; do
        owner=$(dpkg -S "$p" 2>/dev/null | head -n 1) && [ -n "$owner" ] && break
    done
    [ -n "$owner" ] || owner=$(dpkg -S "*/$(basename "$real")" 2>/dev/null | head -n 1)
    owner=${owner%%:*}
    echo "${owner%%,*}"
}

# Prints the libraries ELF file F names itself (DT_NEEDED).
portable_needed() {
    objdump -p "$1" | awk '$1 == "NEEDED" { print $2 }'
}

# Copies ELF file SRC to DEST with run path RPATH, then every library it
# needs that is neither the C library's nor the desktop's into
# $portable_dir/lib, and what those need in turn.
portable_add_elf() {
    local src=$1 dest=$2 rpath=$3 name path
    install -D -m 0755 "$src" "$dest"
    patchelf --set-rpath "$rpath" "$dest"
    portable_note_package "$src"
    # Where this system finds each library of SRC's whole tree.
    declare -A where=()
    while read -r name path; do
        where[$name]=$path
    done < <(ldd "$src" | awk '$2 == "=>" { print $1, $3 }')
    local todo=() lib
    mapfile -t todo < <(portable_needed "$src")
    while [ ${#todo[@]} -gt 0 ]; do
        name=${todo[0]}
        todo=("${todo[@]:1}")
        if [[ $name =~ $portable_glibc_re ]] || [[ $name =~ $portable_desktop_re ]]; then
            continue
        fi
        [ -e "$portable_dir/lib/$name" ] && continue
        path=${where[$name]:-}
        if [ -z "$path" ] || [ "$path" = "not" ]; then
            echo "$0: $src needs $name, which this system does not have" >&2
            return 1
        fi
        lib=$portable_dir/lib/$name
        install -m 0644 "$(readlink -f "$path")" "$lib"
        # A library that needs only the C library finds it without a path.
        if portable_needed "$lib" | grep -vqE "$portable_glibc_re"; then
            patchelf --set-rpath '$ORIGIN' "$lib"
        fi
        portable_note_package "$path"
        mapfile -t -O ${#todo[@]} todo < <(portable_needed "$lib")
    done
}

portable_note_package() {
    local pkg
    pkg=$(portable_package_of "$1")
    [ -n "$pkg" ] && echo "$pkg" >>"$portable_dir/.packages"
    return 0
}

portable_bundle() {
    portable_dir=$1
    shift
    local prog tool plugin f
    mkdir -p "$portable_dir/lib" "$portable_dir/tools" "$portable_dir/LICENSES"
    : >"$portable_dir/.packages"
    for prog in "$@"; do
        portable_add_elf "$prog" "$portable_dir/$(basename "$prog")" '$ORIGIN/lib'
        # The build's debugging data is of no use in the field.
        strip --strip-unneeded "$portable_dir/$(basename "$prog")"
    done

    # The tools, where the program looks for them (src/platform/tool_path.cpp).
    # The mtools commands as small scripts, not links: the folder may be
    # copied onto a FAT stick, which holds no links.
    portable_add_elf /usr/bin/mtools "$portable_dir/tools/mtools" '$ORIGIN/../lib'
    for tool in mcopy mdir mmd mshowfat mattrib mtype; do
        printf '#!/bin/sh\nexec "${0%%/*}/mtools" -c %s "$@"\n' "$tool" >"$portable_dir/tools/$tool"
        chmod 0755 "$portable_dir/tools/$tool"
    done
    for tool in /sbin/mkfs.fat /sbin/fsck.fat /sbin/sfdisk /usr/bin/syslinux /usr/bin/genisoimage; do
        portable_add_elf "$tool" "$portable_dir/tools/$(basename "$tool")" '$ORIGIN/../lib'
    done

    for plugin in "${portable_qt_plugin_globs[@]}"; do
        for f in "$portable_qt_plugins"/$plugin; do
            [ -f "$f" ] || continue
            portable_add_elf "$f" "$portable_dir/plugins/${f#"$portable_qt_plugins"/}" '$ORIGIN/../../lib'
        done
    done
    cat >"$portable_dir/qt.conf" <<'QTCONF'
[Paths]
Prefix = .
Plugins = plugins
QTCONF

    # fontconfig, in the folder's lib/, finds no configuration and no font
    # on a bare machine; the window then points it here.
    install -D -m 0644 "$portable_font" "$portable_dir/fonts/$(basename "$portable_font")"
    install -m 0644 "$portable_data/portable-fonts.conf" "$portable_dir/fonts/fonts.conf"
    portable_note_package "$portable_font"

    # The licence of every package something was taken from.
    for f in /usr/lib/ISOLINUX/isolinux.bin /usr/lib/syslinux/modules/bios/ldlinux.c32 \
        /usr/lib/syslinux/mbr/mbr.bin /usr/lib/systemd/boot/efi/systemd-bootx64.efi; do
        portable_note_package "$f"
    done
    # Packages of one source share one text, which is kept once.
    local pkg first
    declare -A seen=()
    for pkg in $(sort -u "$portable_dir/.packages"); do
        f=/usr/share/doc/$pkg/copyright
        [ -f "$f" ] || continue
        mkdir -p "$portable_dir/LICENSES/$pkg"
        first=${seen[$(sha256sum <"$f")]:-}
        if [ -n "$first" ]; then
            echo "The same text as LICENSES/$first/copyright." >"$portable_dir/LICENSES/$pkg/copyright"
        else
            seen[$(sha256sum <"$f")]=$pkg
            install -m 0644 "$f" "$portable_dir/LICENSES/$pkg/copyright"
        fi
    done
    rm -f "$portable_dir/.packages"
}

portable_verify() {
    local dir=$1 sysroot=${2:-} f rel resolved name path count=0 glibc=
    while IFS= read -r -d '' f; do
        # 64-bit ELF files only: the boot loader's modules are the appliance's.
        [ "$(od -An -tx1 -N5 "$f" | tr -d ' ')" = 7f454c4602 ] || continue
        count=$((count + 1))
        rel=${f#"$sysroot"}
        glibc=$( (echo "$glibc"; objdump -T "$f" | grep -o 'GLIBC_[0-9][0-9.]*' || true) | sort -V | tail -n 1)
        if [ -n "$sysroot" ]; then
            resolved=$(chroot "$sysroot" ldd "$rel") || return 1
        else
            resolved=$(ldd "$rel") || return 1
        fi
        for name in $(portable_needed "$f"); do
            path=$(awk -v n="$name" '$1 == n && $2 == "=>" { print $3; exit }' <<<"$resolved")
            case "$path" in "${dir#"$sysroot"}"/*) continue ;; esac
            if [[ $name =~ $portable_glibc_re ]] || [[ $name =~ $portable_desktop_re ]]; then
                [[ $path == /* ]] || [[ $name =~ ^ld-linux ]] || {
                    echo "$0: $rel: $name not found" >&2
                    return 1
                }
                continue
            fi
            echo "$0: $rel: $name resolves to ${path:-nothing}, outside the folder" >&2
            return 1
        done
    done < <(find "$dir" -path "$dir/kx" -prune -o -type f -print0)
    echo "$count ELF files, newest glibc symbols ${glibc#GLIBC_}"
}
