#!/usr/bin/env bash
# Makes a sample of each built-in file type that a tool of dev.sh's package
# list writes, and checks that the sample holds, at the offset of a row of its
# extension in the file-type table, that row's header: a header typed wrong
# in the table would let the search pass such files by.
#
#   built-in-type-samples.sh FILE-TYPE-TABLE      (exits 77 when a tool is missing)
set -euo pipefail
table=$(realpath "$1")
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../fixtures/sample-variant.sh"
im=$(for c in magick convert-im6.q16 convert; do "$c" -version 2>/dev/null | grep -q ImageMagick && echo "$c" && break; done || true)
for tool in ${im:-imagemagick} sox gs 7z zip bzip2 xz zstd lz4 compress ar sqlite3 openssl cc ffmpeg lame soffice qemu-img; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing (./dev.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "a line of text to pack" >text.txt
cp text.txt sample.txt
printf 'a,1\nb,2\n' >sample.csv
flat_document() { # mimetype-suffix body-element: an empty flat OpenDocument with one page
  echo "<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\"
 xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" office:version=\"1.2\"
 office:mimetype=\"application/vnd.oasis.opendocument.$1\"><office:body><office:$2>
<draw:page draw:name=\"1\"/></office:$2></office:body></office:document>"
}
flat_document presentation presentation >sample.fodp
flat_document graphics drawing >sample.fodg

# ffmpeg writes the isom brand into MPEG-4 files; the brands of other writers
# (cameras, phones, iTunes) go in through its brand option.
# One encoding thread, whatever the machine's cores (the last argument is the output).
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "${@:1:$#-1}" -threads 1 "${@: -1}"; }
video="-f lavfi -i $(sample_video size=32x32:rate=25:duration=0.2)"
sound="-f lavfi -i sine=frequency=$(sample_tone 440):duration=0.1"
picture="-f lavfi -i $(sample_video size=16x16) -frames:v 1 -f image2"
office() { soffice -env:UserInstallation="file://$work/office" --headless --convert-to "$@"; }
# QuickTime movies written before the ftyp box existed start with the box that
# follows it in ffmpeg's: wide, then mdat, or moov when the index comes first.
without_boxes() { # count movie
  local offset=0 n
  for ((n = 0; n < $1; n++)); do offset=$((offset + $(od -An -tu4 --endian=big -j "$offset" -N4 "$2"))); done
  tail -c +$((offset + 1)) "$2"
}
# LibreOffice packs _rels/.rels first, Word packs [Content_Types].xml first,
# the member the table's row looks for: LibreOffice's document in Word's order.
in_word_order() {
  7z x -opackage "$1" && rm "$1" &&
    (cd package && find . -type f | grep -v Content_Types | xargs zip -q -nw "../$1" '[Content_Types].xml')
}

failures=0 checked=0
: >rows-matched
while read -r ext command; do
  checked=$((checked + 1))
  (eval "$command") >/dev/null 2>&1 || true
  # Rows of one name are one format in several lists: all of them must match.
  if ! od -An -tx1 -v -N 1040 "sample.$ext" 2>/dev/null | tr -d ' \n' | tr a-f A-F |
    awk -F'|' -v ext="$ext" 'FILENAME == "-" { bytes = $0; next }
      !/^ *#/ && NF == 13 { for (i = 1; i <= NF; i++) gsub(/[ \t]/, "", $i) }
      $3 == ext && $9 != "-" { rows[$2]++
                               if (substr(bytes, 2 * $5 + 1, length($6)) == $6) { matched[$2]++; print FNR >>"rows-matched" } }
      END { for (name in rows) if (matched[name] == rows[name]) exit 0; exit 1 }' - "$table"; then
    echo "FAIL $ext ($command): no format's rows all match; the sample starts $(od -An -tx1 -N16 "sample.$ext" 2>&1)"
    failures=$((failures + 1))
  fi
  rm -f "sample.$ext"
