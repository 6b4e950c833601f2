#!/usr/bin/env bash
# The scripts' loop devices (tests/support/loop-devices.sh): a script's device detached behind its back, its node
# given to another attachment over a file made again under the same path, is left to that attachment; an attachment
# still its own is detached.
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/../support/loop-devices.sh"
[ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null || { echo "needs root and losetup"; exit 77; }
dir=$(mktemp -d) theirs=
trap '[ -z "$theirs" ] || loop_detach_own "$theirs" "$theirs_attachment"; rm -rf "$dir"' EXIT
fail() { echo "$*"; exit 1; }
truncate -s 1M "$dir/card.img"
loop_attach ours "$dir/card.img"
losetup -d "$ours"
# Gone once its readers (udev's probe) let go.
for _ in $(seq 500); do [ "$(loop_attachment "$ours")" != "$ours_attachment" ] && break; sleep 0.01; done
rm "$dir/card.img" && truncate -s 1M "$dir/card.img"
loop_attach theirs "$dir/card.img"
! loop_detach_own "$ours" "$ours_attachment" 2>/dev/null || fail "$ours was detached as $ours_attachment"
[ "$(loop_attachment "$theirs")" = "$theirs_attachment" ] || fail "$theirs no longer holds $theirs_attachment"
loop_detach_own "$theirs" "$theirs_attachment" || fail "$theirs, still its own, was not detached"
theirs=
