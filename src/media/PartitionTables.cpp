#include "media/PartitionTables.h"

#include "formats/Extent.h"
#include "formats/HFSPlusStructures.h"
#include "formats/PartitionTableStructures.h"
#include "media/ContentKind.h"
#include "media/DMedia.h"
#include "media/DriveRow.h"
#include "media/HFSPlusDriveGeometry.h"
#include "platform/CheckedMath.h"
#include "platform/Format.h"
#include "platform/SystemLog.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <set>

using platform::Array;
using platform::ByteView;
using platform::Dict;
using platform::Value;

namespace {

constexpr std::uint32_t kMinSectorSize = 512;
constexpr std::uint32_t kMaxSectorSize = 1u << 20;
// Descriptor, longest catalog key and a folder record: what the first
// record of a catalog leaf can span.
constexpr std::size_t kFirstRecordSpan =
    hfsplus::kBTNodeDescriptorSize + hfsplus::kCatalogKeyMaxSize + hfsplus::kCatalogFolderSize;
constexpr std::size_t kHFSNameMaxLength = 27;

using platform::isValidUtf8;
using platform::utf8FromUtf16;
using platform::utf8Lossy;

// Text of a fixed field up to its first NUL.
template <std::size_t N> std::string cString(const std::array<std::uint8_t, N>& field, std::size_t limit = N) {
    std::string out;
    for (std::size_t i = 0; i < std::min(limit, N) && field[i] != 0; ++i)
        out.push_back(static_cast<char>(field[i]));
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// Reading

std::vector<std::uint8_t> PartitionTables::readBytes(std::uint64_t sector, std::uint64_t offset, std::size_t length) {
    const std::uint64_t bps = media_.u32BytesInSector();
    std::vector<std::uint8_t> out(length, 0);
    if (bps == 0 || length == 0) return out;
    const std::uint64_t count = (offset + length + bps - 1) / bps;
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) return out;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count * bps), 0);
    // Sectors past the medium's end are not asked for: they read as the
    // zeros already there.
    const std::uint64_t mediumSectors = media_.sizeInSect();
    const std::uint64_t inside =
        mediumSectors == 0 ? count : (sector < mediumSectors ? std::min(count, mediumSectors - sector) : 0);
    if (inside == 0) return out;
    // A failed read leaves the zeroed buffer, which every test below reads
    // as "nothing here"; a partial one must not leave half a record.
    if (!media_.readRecordSectors(sector, static_cast<std::int32_t>(inside), buffer.data())) return out;
    std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(offset), length, out.begin());
    return out;
}

std::optional<std::vector<std::uint8_t>> PartitionTables::readRecord(std::uint64_t sector) {
    std::vector<std::uint8_t> out(media_.u32BytesInSector(), 0);
    // Past the medium's end there is nothing to read, and nothing failed.
    const std::uint64_t mediumSectors = media_.sizeInSect();
    if (out.empty() || (mediumSectors != 0 && sector >= mediumSectors)) return out;
    if (!media_.readRecordSectors(sector, 1, out.data())) return std::nullopt;
    return out;
}

std::optional<PartitionTables::Span> PartitionTables::onMedium(Span span, std::uint64_t mediumSectors) {
    if (mediumSectors == 0) return span;
    if (span.start >= mediumSectors) return std::nullopt;
    span.sectors = std::min(span.sectors, mediumSectors - span.start);
    return span;
}

std::optional<PartitionTables::Span> PartitionTables::onThisMedium(Span span) const {
    const std::uint64_t mediumSectors = media_.sizeInSect();
    const std::optional<Span> inside = onMedium(span, mediumSectors);
    if (!inside)
        platform::logFormat("Partition of %@ at sector %@ begins past the medium's end (%@ sectors); passed over",
                            media_.path(), static_cast<unsigned long long>(span.start),
                            static_cast<unsigned long long>(mediumSectors));
    else if (inside->sectors < span.sectors)
        platform::logFormat("Partition of %@ at sector %@ runs %@ sectors past the medium's end; read up to the end",
                            media_.path(), static_cast<unsigned long long>(span.start),
                            static_cast<unsigned long long>(span.sectors - inside->sectors));
    return inside;
}

