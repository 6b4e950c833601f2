# Sourced by the image makers of the scan benchmarks.
# fill_tree DIR THOUSANDS: THOUSANDS thousand small text files three folder
# levels deep (aNN/bNN/c/fNNN.txt, 200 to a folder) in DIR.
fill_tree() {
  local src=$1 k=$2 a b f d
  for a in $(seq -w 0 $((k / 5 - 1))); do
    for b in $(seq -w 0 24); do
      d="$src/a$a/b$b/c"
      mkdir -p "$d"
      for f in $(seq -w 0 199); do printf 'file %s/%s/%s\n' "$a" "$b" "$f" > "$d/f$f.txt"; done
    done
  done
}
