#!/usr/bin/env bash
# Builds the i686 release of the committed sources twice, from two copies in
# folders of different names, and checks that the executables are the same
# bytes as each other and as the shipped build given as $1 (if any).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
shipped=${1:-}
work=$(mktemp -d /tmp/tavrelo-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT

build() {
  local copy=$work/$1
  mkdir -p "$copy"
  # The working tree's files that git does not ignore: a clean clone's files.
  (cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
     xargs -0 cp --parents -t "$copy")
  cmake -S "$copy" -B "$copy/build" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake > /dev/null
  cmake --build "$copy/build" --target tavrelo > /dev/null
  sha256sum "$copy/build/bin/tavrelo.exe" | cut -d' ' -f1
}

first=$(build a)
sleep 1  # a second apart, so that a time stamp would differ
second=$(build other-folder-name)
echo "first build:  $first"
echo "second build: $second"
status=0
[ "$first" = "$second" ] || { echo "the two builds differ"; status=1; }
if [ -n "$shipped" ]; then
  shipped_sum=$(sha256sum "$shipped" | cut -d' ' -f1)
  echo "shipped:      $shipped_sum ($shipped)"
  [ "$first" = "$shipped_sum" ] || { echo "the shipped build differs"; status=1; }
fi
exit $status
