#!/usr/bin/env bash
# Builds the Debian package (taviro_<version>-<release>_<arch>.deb): installs what is
# missing, configures the build folder as scripts/test.sh does (Ninja, RelWithDebInfo; the
# package's programs are stripped), builds what the package holds and runs cpack. The
# package's path is the last line printed; cpack's own output goes to standard error.
#
# TAVIRO_BUILD_DIR picks another build directory (relative to the repository root or
# absolute; default build, the test command's, so a tree built for the tests is packaged as
# it is); TAVIRO_JOBS the parallelism (default 2).
#
# Install it with: sudo apt-get install ./build/taviro_*.deb
set -euo pipefail

root=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

build_dir=${TAVIRO_BUILD_DIR:-build}
jobs=${TAVIRO_JOBS:-2}
[[ "$build_dir" = /* ]] || build_dir="$root/$build_dir"

"$root/scripts/install-deps.sh" >&2

# The test command's options: the same folder is never configured two ways.
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVIRO_BUILD_TESTS=ON -DTAVIRO_BUILD_BENCH=ON >&2
cmake --build "$build_dir" -j "$jobs" --target taviro_package_inputs >&2

# A package left by an earlier version would be found instead of this one.
rm -f "$build_dir"/taviro_*.deb
(cd "$build_dir" && cpack -G DEB) >&2
shopt -s nullglob
packages=("$build_dir"/taviro_*.deb)
if [[ ${#packages[@]} -ne 1 ]]; then
    echo "package: expected one taviro_*.deb in $build_dir, found ${#packages[@]}" >&2
    exit 1
fi
echo "${packages[0]}"