done <<EOF
$(for e in jpg png gif bmp tif psd psb ico pcx xpm sgi ppm pgm pbm webp jp2 j2k dpx fits; do echo "$e $im -size 8x8 gradient: sample.$e"; done)
$(for e in tif; do echo "$e $im -size 8x8 gradient: -define tiff:endian=msb sample.$e"; done)
gif $im -size 8x8 gradient: gif87:sample.gif
ras $im -size 8x8 gradient: sun:sample.ras
$(for e in qoi exr; do echo "$e ff $picture sample.$e"; done)
avif ff $picture -c:v libaom-av1 -cpu-used 8 -f avif sample.avif
$(for e in wav aif au flac ogg wv voc caf; do echo "$e sox -n -r 8000 sample.$e synth 0.05 sine $(sample_tone 440)"; done)
amr sox -R -n -r 8000 -t amr-nb sample.amr synth 0.05 sine $(sample_tone 440)
mp3 ff $sound sample.mp3
$(for r in 44100 22050; do echo "mp3 ff $sound -ar $r -id3v2_version 0 sample.mp3"; done)
$(for r in 44100 22050; do echo "mp3 sox -n -r $r sample.wav synth 0.1 sine $(sample_tone 440) && lame --quiet -p sample.wav sample.mp3"; done)
aac ff $sound -f adts sample.aac
aac ff $sound -f adts -write_mpeg2 1 sample.aac
ac3 ff $sound sample.ac3
dts ff $sound -ar 48000 -strict -2 -c:a dca -f dts sample.dts
m4a ff $sound -f ipod sample.m4a
m4b ff $sound -f ipod -brand 'M4B ' sample.m4b
m4v ff $video -f ipod sample.m4v
$(for b in isom mp42 mp41 avc1 MSNV; do echo "mp4 ff $video -brand $b sample.mp4"; done)
mov ff $video -f mov sample.mov
mov ff $video -f mov movie.mov && without_boxes 1 movie.mov >sample.mov
mov ff $video -f mov movie.mov && without_boxes 2 movie.mov >sample.mov
mov ff $video -f mov -movflags faststart movie.mov && without_boxes 1 movie.mov >sample.mov
$(for e in 3gp 3g2; do echo "$e ff $video -s 176x144 -c:v h263 -f $e sample.$e"; done)
avi ff $video sample.avi
mpg ff $video -f mpeg sample.mpg
mpg ff $video -c:v mpeg1video -f mpeg1video sample.mpg
mts ff $video -f mpegts -mpegts_m2ts_mode 1 sample.mts
mkv ff $video -f matroska sample.mkv
mkv ff $video -c:v libvpx -f webm sample.mkv
wmv ff $video -c:v wmv2 -f asf sample.wmv
flv ff $video -f flv sample.flv
dv ff -f lavfi -i $(sample_video size=720x576:rate=25) -frames:v 1 -pix_fmt yuv420p -f dv sample.dv
mxf ff $video -c:v mpeg2video -f mxf sample.mxf
swf ff $video -f swf sample.swf
rm ff $video -c:v rv10 -f rm sample.rm
$(for e in doc odt rtf epub html; do echo "$e office $e sample.txt"; done)
xml office fodt sample.txt && mv sample.fodt sample.xml
docx office docx sample.txt && in_word_order sample.docx
ods office ods sample.csv
odp office odp sample.fodp
odg office odg sample.fodg
$(for e in emf wmf; do echo "$e office $e sample.fodg"; done)
$(for d in pdf:pdfwrite ps:ps2write eps:eps2write; do echo "${d%%:*} gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=${d#*:} -sOutputFile=sample.${d%%:*} -c showpage"; done)
zip zip -q sample.zip text.txt
$(for p in gz:gzip bz2:bzip2 xz:xz lzma:"xz --format=lzma" zst:"zstd -q" lz4:"lz4 -q" z:compress; do echo "${p%%:*} ${p#*:} -c text.txt >sample.${p%%:*}"; done)
$(for e in 7z wim; do echo "$e 7z a -t$e sample.$e text.txt"; done)
tar tar cf sample.tar text.txt
tar tar --format=posix -cf sample.tar text.txt
vhd qemu-img create -q -f vpc sample.vhd 8M
$(for line in '#!/bin/bash' '#! /bin/sh' '#!/usr/bin/env python3'; do echo "sh printf '%s\\n' '$line' >sample.sh"; done)
deb ar rc sample.deb text.txt
sqlite sqlite3 sample.sqlite "create table t(x);"
pem openssl genpkey -algorithm ed25519 -out sample.pem
elf echo 'int main(void) { return 0; }' | cc -x c - -o sample.elf
EOF
rows=$(awk -F'|' '!/^ *#/ && NF == 13 && $9 !~ /^ *- *$/' "$table" | wc -l)
echo "$checked samples, $failures failed; $(sort -u rows-matched | wc -l) of the $rows listed rows matched"
[ "$failures" -eq 0 ]