void PartitionTables::listVolume(std::uint64_t start, std::uint64_t sectors, const std::string& name) {
    const std::optional<Span> inside = onThisMedium({start, sectors});
    if (!inside) return;
    media_.volumePMArray.push_back(DriveRow{.path = media_.path(),
                                            .content = contentString(ContentKind::HFSPlus),
                                            .volumeName = name,
                                            .volumeStart = inside->start,
                                            .volumeSizeInSectors = inside->sectors,
                                            .volumeScanType = 0,
                                            .model = media_.model(),
                                            .serial = media_.serial(),
                                            .revision = media_.revision()}
                                       .toDict());
}

// ---------------------------------------------------------------------------
// Choosing the scheme

PartitionTables::Scheme PartitionTables::scheme() {
    const std::uint32_t bps = media_.u32BytesInSector();
    if (bps < kMinSectorSize || bps > kMaxSectorSize) {
        platform::logFormat("Partition table of %@ not read: %u bytes per sector is no drive's sector size",
                            media_.path(), bps);
        return Scheme::None;
    }
    const std::optional<std::vector<std::uint8_t>> sector0 = readRecord(0);
    const std::optional<std::vector<std::uint8_t>> sector1 = readRecord(1);
    const bool mapAt1 = sector1 && convertPM(ByteView(*sector1)).pmSig == partitions::kPMSignature;
    // The map's first entry could not be read: the next one shows whether
    // there is a map.
    const auto mapAt2 = [&] {
        if (sector1) return false;
        const std::optional<std::vector<std::uint8_t>> sector2 = readRecord(2);
        return sector2 && convertPM(ByteView(*sector2)).pmSig == partitions::kPMSignature;
    };

    if (sector0) {
        const ByteView first(*sector0);
        const bool bootSignature = first.u8(510) == 0x55 && first.u8(511) == 0xAA;
        const bool protectiveMBR =
            first.u8(partitions::kMBRPartitionTableOffset + 4) == partitions::kSystemIDProtectiveGPT;
        if (bootSignature) return protectiveMBR ? Scheme::GPT : Scheme::MBR;
        return mapAt1 || mapAt2() ? Scheme::PM : Scheme::None;
    }
    // Without sector 0 an MBR cannot be read, but a GUID table or an Apple
    // map still can: each is known by its own signature.
    platform::logFormat("Sector 0 of %@ could not be read; its partition table is looked for past it", media_.path());
    if (sector1 && convertGPTHeader(ByteView(*sector1)).signature == partitions::kGPTSignature) return Scheme::GPT;
    if (mapAt1) return Scheme::PM;
    if (readBackupGPTHeader()) return Scheme::GPT;
    return mapAt2() ? Scheme::PM : Scheme::None;
}

void PartitionTables::initialize(Array& array) {
    switch (scheme()) {
    case Scheme::GPT:
        readAndInterpretGPT();
        getVolumeNamesGPT();
        break;
    case Scheme::MBR:
        readAndInterpretMBR();
        getVolumeNamesGPT();
        break;
    case Scheme::PM:
        readAndInterpretPM();
        getVolumeNamesPM();
        break;
    case Scheme::None:
        return;
    }
    for (const Value& v : media_.volumePMArray)
        array.push_back(Value(v.dictValue()));
}

std::vector<PartitionTables::Span> PartitionTables::partitionSpans() {
    std::vector<Span> spans;
    const auto take = [&](Span span) {
        if (const std::optional<Span> inside = onThisMedium(span)) spans.push_back(*inside);
    };
    switch (scheme()) {
    case Scheme::GPT:
        walkGPT([&](const GUIDPartitionTableEntry& entry) {
            if (entry.endingLBA >= entry.startingLBA)
                take({entry.startingLBA, entry.endingLBA - entry.startingLBA + 1});
        });
        break;
    case Scheme::MBR:
        for (const Value& e : mbrEntries()) {
            const Dict& entry = e.dictValue();
            if (!partitions::isExtendedSystemID(entry.get("System ID").uint64Value()))
                take({entry.get("Relative Sector").uint64Value(), entry.get("Number Of Sectors").uint64Value()});
        }
        break;
    case Scheme::PM:
        walkPM([&](const PartitionMap& entry) { take({entry.pmPyPartStart, entry.pmPartBlkCnt}); });
        break;
    case Scheme::None:
        break;
    }
    return spans;
}

