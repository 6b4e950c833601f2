#include "hfsplus/CatalogNodeSearch.h"

#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusVolume.h"
#include "media/HFSPlusDriveGeometry.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <unordered_set>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr const char* kSearchingStatus = "Searching catalog file...";
constexpr std::uint16_t kFirstRecordOffset = 14;

bool nodeShapeIs(ByteView node, std::int8_t kind, std::uint32_t height) {
    const BTNodeDescriptor_ desc = convertBTNodeDesc(node);
    return desc.kind == kind && desc.height == height && desc.numRecords != 0 &&
           hfsplus::lastOffset(node) == kFirstRecordOffset &&
           hfsplus::offsetTableStart(node.size(), desc.numRecords) != 0;
}

} // namespace

void CatalogNodeSearch::findCatalogLeafNodes(const StepRunner& runStep) {
    const auto run = [&runStep](const std::function<void()>& step) {
        if (runStep)
            runStep(step);
        else
            step();
    };
    if (state_.catTreeDepth > 1) run([this] { enumerateLevel2IndexNodes(); });
    if (state_.leafNodePointerArray && (state_.leafNodePointerArray->empty() || state_.level2IndexNodeHasProblems))
        run([this] { searchForLevel2IndexNodes(); });
    if (state_.level2IndexNodeHasProblems) run([this] { searchForLeafNodes(); });
}

// ---------------------------------------------------------------------------
// Node tests

bool CatalogNodeSearch::verifyLeafNodeDesc(const BTNodeDescriptor_& descriptor) {
    return descriptor.height == 1 && descriptor.kind == hfsplus::kLeafNode;
}

bool CatalogNodeSearch::isIndexNode(ByteView node, std::uint32_t level) {
    return nodeShapeIs(node, hfsplus::kIndexNode, level);
}

bool CatalogNodeSearch::isLeafNode(ByteView node) {
    return nodeShapeIs(node, hfsplus::kLeafNode, 1);
}

std::optional<std::vector<std::uint32_t>> CatalogNodeSearch::childPointers(ByteView node) {
    const BTNodeDescriptor_ desc = convertBTNodeDesc(node);
    const std::size_t table = hfsplus::offsetTableStart(node.size(), desc.numRecords);
    std::vector<std::uint32_t> children;
    children.reserve(desc.numRecords);
    for (std::uint32_t i = 0; i < desc.numRecords; ++i) {
        const auto r = hfsplus::recordOffset(node, desc.numRecords, i);
        if (!r) return std::nullopt;
        // Only the key's length matters here: the child pointer follows the
        // key. Index keys of thread records have empty names, so the name is
        // not tested.
        const HFSPlusCatalogKey_ key =
            convertHPlusCatalogKey(node.sub(*r, std::min(hfsplus::kCatalogKeyMaxSize, table - *r)));
        if (key.keyLength < hfsplus::kCatalogKeyMinLength || key.keyLength > hfsplus::kCatalogKeyMaxLength)
            return std::nullopt;
        const std::size_t pointer = *r + key.keyLength + 2;
        if (pointer + 4 > table) return std::nullopt;
        children.push_back(node.be32(pointer));
    }
    return children;
}

// ---------------------------------------------------------------------------
// Reading

bool CatalogNodeSearch::readCatalogNode(std::uint32_t node) {
    HFSPlusVolume hfs(state_);
    return hfs.readCatalogNode(hfs.catNodeToSector(node), volume_.catNodeSize, buffer_);
}

std::uint64_t CatalogNodeSearch::catalogFileNodes() const {
    if (volume_.catNodeSize <= 0) return 0;
    std::uint64_t blocks = 0;
    for (const Extent& e : volume_.catalogExt)
        blocks += e.blockCount();
    return platform::saturatingMul(blocks, volume_.blockSize()) / static_cast<std::uint64_t>(volume_.catNodeSize);
}

// ---------------------------------------------------------------------------
// Descent through the index

