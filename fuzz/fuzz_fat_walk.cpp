// Checks a FAT12, FAT16 or FAT32 volume made from the input and walks its
// directories into a found-file tree, the way the tree scan does: the boot
// sector and FAT checks, the cluster chains and the folder walk, live and
// deleted entries alike.
//
// The first input byte chooses the FAT type the volume is taken for (its
// value modulo 3); the rest is a list of sector records (a 4-byte big-endian
// sector number and 512 bytes) written into a 40 MiB sparse file, as the
// other volume targets take theirs. A seed from an image made with
// mkfs.vfat and mtools:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(bytes([2])+b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' fat32.img > seed

#include "FuzzImage.h"
#include "fs/fat/FATFileSystem.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uint64_t kVolumeSectors = 81920;

FuzzImage& image() {
    static FuzzImage image("fuzz-fat-walk");
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FuzzImage& img = image();
    if (!img.writeSectorRecords(data + 1, size - 1, kVolumeSectors)) return 0;
    img.controller().clear();

    auto v = Volume::initWithDictionary(img.foundVolume(kVolumeSectors));
    if (!v) std::abort();
    v->setRawRead(FuzzImage::failingReader(FuzzImage::failingSectors(data + 1, size - 1, kVolumeSectors)));
    static const char* const kTypes[] = {"FAT12", "FAT16", "FAT32"};
    v->volumeContent = kTypes[data[0] % 3];
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    FATFileSystem(*v).startFATFileSystemRecovery();
    v->freeTree();
    return 0;
}