// ---------------------------------------------------------------------------
// MBR and extended partitions

void PartitionTables::fillPTList(Array& list, std::uint64_t fromMBRAt, std::uint64_t firstExtOffset) {
    const std::vector<std::uint8_t> record = readBytes(fromMBRAt, 0, partitions::kRecordSize);
    const MasterBootRecord mbr = convertMBR(ByteView(record));
    if (mbr.signature != partitions::kMBRSignature) return;
    for (const Fdisk_Partition_Table& entry : mbr.partitionTable) {
        if (entry.systemID == partitions::kSystemIDEmpty) continue;
        // Both addends are below 2^33, so the 64-bit sum cannot wrap: a start
        // beyond 2^32 sectors stays where the table puts it.
        const std::uint64_t base = partitions::isExtendedSystemID(entry.systemID) ? firstExtOffset : fromMBRAt;
        list.push_back(Dict{{"System ID", static_cast<unsigned>(entry.systemID)},
                            {"Relative Sector", static_cast<unsigned long long>(entry.relativeSector + base)},
                            {"Number Of Sectors", static_cast<unsigned long long>(entry.numberOfSectors)}});
    }
}

Array PartitionTables::mbrEntries() {
    Array list;
    fillPTList(list, 0, 0);

    // Links between extended records count from the start of the outermost
    // extended partition.
    std::uint64_t extendedBase = 0;
    for (const Value& e : list)
        if (partitions::isExtendedSystemID(e.dictValue().get("System ID").uint64Value()))
            extendedBase = e.dictValue().get("Relative Sector").uint64Value();

    // A chain that points back into itself would be followed for ever:
    // every record is read once, and no chain is longer than any real disk's.
    std::set<std::uint64_t> visited{0};
    std::size_t records = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Dict& entry = list[i].dictValue();
        if (!partitions::isExtendedSystemID(entry.get("System ID").uint64Value())) continue;
        const std::uint64_t sector = entry.get("Relative Sector").uint64Value();
        if (!visited.insert(sector).second) {
            platform::logFormat("Extended partition chain of %@ returns to sector %@; not followed again",
                                media_.path(), static_cast<unsigned long long>(sector));
            continue;
        }
        if (++records > kMaxExtendedRecords) {
            platform::logFormat("Extended partition chain of %@ is longer than %@ records; the rest is skipped",
                                media_.path(), static_cast<unsigned long long>(kMaxExtendedRecords));
            break;
        }
        fillPTList(list, sector, extendedBase); // may grow `list`; `entry` is not used after this
    }
    return list;
}

void PartitionTables::readAndInterpretMBR() {
    unsigned counter = 0;
    for (const Value& e : mbrEntries()) {
        const Dict& entry = e.dictValue();
        const std::uint64_t id = entry.get("System ID").uint64Value();
        if (id != partitions::kSystemIDHFS) {
            if (!partitions::isExtendedSystemID(id)) ++media_.otherPartitionsPassedOver;
            continue;
        }
        ++counter;
        listVolume(entry.get("Relative Sector").uint64Value(), entry.get("Number Of Sectors").uint64Value(),
                   platform::format("Untitled %@", counter));
    }
}

// ---------------------------------------------------------------------------
// GUID partition table

std::optional<PartitionTables::GPTCopy> PartitionTables::readGPTHeader(std::uint64_t sector) {
    const std::uint32_t bps = media_.u32BytesInSector();
    const std::optional<std::vector<std::uint8_t>> bytes = readRecord(sector);
    if (!bytes) {
        platform::logFormat("GUID partition table header of %@ in sector %@ could not be read", media_.path(),
                            static_cast<unsigned long long>(sector));
        return std::nullopt;
    }
    GPTCopy copy;
    copy.header = convertGPTHeader(ByteView(*bytes));
    if (copy.header.signature != partitions::kGPTSignature) return std::nullopt;
    copy.headerChecksum = gptHeaderChecksumMatches(ByteView(*bytes));
    const std::uint32_t entrySize = copy.header.sizeOfPartitionEntry;
    if (entrySize < partitions::kGPTEntryMinSize || entrySize % 8 != 0 || entrySize > bps) {
        platform::logFormat("GUID partition table of %@ not read: entry size %u is not a multiple of 8 "
                            "from 128 to %u bytes",
                            media_.path(), entrySize, bps);
        return std::nullopt;
    }
    copy.entrySize = entrySize;
    copy.entriesPerSector = bps / entrySize;
    return copy;
}

