# Loop devices for the test scripts (sourced by bash), as tests/support/LoopDevice does it for the test programs.
# Other processes attach and detach loop devices too, and the kernel gives a node one let go of to the next that
# asks: a device is a script's only while it holds the attachment the script made there, and only then is it
# detached. An attachment is known by the sequence number the kernel gives it, which no later one shares, and its
# file's device and inode numbers; never by the file's path, which may name another file by then.

# The attachment loop device $1 holds, as "DISKSEQ MAJOR:MINOR INODE" (the sequence number empty where the kernel
# keeps none, the numbers where it holds no file).
loop_attachment() {
  local sequence=
  [ -r "/sys/block/${1##*/}/diskseq" ] && sequence=$(<"/sys/block/${1##*/}/diskseq")
  echo "$sequence $(losetup -n -O BACK-MAJ:MIN,BACK-INO -- "$1" 2>/dev/null | awk '{ print $1, $2 }')"
}

# Attaches a loop device over the file $2 with losetup's options after it: the device in the variable named $1, and
# what loop_detach_own takes it back by in the one named "$1_attachment".
loop_attach() {
  # Names of its own that no caller's variable has: printf -v would set these.
  local loop_attach_name=$1 loop_attach_file=$2 loop_attach_device loop_attach_fd loop_attach_held
  shift 2
  loop_attach_device=$(losetup "$@" -f --show -- "$loop_attach_file") || return 1
  { exec {loop_attach_fd}<"$loop_attach_device"; } 2>/dev/null || return 1
  loop_attach_held=$(loop_attachment "$loop_attach_device")
  exec {loop_attach_fd}<&-
  # The file is there, so no other file has its numbers: the node held this attachment, or one made since by another.
  [ "${loop_attach_held#* }" = "$(stat -L -c '%Hd:%Ld %i' -- "$loop_attach_file")" ] || {
    echo "$loop_attach_device holds $loop_attach_held, not $loop_attach_file, just after it was attached there" >&2
    return 1
  }
  printf -v "$loop_attach_name" %s "$loop_attach_device"
  printf -v "${loop_attach_name}_attachment" %s "$loop_attach_held"
}

# Detaches loop device $1 only while it holds the attachment $2 (from loop_attach); else leaves it, says so and
# fails. The node is held open from the look to the detach: anyone else's detach meanwhile only marks it to go at its
# last close, so no other attach comes between the two.
loop_detach_own() {
  local fd status=1 held
  { exec {fd}<"$1"; } 2>/dev/null || { echo "$1 is gone: it is not detached" >&2; return 1; }
  held=$(loop_attachment "$1")
  if [ "$held" = "$2" ]; then
    losetup -d "$1" && status=0
  else
    echo "$1 no longer holds the attachment $2 but $held" \
      "($(cat "/sys/block/${1##*/}/loop/backing_file" 2>/dev/null || echo no file)): it is not this script's to detach" >&2
  fi
  exec {fd}<&-
  return $status
}