void CatalogNodeSearch::walkLevel2Forward(std::uint32_t first) {
    if (!state_.leafNodePointerArray) state_.leafNodePointerArray = std::make_unique<std::vector<std::uint32_t>>();
    std::unordered_set<std::uint32_t> walked;
    for (std::uint32_t node = first; node != 0;) {
        if (volume_.stopTreeThread()) return;
        if (!walked.insert(node).second) {
            platform::logFormat("Catalog index level above the leaves links back to node %u; walk ended", node);
            state_.level2IndexNodeHasProblems = true;
            return;
        }
        if (!readCatalogNode(node) || !isIndexNode(ByteView(buffer_), 2)) {
            state_.level2IndexNodeHasProblems = true;
            return;
        }
        const auto children = childPointers(ByteView(buffer_));
        if (!children) {
            state_.level2IndexNodeHasProblems = true;
            return;
        }
        state_.leafNodePointerArray->insert(state_.leafNodePointerArray->end(), children->begin(), children->end());
        node = convertBTNodeDesc(ByteView(buffer_)).fLink;
    }
}

void CatalogNodeSearch::enumerateLevel2IndexNodes() {
    state_.level2IndexNodeHasProblems = false;
    if (state_.leafNodePointerArray)
        state_.leafNodePointerArray->clear();
    else
        state_.leafNodePointerArray = std::make_unique<std::vector<std::uint32_t>>();

    std::int32_t level = state_.catTreeDepth;
    if (level > static_cast<std::int32_t>(HFSPlusDriveGeometry::kMaxTreeDepth)) {
        platform::logFormat("Catalog B-tree claims a depth of %d; its index is not used", level);
        state_.level2IndexNodeHasProblems = true;
        return;
    }
    std::uint32_t node = volume_.catRootNode;
    while (level >= 2) {
        if (volume_.stopTreeThread()) return;
        if (!readCatalogNode(node) || !isIndexNode(ByteView(buffer_), static_cast<std::uint32_t>(level))) {
            state_.level2IndexNodeHasProblems = true;
            return;
        }
        if (level == 2) {
            walkLevel2Forward(node);
            return;
        }
        const auto children = childPointers(ByteView(buffer_));
        if (!children || children->empty()) {
            state_.level2IndexNodeHasProblems = true;
            return;
        }
        node = children->front();
        --level;
    }
}

// ---------------------------------------------------------------------------
// Searches of the whole catalog file

void CatalogNodeSearch::postSearchOpening(std::uint64_t totalNodes) {
    HFSPlusVolume::postProgress(Dict{{"Progress Status", kSearchingStatus},
                                     {"Progress Type", 1},
                                     {"BarMaxValue", static_cast<unsigned long long>(totalNodes)}});
    HFSPlusVolume::postProgress(Dict{{"TimeRemaining", ""}});
}