void PartitionTables::readGPTEntries(GPTCopy& copy, std::uint64_t limit) {
    const GUIDPartitionTableHeader& header = copy.header;
    // A count that reaches past the limit (or past the medium, or what
    // memory should hold) is not an entry array.
    std::uint64_t count = header.numberOfPartitionEntries;
    auto fitBefore = [&](std::uint64_t end) -> std::uint64_t {
        if (end <= header.partitionEntryLBA) return 0;
        return platform::saturatingMul(end - header.partitionEntryLBA, copy.entriesPerSector);
    };
    std::uint64_t fits = fitBefore(limit);
    if (media_.sizeInSect() != 0) fits = std::min(fits, fitBefore(media_.sizeInSect()));
    fits = std::min<std::uint64_t>(fits, kMaxGPTEntryArrayBytes / copy.entrySize);
    if (count > fits) {
        platform::logFormat("GUID partition table of %@ claims %u entries; only %@ fit before sector %@", media_.path(),
                            header.numberOfPartitionEntries, static_cast<unsigned long long>(fits),
                            static_cast<unsigned long long>(limit));
        count = fits;
    }
    copy.count = count;
    copy.entries.assign(static_cast<std::size_t>(count * copy.entrySize), 0);
    copy.sectorRead.assign(static_cast<std::size_t>((count + copy.entriesPerSector - 1) / copy.entriesPerSector),
                           false);

    bool allRead = true;
    for (std::size_t k = 0; k < copy.sectorRead.size(); ++k) {
        // The array ends before the limit, so this cannot wrap.
        const std::uint64_t at = header.partitionEntryLBA + k;
        const std::optional<std::vector<std::uint8_t>> sector = readRecord(at);
        if (!sector) {
            platform::logFormat("Sector %@ of the GUID partition entries of %@ could not be read",
                                static_cast<unsigned long long>(at), media_.path());
            allRead = false;
            continue;
        }
        copy.sectorRead[k] = true;
        const std::uint64_t first = k * copy.entriesPerSector;
        const std::uint64_t bytes = std::min(copy.entriesPerSector, count - first) * copy.entrySize;
        std::copy_n(sector->begin(), bytes, copy.entries.begin() + static_cast<std::ptrdiff_t>(first * copy.entrySize));
    }
    copy.arrayChecksum = allRead && count == header.numberOfPartitionEntries &&
                         gptCRC32(ByteView(copy.entries)) == header.partitionEntryArrayCRC32;
}

std::optional<PartitionTables::GPTCopy> PartitionTables::readBackupGPTHeader() {
    // The backup header lies in the disk's last sector and says so itself; a
    // header there that does not hold its own checksum is no backup to
    // prefer to anything.
    const std::uint64_t mediumSectors = media_.sizeInSect();
    if (mediumSectors < 3) return std::nullopt;
    std::optional<GPTCopy> copy = readGPTHeader(mediumSectors - 1);
    if (copy && (!copy->headerChecksum || copy->header.myLBA != mediumSectors - 1)) return std::nullopt;
    return copy;
}

