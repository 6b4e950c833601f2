#!/usr/bin/env python3
"""A dying disk for manual checks: serves one file, disk.img, whose bytes are
those of IMAGE except that every read touching sectors FIRST..FIRST+COUNT-1
fails with an I/O error, as a disk fails a whole request for one bad sector
(COUNT 0: none does, for a control run).
Each failed read takes DELAY seconds (0 unless given), as a dying disk's own
retries do; from DEAD_AFTER seconds after the first read on, every read
fails (a disk that dies or is pulled out). Put a loop device on it to get a
block device with bad sectors:

    bad-sectors-fuse.py IMAGE MOUNTPOINT FIRST COUNT [DELAY [DEAD_AFTER]] &
    losetup -r -f --show MOUNTPOINT/disk.img

Instead of FIRST COUNT, "@MAP 0" takes the bad sectors from the file MAP,
one pattern a line: "FIRST COUNT" fails COUNT sectors from FIRST, and
"FIRST COUNT EVERY [TIMES]" does so again every EVERY sectors, TIMES times
(to the image's end when left out). Environment: DIE_AT_SECTOR=S makes
every read fail from the first read that runs into sector S from before it
on (a disk that dies part-way as a walk of it reaches S; the pages the
kernel cached before still answer, those a probe of the disk's end read
among them), DEAD_FILE=PATH makes every read fail while PATH exists (the
tool makes it as the disk dies at DIE_AT_SECTOR; take it away and the disk
answers again, until a read runs into that sector once more, or for good
with DIE_ONCE=1), DIRECT_IO=1
keeps the kernel from caching disk.img's pages
at all, and COUNT_FILE=PATH keeps in PATH how many reads it has served and
failed ("READS FAILED"), as the device below a loop device counts them: the
failed ones at each failure, the served ones then, every 4096th and at the
end.

Speaks the kernel's FUSE protocol on /dev/fuse itself (no libfuse needed);
root only. Unmount (umount MOUNTPOINT) to stop it.
"""
import ctypes
import errno
import os
import stat
import struct
import sys
import bisect
import time

IN_HEADER = struct.Struct("<IIQQIIIHH")
OUT_HEADER = struct.Struct("<IiQ")
ATTR = struct.Struct("<QQQQQQIIIIIIIIII")
LOOKUP, FORGET, GETATTR, OPEN, READ, RELEASE, FLUSH, INIT = 1, 2, 3, 14, 15, 18, 25, 26
OPENDIR, RELEASEDIR, INTERRUPT, DESTROY, BATCH_FORGET = 27, 29, 36, 38, 42
NO_REPLY = (FORGET, INTERRUPT, BATCH_FORGET)
ROOT, FILE = 1, 2
NAME = b"disk.img"


class BadSectors:
    """Runs and periodic patterns of bad sectors, asked by byte ranges."""

    def __init__(self, size):
        self.size_sectors = (size + 511) // 512
        self.runs = []  # (first, end) sectors, sorted, from single runs
        self.patterns = []  # (first, count, every, end)

    def add(self, first, count, every=0, times=None):
        if count <= 0:
            return
        if every <= 0:
            self.runs.append((first, first + count))
            return
        end = self.size_sectors if times is None else first + every * times
        self.patterns.append((first, count, every, end))

    def finish(self):
        merged = []
        for first, end in sorted(self.runs):
            if merged and first <= merged[-1][1]:
                merged[-1] = (merged[-1][0], max(merged[-1][1], end))
            else:
                merged.append((first, end))
        self.runs = merged
        self.starts = [r[0] for r in merged]

    def hits(self, offset, length):
        lo, hi = offset // 512, (offset + length + 511) // 512
        # The last run that begins before the range ends is the only one
        # that can reach into it: merged runs never overlap.
        i = bisect.bisect_right(self.starts, hi - 1) - 1
        if i >= 0 and self.runs[i][1] > lo:
            return True
        for first, count, every, end in self.patterns:
            if hi <= first or lo >= end:
                continue
            at = max(lo, first)
            k = (at - first) // every
            while True:
                s = first + k * every
                if s >= min(hi, end):
                    break
                if s + count > at:
                    return True
                k += 1
        return False


