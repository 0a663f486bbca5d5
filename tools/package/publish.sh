#!/usr/bin/env bash
# Puts one release into a race-data service's files folder and publishes its versions, so that
# launchers pointed at that service update themselves to it:
#   Windows: Qm_Korvane_Launcher.bin, Qm_Korvane_Plugin.bin, versions Launcher and Plugin
#   Linux:   Qm_Korvane_Launcher.linux.bin, Qm_Korvane_Plugin.linux.bin, versions
#            LauncherLinux and PluginLinux
# plus the version files (Qm_Korvane_<component>.ver for each of the four component names)
# and the driver's guide (Qm_Korvane_README.txt). The versions file the service answers from,
# Qm_Korvane_Published.txt, is written last, so no launcher is offered a version before its
# files are in place. Only whole executables go in; the packages are checked against
# SHA256SUMS first.
#
# usage: publish.sh VERSION DIST FILES_DIR
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: publish.sh VERSION DIST FILES_DIR" >&2; exit 2; }
version=$1 dist=$2 files=$3
zip=Brenvik-Korvane-$version-windows-x64.zip
tgz=brenvik-korvane-$version-linux-x86_64.tar.gz

[ -d "$files" ] || { echo "publish: $files is not a folder" >&2; exit 1; }
for f in "$zip" "$tgz" SHA256SUMS; do
    [ -f "$dist/$f" ] || { echo "publish: $dist/$f is missing (./dev.sh package)" >&2; exit 1; }
done
(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || { echo "publish: $dist does not match its SHA256SUMS" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/korvane-publish.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 -m zipfile -e "$dist/$zip" "$work/windows"
mkdir -p "$work/linux"
tar -C "$work/linux" -xzf "$dist/$tgz"
win=$work/windows/Brenvik-Korvane-$version
lin=$work/linux/brenvik-korvane-$version

# put SOURCE NAME: SOURCE becomes FILES/NAME in one step (a copy beside it, then a rename).
put() {
    cp "$1" "$files/.$2.publishing"
    mv -f "$files/.$2.publishing" "$files/$2"
}
printf '%s\n' "$version" >"$work/version"
put "$win/Qm_Korvane_Launcher.exe" Qm_Korvane_Launcher.bin
put "$win/Qm_Korvane_Plugin.exe" Qm_Korvane_Plugin.bin
put "$lin/Qm_Korvane_Launcher" Qm_Korvane_Launcher.linux.bin
put "$lin/Qm_Korvane_Plugin" Qm_Korvane_Plugin.linux.bin
for component in Launcher Plugin LauncherLinux PluginLinux; do
    put "$work/version" "Qm_Korvane_$component.ver"
done
put "$win/Qm_Korvane_README.txt" Qm_Korvane_README.txt
printf 'Launcher=%s\nPlugin=%s\nLauncherLinux=%s\nPluginLinux=%s\n' \
    "$version" "$version" "$version" "$version" >"$work/published"
put "$work/published" Qm_Korvane_Published.txt
echo "publish: release $version in $files (Launcher, Plugin, LauncherLinux, PluginLinux)"
