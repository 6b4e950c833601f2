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

Speaks the kernel's FUSE protocol on /dev/fuse itself (no libfuse needed);
root only. Unmount (umount MOUNTPOINT) to stop it.
"""
import ctypes
import errno
import os
import stat
import struct
import sys
import time

IN_HEADER = struct.Struct("<IIQQIIIHH")
OUT_HEADER = struct.Struct("<IiQ")
ATTR = struct.Struct("<QQQQQQIIIIIIIIII")
LOOKUP, FORGET, GETATTR, OPEN, READ, RELEASE, FLUSH, INIT = 1, 2, 3, 14, 15, 18, 25, 26
OPENDIR, RELEASEDIR, INTERRUPT, DESTROY, BATCH_FORGET = 27, 29, 36, 38, 42
NO_REPLY = (FORGET, INTERRUPT, BATCH_FORGET)
ROOT, FILE = 1, 2
NAME = b"disk.img"


def main():
    image, mountpoint, first, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    bad = (first * 512, (first + count) * 512)
    delay = float(sys.argv[5]) if len(sys.argv) > 5 else 0.0
    dead_after = float(sys.argv[6]) if len(sys.argv) > 6 else None
    first_read = None
    data = os.open(image, os.O_RDONLY)
    size = os.fstat(data).st_size
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
            reply = struct.pack("<QII", 0, 0, 0)
        elif opcode == READ:
            _, offset, length = struct.unpack_from("<QQI", body)
            now = time.monotonic()
            first_read = now if first_read is None else first_read
            dead = dead_after is not None and now - first_read >= dead_after
            # An empty range (COUNT 0) fails nothing: a clean control run.
            if dead or (bad[0] < bad[1] and offset < bad[1] and bad[0] < offset + length):
                time.sleep(delay)
                error = -errno.EIO
            else:
                reply = os.pread(data, length, offset)
        elif opcode in (RELEASE, RELEASEDIR, FLUSH, DESTROY):
            pass
        elif opcode in NO_REPLY:
            continue
        else:
            error = -errno.ENOSYS
        os.write(fuse, OUT_HEADER.pack(OUT_HEADER.size + len(reply), error, unique) + reply)
        if opcode == DESTROY:
            break


if __name__ == "__main__":
    main()