def main():
    image, mountpoint, first_arg, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    delay = float(sys.argv[5]) if len(sys.argv) > 5 else 0.0
    dead_after = float(sys.argv[6]) if len(sys.argv) > 6 else None
    first_read = None
    data = os.open(image, os.O_RDONLY)
    size = os.fstat(data).st_size
    bad = BadSectors(size)
    if first_arg.startswith("@"):
        with open(first_arg[1:]) as patterns:
            for line in patterns:
                fields = [int(f) for f in line.split()]
                if fields:
                    bad.add(fields[0], fields[1], *fields[2:4])
    else:
        bad.add(int(first_arg), count)
    bad.finish()
    die_at = int(os.environ["DIE_AT_SECTOR"]) * 512 if os.environ.get("DIE_AT_SECTOR") else None
    die_once = os.environ.get("DIE_ONCE") == "1"
    died = ever_died = False
    dead_file = os.environ.get("DEAD_FILE")
    open_flags = 1 if os.environ.get("DIRECT_IO") == "1" else 0  # FOPEN_DIRECT_IO
    count_file = os.open(os.environ["COUNT_FILE"], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644) \
        if os.environ.get("COUNT_FILE") else None
    reads = failed = 0

    def count(failed_now):
        nonlocal reads, failed
        reads += 1
        failed += 1 if failed_now else 0
        # Kept in place at a fixed width: each failure, and now and then.
        if count_file is not None and (failed_now or reads % 4096 == 0):
            os.pwrite(count_file, f"{reads:20d} {failed:20d}\n".encode(), 0)

    fuse = os.open("/dev/fuse", os.O_RDWR)
    libc = ctypes.CDLL(None, use_errno=True)
    options = f"fd={fuse},rootmode=40000,user_id=0,group_id=0,allow_other".encode()
    if libc.mount(b"bad-sectors", mountpoint.encode(), b"fuse", 0x6, options) != 0:
        sys.exit("mount: " + os.strerror(ctypes.get_errno()))

    def attr(node):
        if node == ROOT:
            return ATTR.pack(ROOT, 0, 0, 0, 0, 0, 0, 0, 0, stat.S_IFDIR | 0o755, 2, 0, 0, 0, 4096, 0)
        return ATTR.pack(FILE, size, (size + 511) // 512, 0, 0, 0, 0, 0, 0, stat.S_IFREG | 0o444, 1, 0, 0, 0, 4096, 0)

    while True:
        try:
            request = os.read(fuse, (1 << 20) + 4096)
        except OSError as e:
            if e.errno == errno.EINTR:
                continue
            break  # unmounted
        _, opcode, unique, node, *_ = IN_HEADER.unpack_from(request)
        body = request[IN_HEADER.size:]
        error, reply = 0, b""
        if opcode == INIT:
            # No read-ahead of our own on disk.img: the loop device's page
            # cache above is what is looked at.
            reply = struct.pack("<IIIIHHIIHHI", 7, 31, 0, 0, 16, 12, 4096, 1, 32, 0, 0) + bytes(28)
        elif opcode == LOOKUP:
            if node == ROOT and body.rstrip(b"\0") == NAME:
                reply = struct.pack("<QQQQII", FILE, 0, 3600, 3600, 0, 0) + attr(FILE)
            else:
                error = -errno.ENOENT
        elif opcode == GETATTR:
            reply = struct.pack("<QII", 3600, 0, 0) + attr(node)
        elif opcode in (OPEN, OPENDIR):
            reply = struct.pack("<QII", 0, open_flags if opcode == OPEN else 0, 0)
        elif opcode == READ:
            _, offset, length = struct.unpack_from("<QQI", body)
            now = time.monotonic()
            first_read = now if first_read is None else first_read
            dies = die_at is not None and offset <= die_at < offset + length and not (die_once and ever_died)
            ever_died = ever_died or dies
            if dead_file is None:
                died = died or dies
            else:
                if dies:
                    os.close(os.open(dead_file, os.O_WRONLY | os.O_CREAT, 0o644))
                died = os.path.exists(dead_file)
            dead = died or (dead_after is not None and now - first_read >= dead_after)
            # An empty range (COUNT 0) fails nothing: a clean control run.
            if dead or bad.hits(offset, length):
                time.sleep(delay)
                error = -errno.EIO
            else:
                reply = os.pread(data, length, offset)
            count(error != 0)
        elif opcode in (RELEASE, RELEASEDIR, FLUSH, DESTROY):
            pass
        elif opcode in NO_REPLY:
            continue
        else:
            error = -errno.ENOSYS
        os.write(fuse, OUT_HEADER.pack(OUT_HEADER.size + len(reply), error, unique) + reply)
        if opcode == DESTROY:
            break
    if count_file is not None:
        os.pwrite(count_file, f"{reads:20d} {failed:20d}\n".encode(), 0)


if __name__ == "__main__":
    main()
