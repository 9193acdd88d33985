#!/usr/bin/env bash
# Builds the release packages into build/packages/:
#
#   quorvel-remote_VERSION_ARCH.deb       the Linux plug-in, for Debian and Ubuntu (CPack)
#   QuorvelRemote-VERSION-windows.zip     the 32-bit and 64-bit DLLs, each in a folder of its own
#   SHA256SUMS                            the checksums of both (sha256sum -c SHA256SUMS)
#
# from release builds (optimised, stripped) in build/release-linux, build/release-win32 and
# build/release-win64, so the development builds stay as they are. The same commit gives the
# same bytes: every time stamp in the packages is the commit's (SOURCE_DATE_EPOCH, which may
# also be set by the caller), and no build folder or link time reaches the files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

version=$(sed -n 's/^project(QuorvelRemote VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no version in CMakeLists.txt" >&2; exit 1; }
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) || {
    echo "package.sh: not a git checkout: set SOURCE_DATE_EPOCH to the sources' time" >&2
    exit 1
  }
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  echo "note: uncommitted changes; these packages are not those of commit $(git rev-parse --short HEAD)"
fi

mkdir -p build
for preset in release-linux release-win64 release-win32; do
  echo "== Release build: $preset"
  log=$root/build/$preset.log
  # --fresh: nothing left in an old cache decides what gets shipped.
  if ! { cmake --preset "$preset" --fresh && cmake --build --preset "$preset"; } >"$log" 2>&1; then
    cat "$log"
    echo "package.sh: the $preset build failed" >&2
    exit 1
  fi
  grep -E "warning:" "$log" || true
done

packages=$root/build/packages
stage=$root/build/release-stage
rm -rf "$packages" "$stage"
mkdir -p "$packages"

echo "== Debian package"
cpack -G DEB --config build/release-linux/CPackConfig.cmake -B "$stage/deb" >"$stage.cpack.log" 2>&1 || {
  cat "$stage.cpack.log" >&2
  exit 1
}
cp "$stage"/deb/quorvel-remote_"$version"_*.deb "$packages"/

echo "== Windows zip"
for bits in 32 64; do
  cmake --install "build/release-win$bits" --prefix "$stage/win$bits" >/dev/null
done
top=QuorvelRemote-$version-windows
docs=doc/QuorvelRemote
python3 scripts/reproducible_zip.py "$packages/$top.zip" \
  "$top/32-bit/QuorvelRemote.dll=$stage/win32/VstPlugins/QuorvelRemote.dll" \
  "$top/64-bit/QuorvelRemote.dll=$stage/win64/VstPlugins/QuorvelRemote.dll" \
  "$top/INSTALL.txt=$stage/win64/$docs/INSTALL.txt" \
  "$top/LICENSE.txt=$stage/win64/$docs/LICENSE.txt" \
  "$top/THIRD-PARTY-NOTICES.txt=$stage/win64/$docs/THIRD-PARTY-NOTICES.txt"

(cd "$packages" && sha256sum -- *.deb *.zip >SHA256SUMS)
echo
echo "== build/packages (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
ls -l "$packages"
cat "$packages/SHA256SUMS"
