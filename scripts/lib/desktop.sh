# shellcheck shell=bash
# The desktop's files of an installation folder, in DIR/share as a system
# keeps them (sourced by scripts/make-install-folder): the desktop entry,
# the icon in the hicolor theme, the AppStream metainfo, the manual pages,
# the bash completion and the stick writer's protocol.
#
#   desktop_tools_missing         prints the first tool this needs that is missing
#   desktop_files ROOT DIR        ROOT the source tree
#   desktop_man SRC.scd DEST      one manual page: scdoc, then lint-quiet roff

desktop_icon_sizes=(48 64 128 256)
desktop_id=org.corvane.flintmere

desktop_tools_missing() {
    local t
    for t in scdoc rsvg-convert; do
        command -v "$t" >/dev/null || { echo "$t"; return 0; }
    done
    return 1
}

# scdoc opens a paragraph before and after every heading, list and block;
# man readers skip the empty ones and lint counts each, so they are dropped.
desktop_man() {
    local src=$1 dest=$2
    mkdir -p "$(dirname "$dest")"
    scdoc <"$src" | awk '
        { lines[NR] = $0 }
        END {
            prev = ""
            for (i = 1; i <= NR; i++) {
                if (lines[i] == ".P") {
                    for (j = i + 1; j <= NR && lines[j] == ""; j++) {}
                    if (j > NR || lines[j] ~ /^\.(P|SH|SS|RE|TP|IP)( |$)/) continue
                    if (prev ~ /^\.(TH|SH|SS|P|RS)( |$)/) continue
                }
                print lines[i]
                prev = lines[i]
            }
        }' >"$dest"
}

desktop_files() {
    local root=$1 dir=$2 share=$2/share size
    # The pages carry the date of their source, not of the build.
    local epoch
    epoch=$(git -C "$root" log -1 --format=%ct -- docs/man 2>/dev/null || true)
    export SOURCE_DATE_EPOCH=${epoch:-$(stat -c %Y "$root/docs/man/flintmere.1.scd")}
    desktop_man "$root/docs/man/flintmere.1.scd" "$share/man/man1/flintmere.1"
    desktop_man "$root/docs/man/flintmere-stick-writer.8.scd" "$share/man/man8/flintmere-stick-writer.8"
    install -D -m 0644 "$root/data/$desktop_id.desktop" "$share/applications/$desktop_id.desktop"
    install -D -m 0644 "$root/data/$desktop_id.metainfo.xml" "$share/metainfo/$desktop_id.metainfo.xml"
    install -D -m 0644 "$root/data/$desktop_id.svg" "$share/icons/hicolor/scalable/apps/$desktop_id.svg"
    for size in "${desktop_icon_sizes[@]}"; do
        mkdir -p "$share/icons/hicolor/${size}x$size/apps"
        rsvg-convert -w "$size" -h "$size" -o "$share/icons/hicolor/${size}x$size/apps/$desktop_id.png" \
            "$root/data/$desktop_id.svg"
    done
    install -D -m 0644 "$root/data/flintmere.bash-completion" "$share/bash-completion/completions/flintmere"
    install -D -m 0644 "$root/docs/stick-writer-protocol.md" "$share/doc/flintmere/stick-writer-protocol.md"
}
