// Checks an exFAT boot sector made from the input and walks its directories
// into a found-file tree, the way the deleted-file scan of an exFAT volume
// does: the geometry checks, the entry sets, the folder recursion and the
// FAT steps.
//
// The input is a list of sector records (FuzzImage.h): a 4-byte big-endian
// sector number followed by 512 bytes, written into a 16 MiB sparse file
// that is scanned as a volume found on a disk. A volume made by mkfs.exfat
// and filled shrinks to a few dozen records; a seed from such an image:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' exfat.img > seed

#include "FuzzImage.h"
#include "fs/exfat/ExFATFileSystem.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uint64_t kVolumeSectors = 32768;

FuzzImage& image() {
    static FuzzImage image("fuzz-exfat-walk", FuzzImage::Controller::Recording, FuzzImage::Storage::Memory);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzImage& img = image();
    if (!img.writeSectorRecords(data, size, kVolumeSectors)) return 0;
    img.controller().clear();

    platform::Dict row = img.foundVolume(kVolumeSectors);
    row.set("Content", "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
    auto v = Volume::initWithDictionary(row);
    if (!v) std::abort();
    v->setRawRead(FuzzImage::failingReader(FuzzImage::failingSectors(data, size, kVolumeSectors)));
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    ExFATFileSystem(*v).startExFATFileSystemRecovery();
    v->freeTree();
    return 0;
}