void PartitionTables::walkGPT(const std::function<void(const GUIDPartitionTableEntry&)>& take) {
    std::optional<GPTCopy> primary = readGPTHeader(1);
    if (primary) {
        readGPTEntries(*primary, primary->header.firstUsableLBA);
        if (primary->sound()) return takeGPTEntries(*primary, nullptr, take);
    }

    // A primary header or entry array that cannot be read or fails its
    // checksum is what the backup at the disk's end is kept for.
    std::optional<GPTCopy> backup = readBackupGPTHeader();
    if (backup) {
        // The backup's entries lie in front of its header.
        readGPTEntries(*backup, backup->header.myLBA);
        if (backup->sound()) {
            platform::logFormat("GUID partition table of %@ is read from its backup in sector %@: the primary "
                                "could not be read or fails its checksum",
                                media_.path(), static_cast<unsigned long long>(backup->header.myLBA));
            return takeGPTEntries(*backup, nullptr, take);
        }
        if (!primary) {
            // The primary's header is gone but its entries need not be: the
            // tools put them in the sector after it, and they are believed
            // only when they hold the checksum the backup keeps of them.
            GPTCopy assumed = *backup;
            assumed.headerChecksum = false;
            assumed.header.partitionEntryLBA = kPrimaryGPTEntriesSector;
            readGPTEntries(assumed, backup->header.firstUsableLBA);
            if (assumed.arrayChecksum) {
                platform::logFormat("GUID partition table of %@ is read from its backup's header and the "
                                    "primary's entries in sector %@",
                                    media_.path(), static_cast<unsigned long long>(kPrimaryGPTEntriesSector));
                return takeGPTEntries(assumed, nullptr, take);
            }
        }
    }
    // Neither copy is whole: the one with a header is read, each sector of
    // its entries that could not be read taken from the other copy.
    if (primary)
        takeGPTEntries(*primary, backup ? &*backup : nullptr, take);
    else if (backup)
        takeGPTEntries(*backup, nullptr, take);
}

void PartitionTables::takeGPTEntries(const GPTCopy& copy, const GPTCopy* other,
                                     const std::function<void(const GUIDPartitionTableEntry&)>& take) {
    const bool sameLayout = other && other->entrySize == copy.entrySize;
    std::uint64_t unread = 0;
    for (std::uint64_t i = 0; i < copy.count; ++i) {
        ByteView bytes;
        if (copy.entryRead(i))
            bytes = copy.entry(i);
        else if (sameLayout && other->entryRead(i))
            bytes = other->entry(i);
        else {
            ++unread;
            continue;
        }
        const GUIDPartitionTableEntry entry = convertGPTEntry(bytes);
        // A deleted partition leaves an empty entry: the ones after it are
        // still the disk's.
        if (!entry.isEmpty()) take(entry);
    }
    if (unread != 0)
        platform::logFormat("GUID partition table of %@: %@ entries could not be read in either copy; the "
                            "partitions they describe are not listed",
                            media_.path(), static_cast<unsigned long long>(unread));
}

void PartitionTables::readAndInterpretGPT() {
    walkGPT([this](const GUIDPartitionTableEntry& entry) {
        if (entry.partitionTypeGUID != partitions::kGPTAppleHFSType) {
            ++media_.otherPartitionsPassedOver;
            return;
        }
        if (entry.endingLBA < entry.startingLBA) {
            platform::logFormat("GUID partition entry of %@ from sector %@ ends before it starts; skipped",
                                media_.path(), static_cast<unsigned long long>(entry.startingLBA));
            return;
        }
        // The name field is padded with zero units; the name ends at the first.
        std::u16string name = entry.partitionName;
        name.resize(std::min(name.size(), name.find(u'\0')));
        listVolume(entry.startingLBA, entry.endingLBA - entry.startingLBA + 1, utf8FromUtf16(name));
    });
}

// ---------------------------------------------------------------------------
// Apple partition map

void PartitionTables::walkPM(const std::function<void(const PartitionMap&)>& take) {
    // Every entry holds the map's entry count; the first that reads bounds
    // the walk. An entry that cannot be read is passed over, as the ones
    // after it are still the map's; one that reads without "PM" ends it.
    std::optional<std::int64_t> entries;
    const auto last = [&] { return entries ? *entries : std::int64_t{kMaxPMEntries}; };
    for (std::int64_t sector = 1; sector <= last(); ++sector) {
        const std::optional<std::vector<std::uint8_t>> bytes = readRecord(static_cast<std::uint64_t>(sector));
        if (!bytes) {
            platform::logFormat("Apple partition map entry of %@ in sector %@ could not be read; passed over",
                                media_.path(), static_cast<unsigned long long>(sector));
            continue;
        }
        const PartitionMap entry = convertPM(ByteView(*bytes));
        if (entry.pmSig != partitions::kPMSignature) break;
        if (!entries) {
            entries = static_cast<std::int32_t>(entry.pmMapBlkCnt);
            if (*entries > static_cast<std::int64_t>(kMaxPMEntries)) {
                platform::logFormat("Apple partition map of %@ claims %u entries; only the first %u are read",
                                    media_.path(), entry.pmMapBlkCnt, kMaxPMEntries);
                entries = kMaxPMEntries;
            }
            if (sector > *entries) break;
        }
        // Entry 1, in sector 1, describes the map itself and is never listed.
        if (sector >= 2) take(entry);
    }
}

