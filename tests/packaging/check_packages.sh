#!/usr/bin/env bash
# The release packages in build/packages (scripts/package.sh), checked without installing them:
# their checksums; the Debian package's files, fields and computed dependencies; the zip's
# layout; the version each plug-in file carries against the project's version; and the
# Windows install rules of the development builds, which hold the test programs.
#
#   tests/packaging/check_packages.sh [QRHOST]    (default build/linux/qrhost)
set -uo pipefail
source "$(dirname "$0")/common.sh"
qrhost=${1:-$root/build/linux/qrhost}
[ -x "$qrhost" ] || { echo "no $qrhost: build the linux preset first"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# same A B: the two texts are equal, or both are shown.
same() {
    [ "$1" = "$2" ] && return 0
    printf '      got:      %s\n      expected: %s\n' "$1" "$2"
    return 1
}
# The value of KEY in `qrhost version FILE`.
version_value() {
    "$qrhost" version "$1" | sed -n "s/^  $2: *//p"
}
# A plug-in file carries the project's version and the names the Linux plug-in carries.
carries_version() {
    local file=$1 reference=$2 key
    [ "$(version_value "$file" FileVersion)" = "$version" ] &&
        [ "$(version_value "$file" ProductVersion)" = "$version" ] || return 1
    for key in CompanyName ProductName FileDescription LegalCopyright; do
        same "$(version_value "$file" "$key")" "$(version_value "$reference" "$key")" || return 1
    done
}
pe_numbers_are_version() {
    same "$(version_value "$1" "File version")" "$version.0" &&
        same "$(version_value "$1" "Product version")" "$version.0"
}
# The PE header's time stamp, which a reproducible link leaves at zero.
pe_time_stamp_is_zero() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    [ "$(od -An -tu4 -j$((header + 8)) -N4 "$1" | tr -d ' ')" = 0 ]
}
stripped() {
    ! readelf -S "$1" | grep -qE '\.symtab|\.debug_'
}
# The folder the packages were built in must not be in the files: another clone, elsewhere,
# would give other bytes.
no_build_folder() {
    ! grep -q -F -e "$root" -- "$@"
}

echo "Packages in $packages, version $version"
check "SHA256SUMS lists both packages and matches them" \
    bash -c "cd '$packages' && [ \$(wc -l <SHA256SUMS) -eq 2 ] && sha256sum --quiet -c SHA256SUMS"

# The Debian package.
field() { dpkg-deb -f "$deb" "$1"; }
check "$(basename "$deb"): name, version, section" \
    same "$(field Package) $(field Version) $(field Section)" "$deb_name $version sound"
check "its dependencies, computed by dpkg-shlibdeps, name RtMidi and JACK" \
    bash -c "grep -q 'librtmidi[0-9]' <<<'$(field Depends)' && grep -q 'libjack' <<<'$(field Depends)'"
check "it has a short and a long description" \
    bash -c "[ \$(dpkg-deb -f '$deb' Description | wc -l) -ge 2 ]"
expected_files="./usr/lib/vst/QuorvelRemote.so
./usr/share/doc/$deb_name/LICENSE
./usr/share/doc/$deb_name/README.md
./usr/share/doc/$deb_name/THIRD-PARTY-NOTICES
./usr/share/doc/$deb_name/copyright"
check "it holds the plug-in and its documents, nothing else" \
    same "$(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ {print $6}' | sort)" "$expected_files"
check "every entry belongs to root" \
    same "$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)" "root/root"
dpkg-deb -x "$deb" "$work/deb"
so=$work/deb/usr/lib/vst/QuorvelRemote.so
check "its plug-in is stripped" stripped "$so"
check "its plug-in carries version $version" carries_version "$so" "$so"

# The Windows zip.
unzipped() {
    python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    archive.extractall(sys.argv[2])
    open(sys.argv[2] + ".list", "w").write("\n".join(archive.namelist()))' "$zip" "$work/zip"
}
check "$(basename "$zip") opens" unzipped
top=QuorvelRemote-$version-windows
check "$(basename "$zip"): the DLLs in folders of their own, with the texts" \
    same "$(sort "$work/zip.list")" "$top/32-bit/QuorvelRemote.dll
$top/64-bit/QuorvelRemote.dll
$top/INSTALL.txt
$top/LICENSE.txt
$top/THIRD-PARTY-NOTICES.txt"
for bits in 32 64; do
    dll=$work/zip/$top/$bits-bit/QuorvelRemote.dll
    format=$([ "$bits" = 32 ] && echo "PE32 i386" || echo "PE32+ x86-64")
    check "$bits-bit/QuorvelRemote.dll is $format" same "$("$qrhost" exports "$dll" | head -n 1)" "$format"
    check "$bits-bit/QuorvelRemote.dll: version resource says $version, names as on Linux" \
        carries_version "$dll" "$so"
    check "$bits-bit/QuorvelRemote.dll: file and product version $version.0" pe_numbers_are_version "$dll"
    check "$bits-bit/QuorvelRemote.dll: no link time in its header" pe_time_stamp_is_zero "$dll"
done
check "no build or source folder named in the plug-in files" \
    no_build_folder "$so" "$work/zip/$top"/*/QuorvelRemote.dll

# What `cmake --install` of a Windows build puts out, test programs built or not.
for preset in win64 win32; do
    [ -f "$root/build/$preset/CMakeCache.txt" ] || continue
    check "cmake --install of build/$preset: the DLL and its documents only" \
        cmake -DBUILD="$root/build/$preset" -DWORK="$work/install-$preset" -DSYSTEM=windows \
        -P "$root/tests/packaging/check_install.cmake"
done
finish
