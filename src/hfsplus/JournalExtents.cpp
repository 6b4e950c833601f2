#include "hfsplus/JournalExtents.h"

#include "hfsplus/CatalogEntryNode.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/JournalSectorReader.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <unordered_set>
#include <vector>

using platform::ByteView;
using platform::checkedAdd;
using platform::checkedMul;
using platform::checkedMulAdd;
using platform::Dict;
using platform::saturatingAdd;
using platform::saturatingMul;

namespace {

constexpr const char* kSearchStatus = "Searching extra extents...";

// Where the records of an extents-overflow leaf node begin, and how far
// apart they lie: a 12-byte key and eight 8-byte descriptors each.
constexpr std::size_t kFirstRecord = hfsplus::kBTNodeDescriptorSize;
constexpr std::size_t kRecordStride = hfsplus::kExtentLeafRecordSize;
// The walk reads a record's key only while a whole record and a little
// more fit behind it in the block.
constexpr std::size_t kRecordRoom = 80;
// No B-tree node is larger (its size is a 16-bit field): records further
// into a huge allocation block belong to no node, and a block size read
// from a damaged header must not decide how much memory one read takes.
constexpr std::uint64_t kMaxNodeBytes = 1u << 16;

// A sector that begins like a copy of an extents-overflow leaf node: leaf
// kind and height, some records, and the first two records with the key
// length every extents key has. The descriptor is tested as stored.
bool startsExtentsLeafCopy(ByteView sector) {
    return sector.u8(9) == 1 && sector.u8(8) == 0xFF && sector.be16(10) != 0 && sector.be16(12) == 0 &&
           sector.be16(kFirstRecord) == hfsplus::kExtentKeyLength &&
           sector.be16(kFirstRecord + kRecordStride) == hfsplus::kExtentKeyLength;
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers shared with the deleted-file scan

bool JournalExtents::extentInVolume(HFSPlusReaderState& state, std::uint64_t startBlock, std::uint64_t blockCount) {
    const Volume& volume = state.volume;
    const std::uint64_t blockSize = volume.blockSize();
    if (blockSize == 0) return false;
    const auto origin = checkedAdd(volume.HPlusVolStart(), volume.blocksStartsAtSector);
    const auto first = origin ? checkedMulAdd(*origin, startBlock, blockSize) : std::nullopt;
    const auto sectors = checkedMul(blockCount, blockSize);
    if (!first || !sectors) return false;
    return HFSPlusVolume(state).sectorsInVolume(*first, *sectors);
}

bool JournalExtents::covers(const Volume& volume, const NewDir& file, std::uint64_t blocks) {
    const std::uint64_t blockBytes = static_cast<std::uint64_t>(volume.blockSize()) * volume.u32BytesInSector();
    return saturatingMul(blocks, blockBytes) >= file.fileSize;
}

// ---------------------------------------------------------------------------
// Locating the journal

void JournalExtents::getJournalSizeAndStart() {
    state_.journalStart = 0;
    state_.journalSize = 0;
    const std::uint32_t infoBlock = volume_.vib.journalInfoBlock;
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint64_t blockSize = volume_.blockSize();
    if (infoBlock == 0) {
        // Without a journal the volume's first sector would be taken for
        // its info block, and whatever lies there for a journal.
        platform::logFormat("HFS+ volume on %@ has no journal; no journal copies are searched", volume_.path());
        return;
    }
    if (bps == 0 || blockSize == 0) return;

    HFSPlusVolume hfs(state_);
    const std::uint64_t sector = checkedAdd(volume_.HPlusVolStart(), infoBlock * blockSize).value_or(0);
    std::vector<std::uint8_t> buffer;
    if (!hfs.readNode(sector, 1, buffer)) {
        platform::logFormat("HFS+ volume on %@: journal info block %u lies outside the volume or cannot be read; "
                            "no journal copies are searched",
                            volume_.path(), infoBlock);
        return;
    }
    const JournalInfoBlock info = convertJournalInfoBlock(ByteView(buffer));

    // The journal must begin inside the volume and is cut at its end.
    const std::uint64_t volumeEnd = saturatingAdd(volume_.startSector, volume_.sizeInSect());
    const std::uint64_t volumeBytes =
        volume_.HPlusVolStart() < volumeEnd ? saturatingMul(volumeEnd - volume_.HPlusVolStart(), bps) : 0;
    if (info.offset >= volumeBytes) {
        platform::logFormat("HFS+ volume on %@: the journal at byte %llu lies outside the volume; "
                            "no journal copies are searched",
                            volume_.path(), static_cast<unsigned long long>(info.offset));
        return;
    }
    std::uint64_t size = info.size;
    if (size > volumeBytes - info.offset) {
        size = volumeBytes - info.offset;
        platform::logFormat("HFS+ volume on %@: the journal of %llu bytes reaches past the volume's end; "
                            "only its first %llu bytes are searched",
                            volume_.path(), static_cast<unsigned long long>(info.size),
                            static_cast<unsigned long long>(size));
    }
    state_.journalStart = info.offset;
    state_.journalSize = size;
}

// ---------------------------------------------------------------------------
// Searching the journal

void JournalExtents::takeExtentsRecord(ByteView record) {
    const HFSPlusExtentKey_ key = convertHPlusExtentKey(record.sub(0, hfsplus::kExtentKeySize));
    if (!volume_.btree) return;
    const ItemType* item = volume_.btree->retrieveKeyField(key.fileID);
    NewDir* file = item ? item->dir() : nullptr;
    // Folders share the ID space with files but have no extents: a record
    // naming one is stale or not an extents record at all.
    if (!file || file->fileType != NewDir::File) return;
    if (file->complete == kComplete || key.forkType != hfsplus::kDataFork) return;
    const std::uint64_t covered = CatalogEntryNode::coveredBlocks(*file);
    if (covers(volume_, *file, covered)) return;
    if (key.startBlock < covered) return; // appended from an earlier copy already

    // A file with no extent at all has nothing these could follow on, so
    // they are not taken (a group for a later record still marks the gap).
    // Of the others, one leaving the volume is dropped and the file is
    // listed as one its extents do not hold whole.
    const bool take = covered != 0;
    std::vector<HFSPlusExtentDescriptor_> descriptors;
    unsigned outside = 0;
    for (std::size_t j = 0; take && j < hfsplus::kExtentsPerRecord; ++j) {
        const HFSPlusExtentDescriptor_ d = convertHPlusExtentDescriptor(
            record.sub(hfsplus::kExtentKeySize + j * hfsplus::kExtentDescriptorSize, hfsplus::kExtentDescriptorSize));
        if (extentInVolume(state_, d.startBlock, d.blockCount))
            descriptors.push_back(d);
        else
            ++outside;
    }
    if (outside != 0) {
        platform::logFormat("Journal extents record of file %u: %u of its extents lie outside the volume; dropped",
                            key.fileID, outside);
        file->complete = kIncomplete;
    }

    if (key.startBlock == covered) {
        for (const HFSPlusExtentDescriptor_& d : descriptors)
            newdir::appendDataExtent(file, d.startBlock, d.blockCount);
        return;
    }
    // Extents further on in the file than the ones it has: kept as a group
    // until the records between are found.
    ExtCompP group;
    for (const HFSPlusExtentDescriptor_& d : descriptors)
        newdir::appendExtentToGroup(group, (ExtP{d.startBlock, d.blockCount}).startBlock,
                                    (ExtP{d.startBlock, d.blockCount}).blockCount);
    group.groupStartBlock = key.startBlock;
    newdir::appendExtentGroup(file, std::move(group));
}

void JournalExtents::searchJournalForExtraExtents() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint64_t blockSize = volume_.blockSize();
    const std::uint64_t n = bps == 0 ? 0 : state_.journalSize / bps;
    HFSPlusVolume::postProgress(Dict{{"Progress Status", kSearchStatus}, {"Progress Type", 1}, {"BarDoubleValue", 0}});
    HFSPlusVolume::postProgress(Dict{
        {"BarMaxValue", static_cast<unsigned long long>(n)}, {"Progress Status", kSearchStatus}, {"BarMinValue", 0}});
    HFSPlusVolume::postProgress(Dict{{"TimeRemaining", ""}});
    if (auto* c = platform::appController()) c->setUpTimer();
    const auto start = std::chrono::steady_clock::now();
    if (n == 0 || blockSize == 0) return;

    const std::uint64_t first = volume_.HPlusVolStart() + state_.journalStart / bps;
    const std::uint64_t nodeSectors = std::min<std::uint64_t>(blockSize, (kMaxNodeBytes + bps - 1) / bps);
    JournalSectorReader journal(state_, first, n);
    std::vector<std::uint8_t> block;
    std::uint64_t steps = 0;
    for (std::uint64_t i = 0; i < n && !volume_.stopTreeThread();) {
        ++steps;
        if (!volume_.timerFireMethodCanRun()) {
            const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double remaining =
                elapsed * (static_cast<double>(n) - static_cast<double>(steps)) / static_cast<double>(steps);
            Dict& update = volume_.dataUpdate;
            update.clear();
            update.set("Progress Status", kSearchStatus);
            update.set("BarDoubleValue", static_cast<unsigned long long>(i));
            update.set("TimeRemaining", volume_.getTimeFormStringForInterval(remaining));
            volume_.setTimerFireMethodCanRun(true);
        }

        if (!startsExtentsLeafCopy(journal.sector(i))) {
            ++i;
            continue;
        }
        // The node is taken as one allocation block long (at most the
        // largest node there is); its records lie one after another from the
        // descriptor on, up to the first empty key. The whole block is
        // passed over.
        if (journal.read(first + i, static_cast<std::uint32_t>(nodeSectors), block)) {
            const ByteView node(block);
            std::size_t o = kFirstRecord;
            for (std::uint16_t k = node.be16(o); k != 0;) {
                takeExtentsRecord(node.sub(o, kRecordStride));
                o += kRecordStride;
                k = o + kRecordRoom < node.size() ? node.be16(o) : 0;
            }
        }
        i += blockSize;
    }
}

// ---------------------------------------------------------------------------
// Putting groups in order

void JournalExtents::rearrangeExtsFound(NewDir* node) {
    if (!node) return;
    // The orphan pass hangs entries under whatever bears their parent ID, so
    // a node is visited once even if the links it made come back round.
    std::unordered_set<NewDir*> visited;
    newdir::preOrder(node, newdir::childList, newdir::anyChild, [&](NewDir* n) {
        if (volume_.stopTreeThread()) return newdir::Walk::Stop;
        if (!visited.insert(n).second) return newdir::Walk::Skip;
        if (n->fileType == NewDir::Folder) return newdir::Walk::Into;
        if (n->fileType == NewDir::File) {
            std::uint64_t covered = CatalogEntryNode::coveredBlocks(*n);
            bool complete = covers(volume_, *n, covered);
            if (!complete && !n->extentGroups.empty()) {
                // One pass in list order: a group that continues the
                // extents is appended, and the next may then continue it.
                for (const ExtCompP& group : n->extentGroups) {
                    if (group.groupStartBlock != covered) continue;
                    for (const ExtP& e : group.extents)
                        if (newdir::appendDataExtent(n, e.startBlock, e.blockCount)) covered += e.blockCount;
                }
                // What the groups added counts: a file they completed is whole.
                complete = covers(volume_, *n, covered);
            }
            // A file that lost extents lying outside the volume stays
            // incomplete, whatever the rest covers.
            n->complete = complete && n->complete != kIncomplete ? kComplete : kIncomplete;
        }
        return newdir::Walk::Skip;
    });
}