void PartitionTables::readAndInterpretPM() {
    walkPM([this](const PartitionMap& entry) {
        const std::string type = entry.type();
        if (!isHFSContent(contentKindOf(type))) {
            // The map's own drivers and free space are no volumes.
            if (!type.starts_with("Apple_")) ++media_.otherPartitionsPassedOver;
            return;
        }
        listVolume(entry.pmPyPartStart, entry.pmPartBlkCnt, utf8Lossy(cString(entry.pmPartName)));
    });
}

// ---------------------------------------------------------------------------
// Volume names

void PartitionTables::getVolumeNamesGPT() {
    for (Value& v : media_.volumePMArray) {
        Dict* d = v.dict();
        if (!d || contentKindOf(d->get("Content").stringValue()) != ContentKind::HFSPlus) continue;
        media_.setHPlusVolStart(d->get("Volume Start").uint64Value());
        if (auto name = rootFolderName(true)) d->set("Volume Name", *name);
    }
}

void PartitionTables::getVolumeNamesPM() {
    const std::uint32_t bps = media_.u32BytesInSector();
    for (Value& v : media_.volumePMArray) {
        Dict* d = v.dict();
        if (!d) continue;
        const std::uint64_t start = d->get("Volume Start").uint64Value();
        const auto headerSector = platform::checkedAdd(start, hfsplus::kVolumeHeaderOffset / bps);
        if (!headerSector) continue;
        media_.mdb = convertMDB(
            ByteView(readBytes(*headerSector, hfsplus::kVolumeHeaderOffset % bps, hfsplus::kMasterDirectoryBlockSize)));
        const MasterDirectoryBlock& mdb = media_.mdb;

        if (mdb.drSigWord == hfsplus::kHFSSignature) {
            // The name is as long as its length byte says, and the field holds 27.
            const std::string name = cString(mdb.drVN, std::min<std::size_t>(mdb.nameLength, kHFSNameMaxLength));
            if (!name.empty() && isValidUtf8(name)) d->set("Volume Name", name);
            if (!hfsplus::isHFSPlusSignature(mdb.drEmbedSigWord)) continue;
            if (mdb.drAlBlkSiz == 0 || mdb.drAlBlkSiz % bps != 0) {
                platform::logFormat("HFS wrapper on %@ at sector %@: allocation block size %u is not a whole "
                                    "number of sectors",
                                    media_.path(), static_cast<unsigned long long>(start), mdb.drAlBlkSiz);
                continue;
            }
            const auto offset = embeddedVolumeSectorOffset(mdb, bps);
            if (!offset) continue;
            const auto embedded = platform::checkedAdd(start, *offset);
            if (!embedded) continue;
            media_.setHPlusVolStart(*embedded);
            if (auto rootName = rootFolderName(false)) d->set("Volume Name", *rootName);
        } else if (hfsplus::isHFSPlusSignature(mdb.drSigWord)) {
            media_.setHPlusVolStart(start);
            if (auto rootName = rootFolderName(false)) d->set("Volume Name", *rootName);
        }
    }
}

HFSPlusDriveGeometry::SectorReader PartitionTables::nodeReader() {
    // A node that cannot be read reads as zeros, which no test below takes
    // for a node.
    return [this](std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
        buffer = readBytes(sector, 0, static_cast<std::size_t>(sectors) * media_.u32BytesInSector());
        return true;
    };
}

