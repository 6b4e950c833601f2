# Loop devices for the test scripts (sourced by bash), as tests/support/LoopDevice does it for the test programs.
# Other processes attach and detach loop devices too, and the kernel gives a node one let go of to the next that
# asks: a device is a script's only while it holds the file the script attached there, known by its device and inode
# numbers, and only then is it detached.

# The device and inode numbers of a file, as losetup shows those of a device's file: "MAJOR:MINOR INODE".
loop_file_numbers() { stat -L -c '%Hd:%Ld %i' -- "$1"; }

# Whether loop device $1 holds the file $2.
loop_holds() {
  [ "$(losetup -n -O BACK-MAJ:MIN,BACK-INO -- "$1" 2>/dev/null | awk '{ print $1, $2 }')" = \
    "$(loop_file_numbers "$2")" ]
}

# Detaches loop device $1 only while it holds the file $2; else leaves it, says so and fails. The node is held open
# from the look to the detach: anyone else's detach meanwhile only marks it to go at its last close, so no other
# attach comes between the two.
loop_detach_own() {
  local fd status=1
  { exec {fd}<"$1"; } 2>/dev/null || { echo "$1 is gone: $2 is not detached" >&2; return 1; }
  if loop_holds "$1" "$2"; then
    losetup -d "$1" && status=0
  else
    echo "$1 no longer holds $2 but $(cat "/sys/block/${1##*/}/loop/backing_file" 2>/dev/null || echo nothing):" \
      "it is not this script's to detach" >&2
  fi
  exec {fd}<&-
  return $status
}
