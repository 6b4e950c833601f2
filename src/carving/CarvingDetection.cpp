#include "carving/CarvingDetection.h"

#include "carving/CarvedFileRecorder.h"
#include "carving/CarvingResultFolders.h"
#include "carving/SignatureGroupDetection.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "sizecalc/CarvingContext.h"
#include "sizecalc/SizeCalculator.h"
#include "sizecalc/SizeCalculatorChain.h"
#include "sizecalc/X3fFileCheck.h"
#include "volume/Volume.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {
// Previews this small are thumbnails, not worth a file of their own.
constexpr std::uint64_t kSmallestRawJpeg = 1024;
} // namespace

CarvingDetection::CarvingDetection(Volume& volume, const Parts& parts, std::uint64_t origin)
    : volume_(volume), p_(parts), origin_(origin) {
    p_.groups.setLookup(this);
}

CarvingDetection::~CarvingDetection() {
    p_.groups.setLookup(nullptr);
}

bool CarvingDetection::startsFile(std::uint64_t sector, platform::ByteView bytes) {
    const std::uint64_t device = platform::saturatingAdd(origin_, sector);
    return p_.chain.measuresFileAt(bytes, device) || p_.groups.startsKnownFile(sector, bytes);
}

bool CarvingDetection::pastOpenFile(std::uint64_t sector) const {
    return open_ && sector > open_->sector &&
           platform::saturatingMul(sector - open_->sector, volume_.u32BytesInSector()) >= open_->unvouched.reach();
}

void CarvingDetection::forgetMeasure() {
    CarvingContext& c = p_.context;
    c.rawJpeg.found = false;
    c.skipCarvedFileBlocks = false;
    c.measuredCut = false;
    c.measuredOnHeaderAlone = false;
    c.checkedBytes.reset();
    // Most sectors measure nothing, and a record made anew for each of them
    // cost more than the look.
    CarvingContext::Unvouched& u = c.measuredUnvouched;
    if (u.from != 0 || u.end != 0 || u.cutMargin != 0 || !u.ownSectors.empty() || !u.bodies.empty()) u = {};
}

BlockSearchEngine::Skip CarvingDetection::examineSector(std::uint64_t sector, platform::ByteView bytes) {
    // Past the open file's unvouched bytes: nothing was found inside them.
    if (pastOpenFile(sector)) settle();
    // A thumbnail that the metadata of a file found before places here is
    // that file's.
    if (p_.groups.passesOver(sector)) return {};
    // The calculators see the sector's first bytes only; those that need
    // more read the device themselves.
    p_.context.reader().lostSector().startFile(origin_ + sector);
    const SizeCalculatorChain::Hit hit =
        p_.chain.measure(bytes.sub(0, SizeCalculator::kLeadingBytes), origin_ + sector);
    BlockSearchEngine::Skip skip;
    bool recorded = false;
    if (hit.calculator) {
        // Found again by a resumed search: recorded already, jumped alike.
        recorded = hit.size != 0 && (p_.recorder.recordedBefore(sector) || record(*hit.calculator, hit.size, sector));
        // An MP3 or MPEG stream holds no other file: its sectors are jumped.
        // Its measure runs a margin of up to a sector past its last frame,
        // where the next file may already begin, so that last sector is
        // still examined. A stream whose walk went on past sectors the
        // medium could not give, at a frame or pack it searched for, may
        // have gone on into another: the jump ends at the first of them. Nor
        // does it go past the bytes the walk checked as the stream's.
        if (p_.context.skipCarvedFileBlocks && !p_.context.measuredOnHeaderAlone) {
            p_.context.skipCarvedFileBlocks = false;
            const std::uint32_t bps = volume_.u32BytesInSector();
            const std::uint64_t covered = std::min(hit.size, p_.context.checkedBytes.value_or(hit.size));
            skip = {p_.context.reader().lostSector().jumpable((covered - std::min<std::uint64_t>(covered, bps)) / bps),
                    true};
        }
    }
    if (!recorded) {
        const BlockSearchEngine::Skip found = p_.groups.examineSector(sector, bytes);
        if (found.sectors != 0) skip = found;
        if (p_.groups.recordedAKnownStart()) foundAt(sector);
    }
    forgetMeasure();
    return skip;
}

void CarvingDetection::settle() {
    if (!open_) return;
    p_.fileDesc.writeDir(open_->file);
    p_.fileDesc.recordsWritten();
    open_.reset();
}

std::optional<std::uint64_t> CarvingDetection::checkpointAt(std::uint64_t sector) {
    if (pastOpenFile(sector)) settle();
    if (!open_) return std::nullopt;
    return open_->sector;
}