std::optional<std::string> PartitionTables::rootFolderName(bool testSignature) {
    const std::uint32_t bps = media_.u32BytesInSector();
    const auto headerSector = platform::checkedAdd(media_.HPlusVolStart(), hfsplus::kVolumeHeaderOffset / bps);
    if (!headerSector) return std::nullopt;
    media_.vib = convertVIB(
        ByteView(readBytes(*headerSector, hfsplus::kVolumeHeaderOffset % bps, hfsplus::kVolumeInformationBlockSize)));
    const VolumeInformationBlock& vib = media_.vib;
    if (testSignature && !hfsplus::isHFSPlusSignature(vib.signature)) return std::nullopt;

    media_.catalogExt.clear();
    media_.extentsExt.clear();
    media_.setBlockSize(vib.blockSize / bps);
    // Blocks that are not a whole number of sectors cannot be found on the
    // drive by sector; nothing of the volume can be read.
    if (vib.blockSize == 0 || vib.blockSize % bps != 0) return std::nullopt;

    HFSPlusDriveGeometry geometry(media_);
    const HFSPlusDriveGeometry::SectorReader readNode = nodeReader();
    HFSPlusDriveGeometry::appendListedExtents(vib.extentsFile, media_.extentsExt);
    // The extents B-tree of this volume, when it checks out; the geometry a
    // previous volume left in the fields must never be used for this one.
    const bool extentsTree = geometry.takeExtentsTreeHeader(readNode);

    const std::uint64_t listed = HFSPlusDriveGeometry::appendListedExtents(vib.catalogFile, media_.catalogExt);
    if (media_.catalogExt.empty()) return std::nullopt;
    if (extentsTree && listed < vib.catalogFile.totalBlocks) {
        if (auto more =
                geometry.extentsForID(hfsplus::kCatalogFileID, hfsplus::kDataFork, static_cast<std::uint32_t>(listed),
                                      vib.catalogFile.totalBlocks, readNode))
            media_.catalogExt.insert(media_.catalogExt.end(), more->begin(), more->end());
    }

    const auto header = geometry.readHeaderNode(media_.catalogExt.front().startBlock(), readNode);
    if (!header || header->nodeSectors == 0) return std::nullopt;
    media_.catNodeSize = static_cast<std::int32_t>(header->nodeSectors);
    media_.catRootNode = header->record.rootNode;
    media_.firstLeafNode = header->record.firstLeafNode;

    const auto leafSector = geometry.catalogNodeToSector(media_.firstLeafNode);
    if (!leafSector) return std::nullopt;
    const std::size_t nodeBytes = static_cast<std::size_t>(media_.catNodeSize) * bps;
    const std::vector<std::uint8_t> bytes = readBytes(*leafSector, 0, std::max<std::size_t>(2 * bps, kFirstRecordSpan));
    // The first record is taken only as far as the node reaches.
    const ByteView leaf = ByteView(bytes).sub(0, nodeBytes);
    const BTNodeDescriptor_ desc = convertBTNodeDesc(leaf);
    if (desc.bLink != 0 || desc.kind != hfsplus::kLeafNode || desc.height != 1) return std::nullopt;

    const HFSPlusCatalogKey_ key = convertHPlusCatalogKey(leaf.sub(hfsplus::kBTNodeDescriptorSize));
    if (key.parentID != hfsplus::kRootParentID) return std::nullopt;
    if (key.keyLength < hfsplus::kCatalogKeyMinLength || key.keyLength > hfsplus::kCatalogKeyMaxLength ||
        !key.nameLengthValid() || hfsplus::kCatalogKeyMinLength + 2u * key.nodeName.length > key.keyLength)
        return std::nullopt;
    const HFSPlusCatalogFolder_ folder = convertHPlusCatalogFolder(
        leaf.sub(hfsplus::kBTNodeDescriptorSize + 2 + key.keyLength, hfsplus::kCatalogFolderSize));
    if (folder.recordType != hfsplus::kFolderRecord || folder.folderID != hfsplus::kRootFolderID) return std::nullopt;
    std::string name = utf8FromUtf16(key.nodeName.unicode);
    if (name.empty()) return std::nullopt;
    return name;
}
