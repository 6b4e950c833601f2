#!/usr/bin/env python3
"""Manual check of the parsers on a failing block device (root, FUSE and
loop devices needed): each case serves an image through bad-sectors-fuse.py
with chosen sectors failing, puts a read-only loop device on it, runs
scan-image on the device and compares what it gives with the same command on
the intact image. Every case runs twice: with direct I/O on the served file
(exactly the chosen sectors fail) and through its page cache (one bad sector
fails its whole 4 KiB page, as on a drive of 4096-byte physical sectors).

    parser-checks-on-failing-device.py BUILD_DIR [--work DIR] [--delay S] [--only TEXT]

BUILD_DIR holds scan-image and the test images (ctest -R fixtures.make makes
them); the carving's media set, an exFAT volume with deleted files and a bare
HFS+ volume are made into --work (a new folder under /tmp unless given).
--delay is each failed read's cost in seconds (0.005 unless given); --only
runs the cases whose name holds TEXT.

Prints one line a case and mode: what was lost against the intact image, the
reads the device failed and served (when bad-sectors-fuse.py keeps a count
file), the seconds and scan-image's exit status.

  media: the carving and the plain search of the thirty-one media files,
         one bad sector in each (lost or cut short: none may be, but a file
         whose first sector is unreadable)
  tree:  rows of the tree missing against the intact scan (files and
         folders whose records lie on readable sectors must all be there)
  save:  files saved as from the intact image
  parts: volumes of the partition list or the lost-volume search listed
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FUSE = os.path.join(HERE, "bad-sectors-fuse.py")


class Device:
    """The image served with `bad` ((first, count) runs) failing, under a loop device."""

    def __init__(self, work, image, bad, direct, delay):
        self.mount = tempfile.mkdtemp(prefix="mnt.", dir=work)
        self.counts = self.mount + ".counts"
        self.map = self.mount + ".map"
        with open(self.map, "w") as out:
            for first, count in bad:
                out.write(f"{first} {count}\n")
        env = dict(os.environ, COUNT_FILE=self.counts)
        env.pop("DIRECT_IO", None)
        if direct:
            env["DIRECT_IO"] = "1"
        self.server = subprocess.Popen([sys.executable, FUSE, image, self.mount, "@" + self.map, "0", str(delay)],
                                       env=env)
        for _ in range(100):
            if os.path.exists(os.path.join(self.mount, "disk.img")):
                break
            time.sleep(0.05)
        self.loop = subprocess.check_output(
            ["losetup", "-r", "-f", "--show", os.path.join(self.mount, "disk.img")], text=True).strip()

    def count(self):
        try:
            with open(self.counts) as f:
                reads, failed = (int(x) for x in f.read().split())
            return reads, failed
        except (OSError, ValueError):
            return None

    def close(self):
        subprocess.run(["losetup", "-d", self.loop], check=False)
        subprocess.run(["umount", self.mount], check=False)
        self.server.wait()
        os.rmdir(self.mount)
        for f in (self.counts, self.map):
            if os.path.exists(f):
                os.remove(f)


def scan_image(build, args, state):
    env = dict(os.environ, DRENTIC_STATE_DIR=state)
    p = subprocess.run([os.path.join(build, "tools", "scan-image")] + args, capture_output=True, text=True, env=env)
    return p.stdout, p.returncode


def tree_rows(text):
    """Found nodes by path and file ID: kind, size, first sector."""
    rows = {}
    for line in text.splitlines():
        f = line.split("\t")
        if len(f) >= 8:
            rows[(f[0], f[1])] = (f[3], int(f[4]), int(f[7].split("+")[0]) if f[7] else None)
    return rows


def compare_tree(clean, damaged, _):
    a, b = tree_rows(clean), tree_rows(damaged)
    # A node found under another path (a folder whose record was lost) is not lost.
    ids = {k[1] for k in b}
    lost = [k[0] for k in a if k not in b and k[1] not in ids]
    moved = sum(1 for k in a if k not in b and k[1] in ids)
    text = f"{len(b)} rows of {len(a)}, {len(lost)} lost, {moved} under another path"
    return text + (f" ({', '.join(lost[:3])}{', ...' if len(lost) > 3 else ''})" if lost else "")


def compare_media(clean, damaged, manifest):
    def starts(text):
        return {r[2]: r[1] for r in tree_rows(text).values() if r[0] == "f" and r[2] is not None}

    a, b = starts(clean), starts(damaged)
    lost, cut, excused = [], [], 0
    with open(manifest) as m:
        for line in m:
            name, sector, bad = line.split()
            sector, bad = int(sector), int(bad)
            if sector not in a:
                continue
            if sector not in b:
                # Its first sector shares the failing page.
                if sector >= bad - bad % 8 and sector // 8 == bad // 8:
                    excused += 1
                else:
                    lost.append(name)
            elif b[sector] < a[sector]:
                cut.append(name)
    text = f"{len(b)} of {len(a)} found, lost {len(lost)}, cut {len(cut)}"
    if excused:
        text += f", {excused} with its first sector unreadable"
    return text + (f" ({', '.join(lost + cut)})" if lost or cut else "")


def compare_save(clean_dir, damaged_dir, _):
    files = same = 0
    for root, _, names in os.walk(clean_dir):
        for n in names:
            files += 1
            there = os.path.join(damaged_dir, os.path.relpath(os.path.join(root, n), clean_dir))
            if os.path.isfile(there):
                with open(os.path.join(root, n), "rb") as a, open(there, "rb") as b:
                    same += a.read() == b.read()
    return f"{same} of {files} files saved as from the intact image"


def volumes(text):
    """Partitions by their start and size (the partition list's keys, or the lost-volume list's columns)."""
    out = set()
    for line in text.splitlines():
        fields = dict(f.split("=", 1) for f in line.split("\t") if "=" in f)
        if "Volume Start" in fields:
            out.add((fields["Volume Start"], fields.get("Volume Size In Sectors")))
        elif line.startswith("volume\t"):
            out.add(tuple(line.split("\t")[1:3]))
    return out


def compare_parts(clean, damaged, _):
    a, b = volumes(clean), volumes(damaged)
    return f"{len(a & b)} of {len(a)} volumes listed"


def make_images(build, work):
    images = os.path.join(build, "test-images")
    if not os.path.exists(os.path.join(images, "fat32.img")):
        sys.exit(f"no test images in {images}: run ctest -R fixtures.make first")
    fixtures = os.path.join(HERE, "..", "tests", "fixtures")
    carve = os.path.join(work, "carve")
    if not os.path.exists(os.path.join(carve, "media.img")):
        subprocess.run(["bash", os.path.join(fixtures, "make-carve-images.sh"), carve], check=True,
                       stdout=subprocess.DEVNULL)
    exfat = os.path.join(work, "exfat")
    if not os.path.exists(os.path.join(exfat, "exfat.img")):
        subprocess.run(["bash", os.path.join(fixtures, "make-exfat-fuse.sh"), exfat], check=True,
                       stdout=subprocess.DEVNULL)
    bare = os.path.join(work, "bare-hfsplus.img")
    if not os.path.exists(bare):
        with open(os.path.join(images, "hfsplus.start")) as f:
            start = int(f.read())
        with open(os.path.join(images, "hfsplus.iso"), "rb") as src, open(bare, "wb") as out:
            src.seek(start * 512)
            out.write(src.read(21832 * 512))
    return images, carve, exfat, bare


def cases(build, work):
    images, carve, exfat, bare = make_images(build, work)
    media = os.path.join(carve, "media.img")
    manifest = os.path.join(carve, "media.manifest")
    with open(manifest) as m:
        planted = [(int(line.split()[2]), 1) for line in m]
    apfs = os.path.join(HERE, "..", "tests", "data", "apfs.raw")
    hfs = os.path.join(images, "hfsplus.iso")
    out = [
        ("media-carve", media, planted, ["carve", "@DEV", "--types", "all"], compare_media, manifest),
        ("media-search", media, planted, ["search", "@DEV", "--types", "all"], compare_media, manifest),
    ]
    for fs_name, img, args in [("fat12", "fat12.img", []), ("fat16", "fat16.img", []), ("fat32", "fat32.img", []),
                               ("exfat", os.path.join(exfat, "exfat.img"), ["--mode", "deleted"]),
                               ("apfs", apfs, [])]:
        for s in range(4):
            out.append((f"{fs_name}-sector{s}", os.path.join(images, img), [(s, 1)], ["tree", "@DEV"] + args,
                        compare_tree, None))
    for fs_name, img, args in [("fat32", "fat32.img", []),
                               ("exfat", os.path.join(exfat, "exfat.img"), ["--mode", "deleted"])]:
        out.append((f"{fs_name}-save-sector0", os.path.join(images, img), [(0, 1)], ["save", "@DEV", "@DEST"] + args,
                    compare_save, None))
    out.append(("mbr-p1-sector2049", os.path.join(images, "mbr-extended.img"), [(2049, 1)],
                ["tree", "@DEV", "--start", "2048"], compare_tree, None))
    # Catalog leaf node 6 of the xorriso volume: its descriptor, middle and offset table.
    for where, s in [("descriptor", 1996), ("middle", 1999), ("offsets", 2003)]:
        out.append((f"hfs-leaf-{where}", hfs, [(s, 1)], ["tree", "@DEV", "--start", "1944", "--mode", "advanced"],
                    compare_tree, None))
    for s, what in [(1, "map-entry"), (2, "other-entry"), (3, "hfs-entry")]:
        out.append((f"apm-{what}", hfs, [(s, 1)], ["partitions", "@DEV"], compare_parts, None))
    for s, what in [(0, "pmbr"), (1, "header"), (2, "entries")]:
        out.append((f"gpt-{what}", os.path.join(images, "gpt.img"), [(s, 1)], ["partitions", "@DEV"], compare_parts,
                    None))
    out.append(("bare-hfs-header", bare, [(2, 1)], ["tree", "@DEV"], compare_tree, None))
    out.append(("bare-hfs-header-advanced", bare, [(2, 1)], ["tree", "@DEV", "--mode", "advanced"], compare_tree,
                None))
    out.append(("bare-hfs-lost-volumes", bare, [(2, 1)], ["lost-volumes", "@DEV"], compare_parts, None))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--work")
    parser.add_argument("--delay", type=float, default=0.005)
    parser.add_argument("--only", default="")
    o = parser.parse_args()
    build = os.path.abspath(o.build)
    work = os.path.abspath(o.work) if o.work else tempfile.mkdtemp(prefix="parser-checks.")
    os.makedirs(work, exist_ok=True)
    state = os.path.join(work, "state")
    os.makedirs(state, exist_ok=True)
    for name, image, bad, args, compare, extra in cases(build, work):
        if o.only not in name:
            continue
        saving = "@DEST" in args
        clean_dest = os.path.join(work, "save-clean")
        if saving:
            shutil.rmtree(clean_dest, ignore_errors=True)
            os.makedirs(clean_dest)
        clean, _ = scan_image(build, [image if a == "@DEV" else clean_dest if a == "@DEST" else a for a in args],
                              state)
        for direct in (True, False):
            dest = os.path.join(work, "save-damaged")
            if saving:
                shutil.rmtree(dest, ignore_errors=True)
                os.makedirs(dest)
            device = Device(work, image, bad, direct, o.delay)
            try:
                before = device.count()
                began = time.monotonic()
                damaged, status = scan_image(
                    build, [device.loop if a == "@DEV" else dest if a == "@DEST" else a for a in args], state)
                seconds = time.monotonic() - began
                after = device.count()
            finally:
                device.close()
            result = compare(clean_dest, dest, extra) if saving else compare(clean, damaged, extra)
            reads = f"failed {after[1] - before[1]} of {after[0] - before[0]} reads" if before and after else \
                "reads not counted"
            print(f"{name:26} {'direct' if direct else 'cached':6} {result}; {reads}, {seconds:.2f} s, exit {status}",
                  flush=True)


if __name__ == "__main__":
    main()
