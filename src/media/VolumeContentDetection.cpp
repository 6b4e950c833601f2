#include "media/VolumeContentDetection.h"

#include "formats/FATBootSector.h"
#include "formats/HFSPlusStructures.h"
#include "formats/MainBootSector.h"
#include "media/ContentKind.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr std::uint32_t kJournaledBit = 0x2000;

// Reads up to buffer.size() bytes at offset; the byte count read (fewer at
// the end of the device), or -1 when the device cannot be opened or read.
std::int64_t readAt(const std::string& path, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return static_cast<std::int64_t>(done);
}

bool bytesAre(ByteView b, std::size_t offset, const char* text) {
    const std::size_t n = std::strlen(text);
    if (!b.has(offset, n)) return false;
    return std::memcmp(b.data() + offset, text, n) == 0;
}

} // namespace

bool VolumeContentDetection::readSaveSector(std::uint64_t sector, std::uint32_t size, std::uint32_t bytesPerSector,
                                            std::span<std::uint8_t> buffer, const std::string& volumePath) {
    const std::uint64_t length = static_cast<std::uint64_t>(size) * bytesPerSector;
    if (length > buffer.size()) return false;
    const auto offset = platform::checkedMul(sector, bytesPerSector);
    if (!offset) return false;
    return readAt(volumePath, *offset, buffer.first(static_cast<std::size_t>(length))) >= 0;
}

std::uint16_t VolumeContentDetection::twoByteRead(ByteView buffer, std::int32_t position, std::int32_t andOffset) {
    if (position < 0) return 0;
    const auto at = static_cast<std::size_t>(position);
    if (andOffset == 0) return buffer.be16(at);
    if (andOffset == 1) return buffer.le16(at);
    return 0;
}

std::uint32_t VolumeContentDetection::fourByteRead(ByteView buffer, std::int32_t position, std::int32_t andOffset) {
    if (position < 0) return 0;
    const auto at = static_cast<std::size_t>(position);
    if (andOffset == 0) return buffer.be32(at);
    if (andOffset == 3) return buffer.le32(at);
    return 0;
}

std::vector<std::uint8_t> VolumeContentDetection::probe(const Dict& volume, std::uint64_t sectorInVolume,
                                                        std::uint32_t sectors, std::int64_t* bytesRead) const {
    if (bytesRead) *bytesRead = -1;
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();
    if (bps == 0 || bps > kMaxSectorSize) {
        platform::logFormat("Content of %@ not tested: %u bytes per sector is no device's sector size",
                            volume.get("Path"), bps);
        return {};
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(sectors) * bps, 0);
    const auto sector = platform::checkedAdd(volumeStartSector_, sectorInVolume);
    const auto offset = sector ? platform::checkedMul(*sector, bps) : std::nullopt;
    if (!offset) return buffer;
    const std::int64_t n = readAt(volume.get("Path").description(), *offset, buffer);
    if (n < 0) std::fill(buffer.begin(), buffer.end(), 0);
    if (bytesRead) *bytesRead = n;
    return buffer;
}

bool VolumeContentDetection::isVolumeAPFS(const Dict& volume) const {
    return bytesAre(ByteView(probe(volume, 0, kProbeSectors)), 32, "NXSB");
}

bool VolumeContentDetection::isVolumeFAT(const Dict& volume) const {
    const std::vector<std::uint8_t> buffer = probe(volume, 0, kProbeSectors);
    const ByteView b(buffer);
    return bytesAre(b, 54, "FAT") || bytesAre(b, 82, "FAT");
}

bool VolumeContentDetection::isVolumeExFAT(const Dict& volume) const {
    return MainBootSector(ByteView(probe(volume, 0, kProbeSectors))).file_system_name() == "EXFAT   ";
}

std::string VolumeContentDetection::fatFileSystemDetermination(const Dict& volume) const {
    const std::vector<std::uint8_t> buffer = probe(volume, 0, kProbeSectors);
    const std::optional<FATBootSector> boot = FATBootSector::decode(ByteView(buffer));
    // Areas that claim more than the volume has leave no clusters to count.
    const std::optional<FATType> type = boot ? boot->type() : std::nullopt;
    if (!type) return "-";
    return *type == FATType::FAT12 ? "FAT12" : *type == FATType::FAT16 ? "FAT16" : "FAT32";
}

std::optional<Dict> VolumeContentDetection::checkForJournal(const Dict& volume) const {
    std::int64_t n = -1;
    std::vector<std::uint8_t> buffer = probe(volume, 0, kJournalProbeSectors, &n);
    if (n <= 0) return std::nullopt;
    const std::uint32_t bps = volume.get("Preferred Block Size").unsignedIntValue();

    Dict result{{"HFSVolumeStart", 0}};
    auto contentOf = [](std::uint16_t signature) {
        if (signature == hfsplus::kHFSXSignature) return contentString(ContentKind::HFSX);
        if (signature == hfsplus::kHFSPlusSignature) return contentString(ContentKind::HFSPlus);
        return contentString(ContentKind::None);
    };
    const std::size_t at = hfsplus::kVolumeHeaderOffset;
    std::uint16_t signature = twoByteRead(ByteView(buffer), static_cast<std::int32_t>(at), 0);
    if (signature == hfsplus::kHFSSignature) {
        // An HFS wrapper: the HFS+ volume inside begins at the wrapper's
        // first allocation block plus the embedded extent's start block.
        const ByteView mdb(buffer);
        const std::uint64_t blockSize = fourByteRead(mdb, static_cast<std::int32_t>(at + 20), 0);
        const std::uint64_t firstAllocationSector = twoByteRead(mdb, static_cast<std::int32_t>(at + 28), 0);
        const std::uint64_t startBlock = twoByteRead(mdb, static_cast<std::int32_t>(at + 126), 0);
        // The wrapper's first allocation sector is counted in device sectors,
        // as the HFS+ volume reader counts it; wrappers exist only on
        // 512-byte sectors, where that is exact.
        const std::uint64_t embeddedStart = firstAllocationSector + startBlock * blockSize / bps;
        result.set("HFSVolumeStart", static_cast<unsigned long long>(embeddedStart));
        // Its header lies 1024 bytes into it, as every HFS+ header does.
        buffer = probe(volume, embeddedStart, kJournalProbeSectors, &n);
        if (n <= 0) return std::nullopt;
        signature = twoByteRead(ByteView(buffer), static_cast<std::int32_t>(at), 0);
    }
    result.set("Content", contentOf(signature));
    // Only an HFS+ or HFSX header has a journaled bit; in anything else the
    // same bytes are file data or another file system's fields, and must
    // not offer a file-system recovery the volume cannot have.
    const std::uint32_t attributes = hfsplus::isHFSPlusSignature(signature)
                                         ? fourByteRead(ByteView(buffer), static_cast<std::int32_t>(at + 4), 0)
                                         : 0;
    const bool journaled = (attributes & kJournaledBit) != 0;
    result.set("journaled", journaled ? "Yes" : "No");
    result.set("supportFileSystemRecovery", journaled ? 1 : 0);
    return result;
}
