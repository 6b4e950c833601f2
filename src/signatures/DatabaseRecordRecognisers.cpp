#include "signatures/DatabaseRecordRecognisers.h"

#include "platform/ByteView.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <algorithm>
#include <array>
#include <string>

bool DatabaseRecordRecognisers::checkOlk14RecordAtBlock(std::uint64_t block, Sig& sig, const Olk14RecordKind& kind) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView header = cursor.at(0, 20);
    // The record's length stands twice, in 32 and in 16 bits.
    if (header.empty() || header.be32(4) != header.be16(8)) return false;
    // The database files record I under thousands K of millions M: the
    // top group of the thousands count and the one below it.
    const std::uint32_t number = header.be32(16);
    std::uint32_t groups = number / 1000, thousands = groups, millions = 0;
    while (groups > 999) {
        thousands = groups % 1000;
        millions = groups / 1000;
        groups /= 1000;
    }
    search_.foundName = std::string(kind.namePrefix) + "_" + std::to_string(number);
    search_.foundParentPath = "Office 2011 Identities/Main Identity/Data Records/" + std::string(kind.folder) +
                              "/0T/0B/" + std::to_string(millions) + "M/" + std::to_string(thousands) + "K";
    // The length leaves out the 20-byte header, the record's structure.
    medium.acceptListed(sig, std::uint64_t{header.be32(4)} + 20, header.size());
    return true;
}

bool DatabaseRecordRecognisers::checkOlk14CategoryFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x18", "Categories"});
}

bool DatabaseRecordRecognisers::checkOlk14ContactFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x01", "Contacts"});
}

bool DatabaseRecordRecognisers::checkOlk14DBHeaderFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x35", "Database Headers"});
}

bool DatabaseRecordRecognisers::checkOlk14FoldFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x24", "Fold"});
}

bool DatabaseRecordRecognisers::checkOlk14FolderFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x05", "Folders"});
}

bool DatabaseRecordRecognisers::checkOlk14MailAccountFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x12", "Mail Accounts"});
}

bool DatabaseRecordRecognisers::checkOlk14MsgSourceFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x27", "Message Sources"});
}

bool DatabaseRecordRecognisers::checkOlk14MessageFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x00", "Messages"});
}

bool DatabaseRecordRecognisers::checkOlk14PrefFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x20", "Preferences"});
}

bool DatabaseRecordRecognisers::checkOlk14RecentFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x19", "Recent Addresses"});
}

bool DatabaseRecordRecognisers::checkOlk14RuleFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x07", "Rules"});
}

bool DatabaseRecordRecognisers::checkOlk14SearchFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x17", "Saved Searches"});
}

bool DatabaseRecordRecognisers::checkOlk14ScheduleFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x06", "Schedules"});
}

bool DatabaseRecordRecognisers::checkOlk14SignatureFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x33", "Signatures"});
}

bool DatabaseRecordRecognisers::checkOlk14UIDFileAtBlock(std::uint64_t block, Sig& sig) {
    return checkOlk14RecordAtBlock(block, sig, {"x21", "UIDs"});
}

namespace {

constexpr std::uint64_t kPageBytes = 4096;
// The second half of the database GUID (the first is the signature).
constexpr std::uint64_t kDatabaseGUIDTail = 0xBD31EFE7FE74B71D;
constexpr std::uint64_t kBookType = 0x424F4F4B424F4F4B; // "BOOKBOOK"
// The halves of the object header and trailer GUIDs, met in any pairing.
constexpr std::array<std::uint64_t, 2> kObjectGUIDHeads = {0xDE39397951884B6C, 0xFDCEDB70F7864B4F};
constexpr std::array<std::uint64_t, 2> kObjectGUIDTails = {0x8E63EEF8AEE0DD38, 0xA4D3C728B3417106};
// The trailer marker that closes an object as the application writes it,
// and the marker's size: its GUID, then the object's UID, class, stream
// length and checksum, the same sixteen bytes as in the object's header.
constexpr std::uint64_t kTrailerGUIDHead = 0xFDCEDB70F7864B4F;
constexpr std::uint64_t kTrailerGUIDTail = 0xA4D3C728B3417106;
constexpr std::uint64_t kMarkerBytes = 32;

// One of the two copies of the master page, as far as the length needs it.
struct MasterPage {
    bool valid = false;
    std::uint64_t type = 0;
    std::uint8_t byteOrder = 0;
    std::uint32_t sequence = 0;
    std::uint32_t pages = 0;
};

MasterPage masterPageAt(BoundedCursor& cursor, std::uint64_t position) {
    const platform::ByteView page = cursor.at(position, 284);
    if (page.empty() || page.be64(8) != kDatabaseGUIDTail) return {};
    return {true, page.be64(16), page.u8(24), page.le32(264), page.le32(280)};
}

// The pages the file holds: both copies agree, or the newer one counts; of
// two equally new ones, the longer.
std::uint64_t pageCount(const MasterPage& first, const MasterPage& second) {
    if (first.pages == second.pages) return first.pages;
    if (first.sequence != second.sequence) return first.sequence > second.sequence ? first.pages : second.pages;
    return std::max(first.pages, second.pages);
}

bool contains(const std::array<std::uint64_t, 2>& values, std::uint64_t value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

} // namespace

bool DatabaseRecordRecognisers::checkInddAndOtherSuchFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const MasterPage first = masterPageAt(cursor, 0);
    if (!first.valid) return false;
    const MasterPage second = masterPageAt(cursor, kPageBytes);
    if (!second.valid || second.type != first.type || second.byteOrder != first.byteOrder) return false;
    std::uint64_t end = pageCount(first, second) * kPageBytes;
    if (first.type == kBookType) {
        sig.extension = "indb";
    } else {
        // The objects stored after the pages, one after another. Every step
        // moves on by at least a header; a read that fails ends the walk.
        const bool bigEndian = first.byteOrder == 2;
        while (!medium.stopped()) {
            const platform::ByteView object = cursor.at(end, 36);
            if (object.empty() || object.be64(0) == 0) break;
            if (!contains(kObjectGUIDHeads, object.be64(0)) || !contains(kObjectGUIDTails, object.be64(8)))
                return false;
            const std::uint32_t length = bigEndian ? object.be32(32) : object.le32(32);
            const std::uint64_t uidAndClass = object.be64(16), lengthAndChecksum = object.be64(24);
            end += std::uint64_t{length} + 36;
            // The length counts the packet only, and the writer closes every
            // object with a trailer marker after it. Taken for the next
            // object, the trailer would lend the walk a length read from
            // whatever follows it; only a marker that repeats this object's
            // fields is its trailer.
            const platform::ByteView trailer = cursor.at(end, kMarkerBytes);
            if (!trailer.empty() && trailer.be64(0) == kTrailerGUIDHead && trailer.be64(8) == kTrailerGUIDTail &&
                trailer.be64(16) == uidAndClass && trailer.be64(24) == lengthAndChecksum)
                end += kMarkerBytes;
            if (length == 0) break;
        }
    }
    // Its pages and the objects after them are read to their end, which the
    // last page's padding follows.
    medium.acceptListed(sig, (end + kPageBytes - 1) / kPageBytes * kPageBytes, end);
    return true;
}
