#include "fs/apfs/APFSFileSystem.h"

#include "formats/Obj.h"
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
// Blocks per read.
constexpr std::uint64_t kBatchBlocks = 40;
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
    const auto start = std::chrono::steady_clock::now();

    items_.clear();
    extents_.clear();
    current_ = Item{};
    std::vector<std::uint8_t> batch;
    std::uint64_t done = 0;
    for (std::uint64_t p = 0; p < count && !v.stopTreeThread();) {
        const std::uint64_t n = std::min(kBatchBlocks, count - p);
        batch.assign(n * kApfsBlockBytes, 0);
        const auto sector = platform::checkedMulAdd(v.HPlusVolStart(), p, sectorsPerBlock);
        if (sector && v.readSector(*sector, static_cast<std::int32_t>(n * sectorsPerBlock), batch.data())) {
            for (std::uint64_t i = 0; i < n; ++i) {
                if (done != 0)
                    progressStep(done, count,
                                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
                collectBlock(ByteView(batch.data() + i * kApfsBlockBytes, kApfsBlockBytes));
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

void APFSFileSystem::progressStep(std::uint64_t done, std::uint64_t count, double elapsed) {
    volume_.postSweepProgress(kStatus, done, count, kApfsBlockBytes, elapsed);
}

void APFSFileSystem::collectBlock(ByteView block) {
    if (block.size() != kApfsBlockBytes || !magicFunctionFSTree(block)) return;
    const Obj object = Obj::read(block);
    const ObjPhys& header = object.getHdr();
    if (header.getSubType() != kFSTree || header.getFlags() != 0) return;
    const std::optional<BtreeNodePhysT>& node = object.getBody();
    // A root index node only points at other nodes, which the scan meets by
    // itself.
    if (!node || node->getBtn_flags() == BtreeNodePhysT::Root) return;
    for (const NodeEntry& entry : node->getBtn_Data())
        collectEntry(entry);
}

void APFSFileSystem::collectEntry(const NodeEntry& entry) {
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
    if (!entry.inode()) return;
    const JInodeValT& inode = *entry.inode();
    current_ = Item{};
    for (const XfBlobT::XFieldT& f : inode.getJInodeValT_xfields().xf) {
        if (f.x_type == XfBlobT::Name && f.name) current_.name = f.name->getXfName();
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
    if (!items_.emplace(id, current_).second) return;
    if (current_.folder)
        ++v.folderCount;
    else
        ++v.fileCount;
    v.dataSize = platform::saturatingAdd(v.dataSize, current_.file_size);
}
