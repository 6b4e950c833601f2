// Carves a small whole disk made from the input, as the photo recovery of a
// drive does, with every type of the photo and file scans' built-in lists
// marked: the formats with a size calculator measured by it, every other
// type searched as a signature. Every sector is examined, so batch ends,
// jumps and skips across them, key windows reaching past a batch or the
// disk, and walks that run off the disk all come up.
//
// Input: one byte of options, then sector records (see FuzzImage.h) written
// into a disk of 600 + 3 x (options >> 1) 512-byte sectors (600 to 1365), so
// that the last batch is cut short at many places. Option bit 0 makes the
// disk's sectors 4096 bytes (the same bytes, an eighth as many sectors). The
// file the disk is read from runs on past the disk's end with sectors that
// each begin a WAV file: a run that examined a sector past the end would
// record a file there; every carved file lies wholly on the disk. The
// sectors of records whose number has its top bit set cannot be read.
// A seed: the options byte, then a few samples' first 16 KiB at sectors of
// the disk (sample:sector ...):
//
//   python3 -c 'import sys,struct; out=bytes([int(sys.argv[1])])
//   for a in sys.argv[2:]:
//       f,s=a.split(":"); d=open(f,"rb").read()[:16384]; d+=bytes(-len(d)%512)
//       out+=b"".join(struct.pack(">I",int(s)+i)+d[i*512:i*512+512] for i in range(len(d)//512))
//   sys.stdout.buffer.write(out)' 0 photo.jpg:3 song.mp3:40 pic.png:79 > seed
//
// Build: see run-all.sh (the fuzz build of the whole tree).

#include "FuzzImage.h"
#include "carving/AutoRecoveryAppend.h"
#include "carving/PhotoCarving.h"
#include "signatures/FileTypeTable.h"
#include "signatures/SignatureSearchState.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kLeastSectors = 600;
constexpr std::uint64_t kTrailSectors = 64;

FuzzImage& image() {
    static FuzzImage image("fuzz-carving-engine", FuzzImage::Controller::Recording, FuzzImage::Storage::Memory);
    return image;
}

// Every type of both built-in lists, as the build writes them from the table.
const platform::Array& everyType() {
    static const platform::Array types = [] {
        std::ifstream in(DRENTIC_FILE_TYPE_TABLE, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const auto rows = FileTypeTable::parse(text);
        if (!rows) std::abort();
        platform::Array out;
        for (const auto list : {FileTypeTable::PR, FileTypeTable::FR})
            for (const auto& category : FileTypeTable::buildList(*rows, list))
                for (const auto& node : category->children())
                    out.emplace_back(node);
        return out;
    }();
    return types;
}

// What lies past the disk's end: sectors that each begin a WAV header, which
// its calculator measures from the header alone.
const std::vector<std::uint8_t>& trail() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> out(kTrailSectors * FuzzImage::kSectorBytes, 0);
        const std::uint8_t wav[] = {'R', 'I', 'F', 'F', 0x00, 0x20, 0x00, 0x00, 'W', 'A', 'V', 'E'};
        for (std::size_t at = 0; at < out.size(); at += FuzzImage::kSectorBytes)
            std::copy(std::begin(wav), std::end(wav), out.begin() + static_cast<std::ptrdiff_t>(at));
        return out;
    }();
    return bytes;
}

// Every carved file lies on the disk, whole.
void checkFiles(const NewDir* folder, std::uint64_t diskSectors) {
    for (std::uint32_t i = 0; i < folder->childrenArrayCount(); ++i) {
        const NewDir* child = newdir::childAtIndex(folder, i);
        if (child->isFolder()) {
            checkFiles(child, diskSectors);
        } else if (child->extentCount() != 0) {
            const std::uint64_t start = std::uint64_t{child->dataStartSector} + child->extents[0].startBlock;
            if (start >= diskSectors || start + child->extents[0].blockCount > diskSectors) std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FuzzImage& img = image();
    const std::uint8_t options = data[0];
    const std::uint64_t fileSectors = kLeastSectors + 3 * (options >> 1);
    const std::uint32_t bytesPerSector = (options & 1) ? 4096 : 512;
    const std::uint64_t diskBytes = fileSectors * FuzzImage::kSectorBytes / bytesPerSector * bytesPerSector;
    if (!img.writeSectorRecords(data + 1, size - 1, fileSectors) ||
        !img.writeAt(diskBytes, trail().data(), trail().size()))
        return 0;

    // A fresh volume for every input, as for a scan: its reader keeps a
    // window of the image it read, which must not serve an earlier input's.
    auto v = Volume::initWithDictionary(platform::Dict{{"Path", img.path()},
                                                       {"Preferred Block Size", bytesPerSector},
                                                       {"Size", diskBytes},
                                                       {"WhetherDiskDict", true},
                                                       {"device model", "-"},
                                                       {"device serial", "-"},
                                                       {"device revision", "-"}});
    if (!v) std::abort();
    // The sectors the input marks unreadable: their zeros are data lost,
    // never a file's structure.
    v->setRawRead(FuzzImage::failingReader(FuzzImage::failingSectors(data + 1, size - 1, fileSectors)));
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    v->setRawSearchStart(0, 100);
    SignatureSearchState search;
    search.sigArray = everyType();
    AutoRecoveryAppend noPair;
    PhotoCarving(*v, search, noPair).signatureSearchDiskPhotoMethodStartAt(0);
    checkFiles(v->dirRoot, diskBytes / bytesPerSector);
    v->freeTree();
    // What the run posted goes with it, so that nothing an input allocated
    // outlives it and every input is free of leaks on its own.
    img.controller().clear();
    return 0;
}
