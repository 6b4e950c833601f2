#include "fs/apfs/APFSFileSystem.h"

#include "formats/BtreeNodePhysT.h"
#include "formats/Obj.h"
#include "formats/ObjPhys.h"
#include "media/ReadAheadWindows.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "platform/Value.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr std::uint32_t kFSTree = 14;
// Blocks per batch, as the progress and the stop request count them.
constexpr std::uint64_t kBatchBlocks = 40;
// Batches per read: about 2 MiB, few enough hand-overs between the reading
// thread and this one, and still in the processor's cache when its blocks
// are looked at.
constexpr std::uint64_t kWindowBatches = 12;
const char* const kStatus = "Searching lost files...";

void post(const Dict& progress) {
    if (auto* c = platform::appController()) c->updateProgress(progress);
}

} // namespace

APFSFileSystem::APFSFileSystem(Volume& volume) noexcept : volume_(volume) {}

bool APFSFileSystem::startAPFSFileSystemRecovery() {
    return scanBlocks();
}

bool APFSFileSystem::startAPFSFileSystemRecoveryVolumeRecovery() {
    return scanBlocks();
}

bool APFSFileSystem::magicFunctionFSTree(ByteView block) {
    const ObjPhys header = ObjPhys::read(block);
    return (header.getObjType() == Obj::Btree || header.getObjType() == Obj::BtreeNode) && header.o_subtype == kFSTree;
}

bool APFSFileSystem::scanBlocks() {
    Volume& v = volume_;
    const std::uint64_t sectorBytes = v.u32BytesInSector();
    if (sectorBytes == 0 || sectorBytes > kApfsBlockBytes || kApfsBlockBytes % sectorBytes != 0) {
        platform::logFormat("APFS recovery on %@: %@-byte sectors do not make up %@-byte blocks; nothing read",
                            v.path(), static_cast<unsigned long long>(sectorBytes),
                            static_cast<unsigned long long>(kApfsBlockBytes));
        return false;
    }
    const std::uint64_t sectorsPerBlock = kApfsBlockBytes / sectorBytes;
    const std::uint64_t blocks = v.sizeInSect() / sectorsPerBlock;
    // As many blocks as the search range holds, from block 0: an empty
    // range reads nothing.
    const double from = std::clamp(double(v.startPos), 0.0, 100.0), to = std::clamp(double(v.endPos), 0.0, 100.0);
    const std::uint64_t count =
        to > from ? std::min<std::uint64_t>(blocks, std::uint64_t(double(blocks) * (to - from) / 100)) : 0;
    v.totalBlocks = count;

    post(Dict{
        {"Progress Status", kStatus}, {"Progress Type", 1}, {"BarMaxValue", static_cast<unsigned long long>(count)}});
    post(Dict{{"TimeRemaining", ""}});
    if (auto* c = platform::appController()) c->setUpTimer();
    start_ = std::chrono::steady_clock::now();

    items_.clear();
    extents_.clear();
    current_ = Item{};
    // Several batches are read at once into a page-aligned window, by a
    // thread of its own one window ahead; the batches are still examined
    // one by one, with the stop request polled before each. Whatever the
    // reader leaves unread past the end of the medium it fills with zeros.
    ReadAheadWindows windows(
        [this](std::uint64_t first, std::uint64_t n, std::uint8_t* into) { return readBlocks(first, n, into); },
        kApfsBlockBytes, kWindowBatches * kBatchBlocks, count);
    ReadAheadWindows::Window window;
    std::uint64_t done = 0;
    for (std::uint64_t p = 0; p < count && !v.stopTreeThread();) {
        const std::uint64_t n = std::min(kBatchBlocks, count - p);
        if (p >= window.first + window.count) window = windows.next();
        std::uint8_t* batch = window.bytes + (p - window.first) * kApfsBlockBytes;
        // The range reader has read a failing window again piece by piece and
        // left only its unreadable sectors as zeros, which no node checks out
        // in; a window it could not read at all lies out of range or on a
        // medium that has gone.
        if (!window.read && v.mediumGone()) break;
        if (window.read) {
            for (std::uint64_t i = 0; i < n; ++i) {
                if (done != 0) progressStep(done, count);
                collectBlock(ByteView(batch + i * kApfsBlockBytes, kApfsBlockBytes));
                ++done;
            }
        } else {
            done += n;
        }
        p += n;
    }
    if (v.dirRoot) APFSTree(v).enumerateDirectoryEntryApfsItemsDict(items_, extents_, true, v.dirRoot);
    return true;
}

