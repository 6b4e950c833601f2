#!/usr/bin/env bash
# Makes a sample of each built-in file type that a tool of dev.sh's package
# list writes, and checks that the sample holds, at the offset of a row of its
# extension in the file-type table, that row's header: a header typed wrong
# in the table would let the search pass such files by.
#
#   built-in-type-samples.sh FILE-TYPE-TABLE      (exits 77 when a tool is missing)
set -euo pipefail
table=$1
im=$(for c in magick convert-im6.q16 convert; do "$c" -version 2>/dev/null | grep -q ImageMagick && echo "$c" && break; done || true)
for tool in ${im:-imagemagick} sox gs 7z zip bzip2 xz zstd lz4 ar sqlite3 openssl cc; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (./dev.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "a line of text to pack" >text.txt

failures=0 checked=0
while read -r ext command; do
  checked=$((checked + 1))
  (eval "$command") >/dev/null 2>&1 || true
  matched=no
  while read -r offset header; do
    bytes=$(od -An -tx1 -v -j "$offset" -N $((${#header} / 2)) "sample.$ext" 2>/dev/null | tr -d ' \n' | tr a-f A-F)
    [ "$bytes" = "$header" ] && matched=yes
  done < <(awk -F'|' -v ext="$ext" '!/^ *#/ && NF == 12 { for (i = 1; i <= NF; i++) gsub(/[ \t]/, "", $i) }
                                    $3 == ext && $9 != "-" { print $5, $6 }' "$table")
  if [ $matched = no ]; then
    echo "FAIL $ext: no row's header; the sample starts $(od -An -tx1 -N16 "sample.$ext" 2>&1)"
    failures=$((failures + 1))
  fi
done <<EOF
$(for e in jpg png gif bmp tif psd ico pcx xpm sgi ppm pgm pbm webp jp2 dpx fits; do echo "$e $im -size 8x8 gradient: sample.$e"; done)
ras $im -size 8x8 gradient: sun:sample.ras
$(for e in wav aif au flac ogg wv voc caf; do echo "$e sox -n -r 8000 sample.$e synth 0.05 sine 440"; done)
amr sox -n -r 8000 -t amr-nb sample.amr synth 0.05 sine 440
$(for d in pdf:pdfwrite ps:ps2write; do echo "${d%%:*} gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=${d#*:} -sOutputFile=sample.${d%%:*} -c showpage"; done)
zip zip -q sample.zip text.txt
$(for p in gz:gzip bz2:bzip2 xz:xz lzma:"xz --format=lzma" zst:"zstd -q" lz4:"lz4 -q"; do echo "${p%%:*} ${p#*:} -c text.txt >sample.${p%%:*}"; done)
$(for e in 7z wim; do echo "$e 7z a -t$e sample.$e text.txt"; done)
tar tar cf sample.tar text.txt
deb ar rc sample.deb text.txt
sqlite sqlite3 sample.sqlite "create table t(x);"
pem openssl genpkey -algorithm ed25519 -out sample.pem
elf echo 'int main(void) { return 0; }' | cc -x c - -o sample.elf
EOF
echo "$checked samples, $failures failed"
[ "$failures" -eq 0 ]
