#include "session/RecoverySessionFile.h"

#include "session/SessionFileItems.h"
#include "session/TreeRecordReader.h"
#include "volume/Volume.h"

#include <algorithm>
#include <optional>
#include <vector>

using platform::Value;

namespace {

constexpr std::uint32_t kPrintMark = 0x46505254; // "FPRT"
constexpr std::uint32_t kMostPrintSamples = 64;
constexpr const char* kFirstSectorsUnread = "firstSectorsUnread";
constexpr std::uint32_t kFirstSectorsMask = 0x1F;

bool ended(SessionFileOutput& out, std::string* error) {
    if (out.failed() && error) *error = out.reason();
    return !out.failed();
}

} // namespace

bool RecoverySessionFile::writeHead(SessionFileOutput& out, std::string* error) {
    out.writeZeros(kHeadBytes);
    out.seek(0);
    if (!SessionFileItems::writeArchive(out, Value(kIncomplete), error)) return false;
    out.seek(kHeadBytes);
    return ended(out, error);
}

bool RecoverySessionFile::writeSettings(SessionFileOutput& out, const RecoverySession& s, std::string* error) {
    if (!s.volume) {
        if (error) *error = "there is no volume";
        return false;
    }
    // Only where a sector is marked: the file is then the same as before
    // the marks were kept.
    SessionFileItems::TopIntegers marks;
    if (s.hasFirst5Sectors && (s.first5SectorsUnread & kFirstSectorsMask) != 0)
        marks.emplace(kFirstSectorsUnread, s.first5SectorsUnread & kFirstSectorsMask);
    if (!SessionFileItems::writeArchive(out, Value(s.volume), error, marks)) return false;
    out.writeBE32(static_cast<std::uint32_t>(s.scanMode));
    out.writeBE32(static_cast<std::uint32_t>(s.rawSearchMode));
    out.writeBE32(static_cast<std::uint32_t>(s.isPTListOrPTScanListChosen));
    if (!SessionFileItems::writePartitionLists(out, s.rawSearchMode, s.isPTListOrPTScanListChosen,
                                               s.partitionListDictArray, s.partitionScanListDictArray, error))
        return false;
    out.writeBE32(s.hasFirst5Sectors ? 1 : 0);
    if (s.hasFirst5Sectors) {
        // Exactly five sectors of the volume's size, as the reader takes them.
        platform::Data sectors = s.first5Sectors;
        sectors.resize(5 * std::size_t{s.volume->u32BytesInSector()}, 0);
        out.write(sectors.data(), sectors.size());
    }
    out.sync();
    return ended(out, error);
}

bool RecoverySessionFile::writePrint(SessionFileOutput& out, const FoundFilesPrint& print, std::string* error) {
    const std::size_t count = std::min<std::size_t>(print.samples.size(), kMostPrintSamples);
    out.writeBE32(kPrintMark);
    out.writeBE32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        out.writeBE64(print.samples[i].sector);
        out.writeBE64(print.samples[i].digest);
    }
    return ended(out, error);
}

bool RecoverySessionFile::writeCompleteHead(SessionFileOutput& out, std::string* error) {
    // The tree is on the disk before the head says it is complete.
    if (!out.sync()) return ended(out, error);
    const std::uint64_t end = out.position();
    out.seek(0);
    if (!SessionFileItems::writeArchive(out, Value(kComplete), error) ||
        !SessionFileItems::writeArchive(out, Value(kVersion), error))
        return false;
    out.seek(end);
    out.sync();
    return ended(out, error);
}

RecoverySessionFile::Head RecoverySessionFile::readHead(SessionFileInput& in, std::string* versionRead) {
    if (!in.seek(0)) return Head::Damaged;
    const std::optional<Value> marker = SessionFileItems::readArchive(in, kHeadBytes);
    if (!marker || !marker->isString()) return Head::Damaged;
    if (marker->stringValue() != kComplete) return Head::Incomplete;
    const std::optional<Value> version = SessionFileItems::readArchive(in, kHeadBytes);
    if (!version || !version->isString()) return Head::Damaged;
    if (version->stringValue() != kVersion) {
        if (versionRead) *versionRead = version->stringValue();
        return Head::OtherVersion;
    }
    return Head::Complete;
}

