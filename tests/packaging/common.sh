# Sourced by the package tests: where things are, and one line per check.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
packages=$root/build/packages
version=$(sed -n 's/^project(QuorvelRemote VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
deb_name=quorvel-remote
deb=$packages/${deb_name}_${version}_$(dpkg --print-architecture 2>/dev/null).deb
zip=$packages/QuorvelRemote-$version-windows.zip

failures=0
# check DESCRIPTION COMMAND...: runs the command and prints one line with the outcome.
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok    $what"
    else
        echo "FAIL  $what"
        failures=$((failures + 1))
    fi
}

# The outcome of all checks as the exit status.
finish() {
    [ "$failures" -eq 0 ] || echo "$failures check(s) failed"
    [ "$failures" -eq 0 ]
}
