#!/usr/bin/env bash
# Checks that the release packages are reproducible: clones the current commit twice, into
# folders of different names, builds the packages in each (scripts/package.sh) one after the
# other, and compares the checksums. Takes twice as long as scripts/package.sh.
#
#   scripts/check-reproducible.sh [COMMIT]    (default HEAD)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
commit=$(git rev-parse "${1:-HEAD}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for clone in first second-clone-elsewhere; do
  echo "== Packages from a clone of $commit in $work/$clone"
  git clone -q --no-checkout "$root" "$work/$clone"
  git -C "$work/$clone" checkout -q "$commit"
  "$work/$clone/scripts/package.sh" >"$work/$clone.log" 2>&1 || {
    cat "$work/$clone.log"
    exit 1
  }
  cat "$work/$clone/build/packages/SHA256SUMS"
done

if cmp -s "$work/first/build/packages/SHA256SUMS" \
  "$work/second-clone-elsewhere/build/packages/SHA256SUMS"; then
  echo "reproducible: both builds of $commit gave the same packages"
else
  echo "NOT reproducible: the two builds of $commit differ"
  exit 1
fi
