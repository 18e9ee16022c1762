#!/usr/bin/env bash
# Builds the i686 release of the working tree's sources twice, from two copies
# in folders of different names, and checks that the executables are the same
# bytes as each other and as the shipped build given as $1 (if any).
set -euo pipefail
build=$(cd "$(dirname "$0")/.." && pwd)/scripts/build-release-exe
shipped=${1:-}
work=$(mktemp -d /tmp/tavrelo-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT

one=$("$build" --worktree "$work/a")
sleep 1  # a second apart, so that a time stamp would differ
other=$("$build" --worktree "$work/other-folder-name")
first=$(sha256sum < "$one" | cut -d' ' -f1)
second=$(sha256sum < "$other" | cut -d' ' -f1)
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
