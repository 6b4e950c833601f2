#include "results/PreviewData.h"

#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>

PreviewData::Source PreviewData::Source::of(const NewDir& node) {
    Source s;
    s.fileSize = node.fileSize;
    s.fileType = node.fileType;
    s.sectorsPerBlock = node.sectorsPerBlock;
    s.dataStartSector = node.dataStartSector;
    s.firstSectorOffset = node.firstSectorOffset;
    s.extents.assign(node.extents.begin(), node.extents.end());
    s.name = newdir::fileName(&node);
    return s;
}

std::u16string PreviewData::extensionOf(std::u16string_view name) {
    const std::size_t dot = name.rfind(u'.');
    std::u16string ext(dot == std::u16string_view::npos ? name : name.substr(dot + 1));
    for (char16_t& c : ext)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return ext;
}

std::optional<std::uint64_t> PreviewData::sectorOfBlock(const Volume& volume, const Source& node,
                                                        std::uint64_t startBlock, std::uint64_t block) {
    const auto blockNumber = platform::checkedAdd(startBlock, block);
    if (!blockNumber) return std::nullopt;
    const auto origin = platform::checkedAdd(volume.HPlusVolStart(), node.dataStartSector);
    return origin ? platform::checkedMulAdd(*origin, *blockNumber, node.sectorsPerBlock) : std::nullopt;
}

PreviewData::Result PreviewData::getPreviewData(Volume& volume, const Source& node,
                                                std::atomic<bool>& previewThreadAbort) {
    Result result;
    const std::uint64_t bytesPerSector = volume.u32BytesInSector();
    const std::uint64_t sectorsPerUnit = node.sectorsPerBlock;
    const std::uint64_t unitBytes = sectorsPerUnit * bytesPerSector;
    const std::uint64_t wanted = std::min(node.fileSize, kPreviewSizeLimit + 1);
    // Bytes of the reads still to be passed over before the file's first.
    std::uint64_t skip = node.firstSectorOffset;

    std::vector<std::uint8_t>& data = result.data;
    bool finished = skip != 0 && !newdir::dataBeginsInExtents(node.extents, unitBytes, node.firstSectorOffset);
    for (std::size_t i = 0; i < node.extents.size() && !finished; ++i) {
        const ExtP& extent = node.extents[i];
        const bool lastExtent = i + 1 == node.extents.size();
        const std::uint64_t count = extent.blockCount;
        // The last extent's final blocks go one per read: its count mod 8
        // when there is a rest, else its final run of eight.
        const std::uint64_t singlyReadTail =
            count % kBlocksPerRead ? count % kBlocksPerRead : std::min<std::uint64_t>(kBlocksPerRead, count);
        for (std::uint64_t block = 0; block < count;) {
            if (previewThreadAbort.load()) break;
            // Blocks past the file's end are not the file's; bytes already
            // kept beyond the limit are enough to show.
            if (data.size() >= wanted) {
                finished = true;
                break;
            }
            const std::uint64_t left = count - block;
            const std::uint64_t run = !lastExtent ? std::min<std::uint64_t>(kBlocksPerRead, left)
                                                  : (left > singlyReadTail ? kBlocksPerRead : 1);

            const std::uint64_t length = run * unitBytes;
            if (length > kPreviewSizeLimit || length < 1) {
                platform::logFormat("Preview stopped: a read of %@ bytes is out of bounds", length);
                previewThreadAbort = true;
                break;
            }
            const std::optional<std::uint64_t> sector = sectorOfBlock(volume, node, extent.startBlock, block);
            if (!sector) {
                platform::logFormat("Preview stopped: block %@ of an extent lies beyond any device", block);
                previewThreadAbort = true;
                break;
            }
            std::vector<std::uint8_t> chunk(static_cast<std::size_t>(length));
            if (!volume.readPreviewSector(*sector, static_cast<std::int32_t>(run * sectorsPerUnit), chunk.data())) {
                result.outcome = Outcome::ReadFailed;
                result.data.clear();
                return result;
            }
            // The block that holds the file's end contributes only the
            // bytes up to it; a block short of it contributes all it read.
            const std::uint64_t skipped = std::min(length, skip);
            skip -= skipped;
            const std::uint64_t keep = std::min<std::uint64_t>(length - skipped, node.fileSize - data.size());
            const auto from = chunk.begin() + static_cast<std::ptrdiff_t>(skipped);
            data.insert(data.end(), from, from + static_cast<std::ptrdiff_t>(keep));
            block += run;
            if (data.size() > kPreviewSizeLimit) finished = true;
        }
        if (previewThreadAbort.load()) break;
    }
    if (previewThreadAbort.load()) {
        result.outcome = Outcome::Aborted;
        result.data.clear();
    } else {
        result.outcome = Outcome::Loaded;
    }
    return result;
}

std::string PreviewData::printableText(platform::ByteView block, std::uint64_t fileSize) {
    if (block.empty()) return {};
    // The block's last byte always ends the text, and nothing from beyond
    // the file's size is shown.
    const std::uint64_t end = std::min<std::uint64_t>(block.size() - 1, fileSize);
    std::string text;
    text.reserve(static_cast<std::size_t>(end));
    for (std::uint64_t i = 0; i < end; ++i) {
        const std::uint8_t c = block.u8(static_cast<std::size_t>(i));
        text.push_back(c < 32 || c >= 127 ? '.' : static_cast<char>(c));
    }
    return text;
}

std::optional<std::string> PreviewData::previewTextData(Volume& volume, const Source& node) {
    if (node.extents.empty()) return std::nullopt;
    const std::uint64_t length = static_cast<std::uint64_t>(node.sectorsPerBlock) * volume.u32BytesInSector();
    // A node without a block size has no first block to show.
    if (length == 0) return std::string();
    if (length > kPreviewSizeLimit) {
        platform::logFormat("Preview text skipped: a block of %@ bytes is out of bounds", length);
        return std::string();
    }
    // The first block lies where the data reader would find it.
    const std::optional<std::uint64_t> sector = sectorOfBlock(volume, node, node.extents.front().startBlock, 0);
    if (!sector) return std::string();
    std::vector<std::uint8_t> block(static_cast<std::size_t>(length));
    if (!volume.readPreviewSector(*sector, node.sectorsPerBlock, block.data())) return std::nullopt;
    // An offset past the block leaves nothing of the file in it to show.
    return printableText(platform::ByteView(block).sub(node.firstSectorOffset), node.fileSize);
}