bool RecoverySessionFile::readSettings(SessionFileInput& in, RecoverySession& s) {
    if (!in.seek(kHeadBytes)) return false;
    SessionFileItems::TopIntegers marks;
    const std::optional<Value> volume = SessionFileItems::readArchive(in, UINT64_MAX, &marks);
    s.volume = volume ? volume->objectAs<Volume>() : nullptr;
    if (!s.volume) return false;
    std::uint32_t scanMode = 0, rawSearchMode = 0, chosen = 0;
    if (!in.readBE32(scanMode) || !in.readBE32(rawSearchMode) || !in.readBE32(chosen)) return false;
    s.scanMode = SessionFileItems::inRange(scanMode, 0, 5);
    s.rawSearchMode = SessionFileItems::inRange(rawSearchMode, 0, 5);
    s.isPTListOrPTScanListChosen = SessionFileItems::inRange(chosen, 0, 1);
    if (!SessionFileItems::readPartitionLists(in, s.rawSearchMode, s.isPTListOrPTScanListChosen,
                                              s.partitionListDictArray, s.partitionScanListDictArray))
        return false;
    std::uint32_t flag = 0;
    if (!in.readBE32(flag)) return false;
    s.hasFirst5Sectors = flag == 1;
    s.first5SectorsUnread = 0;
    if (s.hasFirst5Sectors) {
        const std::uint64_t bytes = 5 * std::uint64_t{s.volume->u32BytesInSector()};
        if (bytes > in.left()) return false;
        s.first5Sectors.assign(static_cast<std::size_t>(bytes), 0);
        if (!in.read(s.first5Sectors.data(), s.first5Sectors.size())) return false;
        if (const auto mark = marks.find(kFirstSectorsUnread); mark != marks.end())
            s.first5SectorsUnread = static_cast<std::uint32_t>(mark->second) & kFirstSectorsMask;
    }
    return true;
}

NewDir* RecoverySessionFile::readTree(SessionFileInput& in, const std::function<void(const NewDir&)>& onRoot,
                                      const std::function<void()>& everyFifty) {
    TreeRecordReader reader(everyFifty);
    std::uint32_t children = 0;
    NewDir* root = reader.readDir(in, children);
    if (!root) return nullptr;
    reader.scanInfoEntryCount = 0;
    if (onRoot) onRoot(*root);
    if (!reader.readToDir(root, children, in, nullptr)) {
        newdir::freeNDir(root);
        return nullptr;
    }
    return root;
}

std::optional<FoundFilesPrint> RecoverySessionFile::readPrint(SessionFileInput& in) {
    FoundFilesPrint print;
    if (in.left() == 0) return print;
    std::uint32_t mark = 0, count = 0;
    if (!in.readBE32(mark) || mark != kPrintMark || !in.readBE32(count) || count > kMostPrintSamples ||
        in.left() != std::uint64_t{count} * 16)
        return std::nullopt;
    print.samples.resize(count);
    for (FoundFilesPrint::Sample& sample : print.samples)
        if (!in.readBE64(sample.sector) || !in.readBE64(sample.digest)) return std::nullopt;
    return print;
}

NewDir* RecoverySessionFile::readBody(SessionFileInput& in, RecoverySession& session,
                                      const std::function<void(const NewDir&)>& onRoot,
                                      const std::function<void()>& everyFifty) {
    if (!readSettings(in, session)) return nullptr;
    NewDir* root = readTree(in, onRoot, everyFifty);
    if (!root) return nullptr;
    std::optional<FoundFilesPrint> print = readPrint(in);
    if (!print) {
        newdir::freeNDir(root);
        return nullptr;
    }
    session.print = std::move(*print);
    return root;
}