template <class Visit> void CatalogNodeSearch::sweepCatalogFile(Visit&& visit) {
    HFSPlusVolume hfs(state_);
    const std::uint64_t blockSize = volume_.blockSize();
    const std::int32_t nodeSectors = volume_.catNodeSize;
    if (nodeSectors <= 0 || blockSize == 0) return;
    const std::uint64_t totalNodes = catalogFileNodes();

    // One node per step is far too many for a main-thread call each: the
    // progress goes through the once-a-second hand-over, carrying the nodes
    // searched since the last dictionary was shown.
    auto* controller = platform::appController();
    if (controller) controller->setUpTimer();
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t count = 0;
    std::uint64_t counted = 0;
    auto handOver = [&] {
        if (volume_.timerFireMethodCanRun()) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double left = totalNodes > count ? static_cast<double>(totalNodes - count) : 0.0;
        volume_.dataUpdate.clear();
        volume_.dataUpdate.set("Progress Status", kSearchingStatus);
        volume_.dataUpdate.set("BarIncrement", static_cast<unsigned long long>(count - counted));
        volume_.dataUpdate.set("TimeRemaining",
                               volume_.getTimeFormStringForInterval(elapsed * left / static_cast<double>(count)));
        counted = count;
        volume_.setTimerFireMethodCanRun(true);
    };

    bool done = false;
    for (const Extent& e : volume_.catalogExt) {
        if (done) break;
        const std::uint64_t extentNodes =
            static_cast<std::uint64_t>(e.blockCount()) * blockSize / static_cast<std::uint64_t>(nodeSectors);
        const std::uint64_t base = volume_.HPlusVolStart() + static_cast<std::uint64_t>(e.startBlock()) * blockSize;
        const bool baseWraps = base < volume_.HPlusVolStart();
        for (std::uint64_t j = 0; j < extentNodes; ++j) {
            if (volume_.stopTreeThread()) {
                done = true;
                break;
            }
            ++count;
            handOver();
            const std::uint64_t sector = base + j * static_cast<std::uint64_t>(nodeSectors);
            if (baseWraps || sector < base || !hfs.sectorsInVolume(sector, static_cast<std::uint64_t>(nodeSectors))) {
                // The rest of this extent lies past the volume's end as well;
                // its nodes keep their numbers but cannot be read.
                count += extentNodes - j - 1;
                break;
            }
            // Node numbers are 32 bits wide; nothing past them can be named.
            if (count - 1 > std::numeric_limits<std::uint32_t>::max()) {
                done = true;
                break;
            }
            if (hfs.readCatalogNode(sector, nodeSectors, buffer_) && visit(static_cast<std::uint32_t>(count - 1))) {
                done = true;
                break;
            }
        }
    }
    if (controller) controller->invalidateTimer();
}

void CatalogNodeSearch::searchForLevel2IndexNodes() {
    postSearchOpening(catalogFileNodes());

    std::optional<std::uint32_t> found;
    sweepCatalogFile([&](std::uint32_t node) {
        const ByteView view(buffer_);
        if (!isIndexNode(view, 2)) return false;
        const BTNodeDescriptor_ desc = convertBTNodeDesc(view);
        if (desc.fLink == 0 && desc.bLink == 0) return false;
        found = node;
        return true;
    });
    if (!found) {
        state_.level2IndexNodeHasProblems = true;
        return;
    }

    HFSPlusVolume::postProgress(
        Dict{{"Progress Status", kSearchingStatus}, {"Progress Type", 0}, {"Start Animation", true}});
    if (!readCatalogNode(*found) || !isIndexNode(ByteView(buffer_), 2)) {
        state_.level2IndexNodeHasProblems = true;
        return;
    }
    BTNodeDescriptor_ desc = convertBTNodeDesc(ByteView(buffer_));
    if (desc.fLink == 0 && desc.bLink == 0) return;

    // Back to the first node of the level.
    std::uint32_t first = *found;
    std::unordered_set<std::uint32_t> walked{first};
    for (std::uint32_t node = desc.bLink; node != 0 && !volume_.stopTreeThread();) {
        if (!walked.insert(node).second || !readCatalogNode(node) || !isIndexNode(ByteView(buffer_), 2)) {
            state_.level2IndexNodeHasProblems = true;
            break;
        }
        first = node;
        node = convertBTNodeDesc(ByteView(buffer_)).bLink;
    }
    walkLevel2Forward(first);
}

void CatalogNodeSearch::searchForLeafNodes() {
    if (state_.leafNodePointerTotalArray)
        state_.leafNodePointerTotalArray->clear();
    else
        state_.leafNodePointerTotalArray = std::make_unique<std::vector<std::uint32_t>>();
    postSearchOpening(catalogFileNodes());
    sweepCatalogFile([&](std::uint32_t node) {
        if (isLeafNode(ByteView(buffer_))) state_.leafNodePointerTotalArray->push_back(node);
        return false;
    });
}
