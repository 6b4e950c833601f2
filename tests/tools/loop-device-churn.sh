#!/usr/bin/env bash
# Attaches a loop device of its own every second and detaches its oldest, keeping a few, as other programs on a busy
# machine do while the tests run beside it (not part of the suite). Every second, and at its end, it checks that each
# device it holds still holds the attachment it made: one detached by someone else is named, and makes it exit 1.
# Stopped (Ctrl-C; SIGTERM where it runs in the background) or after SECONDS, it detaches its own and says what it
# saw.
#   loop-device-churn.sh [SECONDS]
set -uo pipefail
source "$(dirname "$(readlink -f "$0")")/../support/loop-devices.sh"
[ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null || { echo "needs root and losetup"; exit 77; }
seconds=${1:-0} keep=3
work=$(mktemp -d)
devices=() attachments=() files=() lost=() attached=0 failed=0 stop=
trap 'stop=1' INT TERM

# Each device held that no longer holds its attachment is lost, and forgotten.
check() {
  local i kept_devices=() kept_attachments=() kept_files=()
  for i in "${!devices[@]}"; do
    if [ "$(loop_attachment "${devices[$i]}")" = "${attachments[$i]}" ]; then
      kept_devices+=("${devices[$i]}") kept_attachments+=("${attachments[$i]}") kept_files+=("${files[$i]}")
    else
      lost+=("${devices[$i]} (${files[$i]##*/}) held $(cat "/sys/block/${devices[$i]##*/}/loop/backing_file" \
        2>/dev/null || echo nothing) at $(date +%T)")
      echo "lost: ${lost[-1]}" >&2
    fi
  done
  devices=("${kept_devices[@]}") attachments=("${kept_attachments[@]}") files=("${kept_files[@]}")
}

for ((tick = 0; !stop && (seconds == 0 || tick < seconds); ++tick)); do
  check
  file=$work/churn-$tick.img
  truncate -s 4M "$file"
  # Every other one with partition scanning, which stirs udev and the programs that follow the drives as a card does.
  options=()
  ((tick % 2)) && options=(-P)
  if loop_attach device "$file" "${options[@]}" 2>/dev/null; then
    devices+=("$device") attachments+=("$device_attachment") files+=("$file")
    attached=$((attached + 1))
  else
    failed=$((failed + 1))
  fi
  while ((${#devices[@]} > keep)); do
    loop_detach_own "${devices[0]}" "${attachments[0]}" || lost+=("${devices[0]} (${files[0]##*/}) at $(date +%T)")
    devices=("${devices[@]:1}") attachments=("${attachments[@]:1}") files=("${files[@]:1}")
  done
  sleep 1
done

check
for i in "${!devices[@]}"; do
  loop_detach_own "${devices[$i]}" "${attachments[$i]}" || lost+=("${devices[$i]} (${files[$i]##*/}) at the end")
done
rm -rf "$work"
echo "loop-device-churn: $attached devices attached ($failed attaches failed), ${#lost[@]} detached by someone else"
for l in "${lost[@]}"; do echo "  $l"; done
((${#lost[@]} == 0))