bool APFSFileSystem::readBlocks(std::uint64_t first, std::uint64_t count, std::uint8_t* into) {
    Volume& v = volume_;
    const std::uint64_t sectorsPerBlock = kApfsBlockBytes / v.u32BytesInSector();
    const auto sector = platform::checkedMulAdd(v.HPlusVolStart(), first, sectorsPerBlock);
    return sector && v.readSectorRange(*sector, static_cast<std::int32_t>(count * sectorsPerBlock), into).has_value();
}

void APFSFileSystem::progressStep(std::uint64_t done, std::uint64_t count) {
    // How far the walk has come is kept whatever the display does: a disk
    // that stops answering is told with it.
    volume_.noteSweepProgress(done, count);
    // While the display has not taken the last figures there is nothing more
    // to do, not even reading the clock.
    if (volume_.timerFireMethodCanRun()) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    volume_.postSweepProgress(kStatus, done, count, kApfsBlockBytes, elapsed);
}

void APFSFileSystem::collectBlock(ByteView block) {
    if (block.size() != kApfsBlockBytes || !magicFunctionFSTree(block)) return;
    const ObjPhys header = ObjPhys::read(block);
    if (header.getSubType() != kFSTree || header.getFlags() != 0) return;
    // Entries are read one at a time and handed on: a node's list is never
    // built.
    const std::optional<BtreeNodePhysT> node = BtreeNodePhysT::readHeader(block);
    // A root index node only points at other nodes, which the scan meets by
    // itself; so do the entries of any index node.
    if (!node || node->getBtn_flags() == BtreeNodePhysT::Root || node->getBtn_level() > 0) return;
    for (std::uint32_t i = 0; i < node->btn_nkeys; ++i)
        if (std::optional<NodeEntry> entry = node->entry(block, i)) collectEntry(*entry);
}

void APFSFileSystem::collectEntry(NodeEntry& entry) {
    Volume& v = volume_;
    const std::uint32_t id = entry.getJ_Key_t().lowId();
    if (const JExtentValT* extent = entry.extent()) {
        APFSTree::Extent e{.start = extent->getPhys_block_num(),
                           .length = extent->getLen(),
                           .offset = extent->getJExtentKeyTOffset(),
                           .name = {}};
        if (current_.hasName() && current_.node_id == id) e.name = current_.name;
        extents_[id].add(std::move(e));
        return;
    }
    JInodeValT* const found = entry.inode();
    if (!found) return;
    JInodeValT& inode = *found;
    current_ = Item{};
    for (XfBlobT::XFieldT& f : inode.xfields.xf) {
        if (f.x_type == XfBlobT::Name && f.name) current_.name = std::move(f.name->name);
        if (f.x_type == XfBlobT::DataStream && f.dataStream) current_.file_size = f.dataStream->getXfSize();
    }
    if (!current_.hasName()) return;
    current_.node_id = id;
    current_.parent = inode.getJInodeValT_parent_id();
    current_.private_id = inode.getJInodeValT_private_id();
    current_.creationtime = inode.getJInodeValT_change_time();
    current_.modificationtime = inode.getJInodeValT_mod_time();
    current_.accesstime = inode.getJInodeValT_access_time();
    current_.folder = inode.isFolder();
    // Later copies of an inode (older or newer) do not replace the first,
    // and are not counted again.
    if (!items_.try_emplace(id, current_).second) return;
    if (current_.folder)
        ++v.folderCount;
    else
        ++v.fileCount;
    v.dataSize = platform::saturatingAdd(v.dataSize, current_.file_size);
}