void CarvingDetection::resumeAt(std::uint64_t sector) {
    // Taken once: a run after this one holds nothing of the interrupted one.
    const std::optional<std::uint64_t> held = std::exchange(volume_.heldFileBeforeResume, std::nullopt);
    // From that sector on the search finds it again; a file the restored
    // tree holds there was settled before the interruption.
    if (!held || *held >= sector || p_.recorder.recordedBefore(*held)) return;
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::optional<std::uint64_t> device = platform::checkedAdd(origin_, *held);
    std::vector<std::uint8_t> first(bps);
    bool recorded = false;
    if (device && bps != 0 && p_.context.reader().readSaveSector(*device, 1, first.data())) {
        p_.context.reader().lostSector().startFile(*device);
        const platform::ByteView bytes(first.data(), first.size());
        const SizeCalculatorChain::Hit hit = p_.chain.measure(bytes.sub(0, SizeCalculator::kLeadingBytes), *device);
        p_.context.rawJpeg.found = false;
        recorded = hit.calculator && hit.size != 0 && record(*hit.calculator, hit.size, *held);
    }
    forgetMeasure();
    if (!recorded)
        platform::logFormat("The file the interrupted carving of %@ held open at sector %llu is not found there again; "
                            "it is not listed",
                            volume_.path(), static_cast<unsigned long long>(*held));
}

void CarvingDetection::foundAt(std::uint64_t sector) {
    if (!open_ || sector <= open_->sector) return;
    // A file that begins inside the structure its walk read, such as a
    // photo's thumbnail in its header segments, or where a part of its own
    // begins (a movie's frame), is the file's own.
    const std::uint64_t at = platform::saturatingMul(sector - open_->sector, volume_.u32BytesInSector());
    const CarvingContext::Unvouched& unvouched = open_->unvouched;
    if (!unvouched.cutsAt(at, volume_.u32BytesInSector())) return;
    const std::uint64_t before = open_->file->fileSize;
    p_.recorder.cutCarvedFile(open_->file, at + unvouched.cutMargin);
    volume_.dataSize -= before - open_->file->fileSize;
    settle();
}

bool CarvingDetection::record(const SizeCalculator& calculator, std::uint64_t measured, std::uint64_t sector) {
    NewDir* folder = p_.folders.folderFor(calculator.parentKey());
    // A file cut off by the volume's end is measured at its format's fixed
    // size: only what lies on the volume is its.
    const std::uint64_t size = std::min(measured, p_.recorder.bytesLeftFrom(sector));
    if (!folder || size == 0 || !p_.recorder.fitsRecord(sector, size)) return false;
    // The X3F folder holds Sigma raw files and the TIFFs that calculator also
    // measures, each named by its own kind.
    if (const auto* x3f = dynamic_cast<const X3fFileCheck*>(&calculator); x3f && x3f->extensionOfFile().size() > 1)
        newdir::setExtension(folder, newdir::utf16(x3f->extensionOfFile().substr(1)));
    // A file read no further than chance makes is listed, but says nothing
    // of the file it may lie in.
    const bool vouches = !p_.context.measuredOnHeaderAlone;
    if (vouches) foundAt(sector);
    volume_.dataSize += size;
    ++volume_.fileCount;
    ++volume_.entryCount;
    if (!p_.recorder.linkedUnderRoot(folder)) {
        ++volume_.folderCount;
        ++volume_.entryCount;
    }
    // A file whose unvouched bytes run on past this sector stays open, its
    // record held, while no other is (a thumbnail that begins a sector lies
    // in the header of the photo open).
    CarvingContext::Unvouched& unvouched = p_.context.measuredUnvouched;
    const bool opens = vouches && !open_ && (unvouched.end > unvouched.from || !unvouched.bodies.empty());
    NewDir* file = p_.recorder.addDetailsToNdir(folder, size, sector, p_.fileDesc, p_.context.measuredCut, opens);
    p_.groups.passOver(sector, p_.context.thumbnails);
    if (opens && file) {
        std::sort(unvouched.ownSectors.begin(), unvouched.ownSectors.end());
        open_ = OpenFile{file, sector, std::move(unvouched)};
    }

    CarvingContext::RawJpeg& preview = p_.context.rawJpeg;
    NewDir* rawJpg = p_.folders.rawJpgFolder();
    if (preview.found && preview.fileSize > kSmallestRawJpeg && rawJpg && preview.sectorNumber >= origin_) {
        const std::uint64_t at = preview.sectorNumber - origin_;
        const std::uint64_t left = p_.recorder.bytesLeftFrom(at);
        const std::uint64_t previewSize =
            std::min(preview.fileSize, left > preview.extraBytes ? left - preview.extraBytes : 0);
        if (previewSize != 0 && p_.recorder.fitsRecord(at, previewSize, preview.extraBytes))
            p_.recorder.addDetailsOfRawJpgFile(rawJpg, at, previewSize, preview.extraBytes, p_.fileDesc);
    }
    if (preview.found) {
        preview.found = false;
        preview.sectorNumber = 0;
        preview.fileSize = 0;
    }
    p_.fileDesc.recordsWritten();
    return true;
}
