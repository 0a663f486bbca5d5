#!/usr/bin/env bash
# Writes the driver's packages of one release from the Release builds' programs:
#   OUT/Brenvik-Korvane-<version>-windows-x64.zip
#   OUT/brenvik-korvane-<version>-linux-x86_64.tar.gz
#   OUT/SHA256SUMS
# Each unpacks into one folder holding the two programs, their version files, a commented
# settings file, the driver's guide (as Qm_Korvane_README.txt, the name the launcher's updates
# refresh) and the licence texts of what the programs contain.
#
# KORVANE_SIGNING_KEY=FILE also signs them (see the end).
#
# usage: package.sh VERSION WINDOWS_BIN LINUX_BIN OUT
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: package.sh VERSION WINDOWS_BIN LINUX_BIN OUT" >&2; exit 2; }
version=$1 windows_bin=$2 linux_bin=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
docs=/usr/share/doc

for f in "$windows_bin"/Qm_Korvane_{Launcher,Plugin}.{exe,ver} "$linux_bin"/Qm_Korvane_{Launcher,Plugin} \
         "$linux_bin"/Qm_Korvane_{Launcher,Plugin}.ver; do
    [ -f "$f" ] || { echo "package: $f is missing (build the Release programs first)" >&2; exit 1; }
done
for f in "$windows_bin"/Qm_Korvane_*.ver "$linux_bin"/Qm_Korvane_*.ver; do
    if [ "$(head -n1 "$f")" != "$version" ]; then
        echo "package: $f says $(head -n1 "$f"), not $version: rebuild it" >&2
        exit 1
    fi
done

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d "$out/.stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT

# Text for Windows editors gets CR LF line ends.
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }

# licence FILE PACKAGE WHAT: Debian's copyright file of PACKAGE, headed by what it covers.
licence() {
    local file=$1 package=$2 what=$3
    local source=$docs/$package/copyright
    [ -f "$source" ] || { echo "package: $source is missing (install $package)" >&2; exit 1; }
    { printf '%s\n(from Debian package %s, %s)\n\n' "$what" "$package" "$source"; cat "$source"; } >"$file"
}

# --- Windows ---------------------------------------------------------------------------------
win=$stage/Brenvik-Korvane-$version
mkdir -p "$win/licences"
for p in Launcher Plugin; do
    x86_64-w64-mingw32-strip -o "$win/Qm_Korvane_$p.exe" "$windows_bin/Qm_Korvane_$p.exe"
    crlf "$windows_bin/Qm_Korvane_$p.ver" "$win/Qm_Korvane_$p.ver"
done
crlf "$here/Qm_Korvane_Launcher.ini" "$win/Qm_Korvane_Launcher.ini"
crlf "$root/docs/driver-guide.md" "$win/Qm_Korvane_README.txt"
licence "$win/licences/mingw-w64-runtime.txt" mingw-w64-x86-64-dev \
    "The mingw-w64 C runtime and winpthreads, linked statically into both programs"
licence "$win/licences/gcc-runtime.txt" gcc-mingw-w64-base \
    "libstdc++ and libgcc (GCC Runtime Library Exception), linked statically into both programs"
zip=$out/Brenvik-Korvane-$version-windows-x64.zip
rm -f "$zip"
(cd "$stage" && python3 -m zipfile -c "$zip.tmp" "Brenvik-Korvane-$version")
mv "$zip.tmp" "$zip"

# --- Linux -----------------------------------------------------------------------------------
lin=$stage/brenvik-korvane-$version
mkdir -p "$lin/licences"
for p in Launcher Plugin; do
    strip -o "$lin/Qm_Korvane_$p" "$linux_bin/Qm_Korvane_$p"
    chmod 755 "$lin/Qm_Korvane_$p"
    cp "$linux_bin/Qm_Korvane_$p.ver" "$lin/"
done
cp "$here/Qm_Korvane_Launcher.ini" "$lin/"
cp "$root/docs/driver-guide.md" "$lin/Qm_Korvane_README.txt"
cp "$here/LINUX.txt" "$lin/"
licence "$lin/licences/gcc-runtime.txt" gcc-12-base \
    "libstdc++ and libgcc (GCC Runtime Library Exception): template code in both programs, and the shared runtime they use"
licence "$lin/licences/curl.txt" libcurl4 "libcurl, used by both programs for the race-data service"
licence "$lin/licences/openssl.txt" libssl3 "OpenSSL, used through libcurl"
licence "$lin/licences/sdl2.txt" libsdl2-2.0-0 "SDL2, used by the engineer for sound and controllers"
licence "$lin/licences/espeak-ng.txt" libespeak-ng1 "eSpeak NG, used by the engineer for speech"
tgz=$out/brenvik-korvane-$version-linux-x86_64.tar.gz
tar -C "$stage" --owner=0 --group=0 -czf "$tgz.tmp" "brenvik-korvane-$version"
mv "$tgz.tmp" "$tgz"

(cd "$out" && sha256sum "$(basename "$zip")" "$(basename "$tgz")" >SHA256SUMS)
echo "package: $zip"
echo "package: $tgz"
echo "package: $out/SHA256SUMS"

# With the maker's signing key (the PEM private key the race-data service signs updates with),
# each file gets its DER signature beside it as <file>.sig, checkable with the published update
# key: openssl dgst -sha256 -verify key.pem -signature FILE.sig FILE
if [ -n "${KORVANE_SIGNING_KEY:-}" ]; then
    for f in "$zip" "$tgz" "$out/SHA256SUMS"; do
        openssl dgst -sha256 -sign "$KORVANE_SIGNING_KEY" -out "$f.sig" "$f"
        echo "package: $f.sig"
    done
else
    rm -f "$zip.sig" "$tgz.sig" "$out/SHA256SUMS.sig"
fi
