#include "signatures/DocumentRecognisers.h"

#include "platform/ByteView.h"
#include "platform/CheckedMath.h"
#include "platform/Crc32.h"
#include "platform/Value.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/RtfGraphics.h"
#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The end-record searches read 64 sectors at a time and step by 63, so that a
// record starting in a window's first 63 sectors is read whole.
constexpr std::uint32_t kWindowSectors = 64;
constexpr std::uint32_t kWindowStep = 63;
// How much of an RTF document is read when its type sets no size limit.
constexpr std::uint64_t kRtfTextLimit = std::uint64_t{16} << 20;
constexpr std::uint32_t kRtfReadSectors = 128;
// The bytes after a PDF's end-of-file marker that tell an update following
// it, with the comment lines before it.
constexpr std::size_t kPdfLookAhead = 256;
// A document saved with updates has a marker for each; more than this many
// is no document but a medium that repeats one (each costs a window read).
constexpr std::uint64_t kPdfMostMarkers = 256;
// The "startxref" line before a marker, its number and the line breaks
// come to less than this.
constexpr std::uint64_t kPdfStartxrefBack = 64;
// How much of a cross-reference stream's object is read for its type.
constexpr std::uint64_t kPdfXrefLook = 4096;
// How far after a linearized document's first-page table its trailer is
// looked for.
constexpr std::uint64_t kPdfTrailerReach = 65536;
// The codes of a compress file that are tested: about half of the values
// each can take are no code yet.
constexpr std::uint32_t kCompressCodesTested = 8;
// The header, the flags and those codes begin one sector of any data in 2^28,
// about as often as a JPEG's opening does by chance: the file vouches for its
// start only where its codes hold on this far, which chance makes once in
// 2^56, more seldom than a header of five bytes that vouches alone. All are
// nine bits long: codes grow once 512 entries are made.
constexpr std::uint32_t kCompressCodesVouching = 40;
// An ARJ header's basic part is at most this long.
constexpr std::uint16_t kArjMaxHeader = 2600;
constexpr std::uint16_t kArjMark = 0x60EA;
// A program's "PE\0\0" header lies within this much of its start.
constexpr std::uint32_t kMaxPeOffset = 1u << 16;
// The PE format allows no more sections.
constexpr std::uint16_t kMaxPeSections = 96;

bool spells(platform::ByteView bytes, std::string_view text) {
    return bytes.size() == text.size() && std::memcmp(bytes.data(), text.data(), text.size()) == 0;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The position, counted from the candidate's start, of the first `marker`
// at or after byte `from` that `accept` takes, among the windows that start
// below `windowBound` sectors into the candidate. The last window reads as
// zeros past the volume's end, so a marker in the volume's last sectors is
// found; a window that cannot be read ends the search. `accept` gets the
// window, the marker's offset in it and the two bytes before the window
// (zero before the first).
template <class Accept>
std::optional<std::uint64_t> findMarker(RecogniserMedium& medium, std::uint64_t windowBound, std::string_view marker,
                                        Accept accept, std::uint64_t from = 0) {
    const std::uint32_t bps = medium.bytesPerSector();
    const std::size_t searched = std::size_t{kWindowStep} * bps;
    BoundedCursor cursor = medium.cursor(kWindowSectors);
    std::array<std::uint8_t, 2> before{};
    for (std::uint64_t w = from / bps; w < windowBound && !medium.stopped(); w += kWindowStep) {
        if (!cursor.holdsSector(w)) break;
        const platform::ByteView window = cursor.sectors(w, kWindowSectors);
        if (window.empty()) break;
        // Markers that start in the window's first 63 sectors; the next window
        // begins with the 64th.
        const std::size_t end = std::min(searched + marker.size() - 1, window.size());
        const std::uint64_t windowStart = w * bps;
        const std::size_t skipped = from > windowStart ? static_cast<std::size_t>(from - windowStart) : 0;
        for (std::size_t at = skipped; at + marker.size() <= end; ++at) {
            const void* first = std::memchr(window.data() + at, marker.front(), end - marker.size() + 1 - at);
            if (first == nullptr) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(first) - window.data());
            if (std::memcmp(window.data() + at, marker.data(), marker.size()) == 0 && accept(window, at, before))
                return windowStart + at;
        }
        before = {window.u8(searched - 2), window.u8(searched - 1)};
    }
    return std::nullopt;
}

bool isPdfSpace(std::uint8_t c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '\t' || c == '\f' || c == 0;
}

// Whether the bytes after an end-of-file marker carry the document on: an
// incremental update (or the rest of a linearized file) starts with an
// object ("12 0 obj") or a cross-reference table.
bool pdfGoesOn(platform::ByteView next) {
    std::size_t at = 0;
    const auto spells = [&](std::string_view word) {
        return at + word.size() <= next.size() && std::memcmp(next.data() + at, word.data(), word.size()) == 0;
    };
    // Comment lines may open an update (a tool's mark of its own), but one
    // that names the format's version begins another document.
    for (;;) {
        while (at < next.size() && isPdfSpace(next.u8(at)))
            ++at;
        if (at == next.size() || next.u8(at) != '%' || spells("%PDF-")) break;
        while (at < next.size() && next.u8(at) != '\r' && next.u8(at) != '\n')
            ++at;
    }
    if (spells("xref")) return true;
    for (int number = 0; number < 2; ++number) {
        const std::size_t digits = at;
        while (at < next.size() && next.u8(at) >= '0' && next.u8(at) <= '9')
            ++at;
        if (at == digits || at == next.size() || !isPdfSpace(next.u8(at))) return false;
        while (at < next.size() && isPdfSpace(next.u8(at)))
            ++at;
    }
    return spells("obj");
}

// The offset that the "startxref" line before the end-of-file marker at
// `marker` gives: the keyword, then the number alone on the last line
// before the marker. Nothing when the lines before the marker are not so.
std::optional<std::uint64_t> pdfStartxref(BoundedCursor& cursor, std::uint64_t marker) {
    const std::uint64_t from = marker - std::min<std::uint64_t>(marker, kPdfStartxrefBack);
    const platform::ByteView tail = cursor.at(from, static_cast<std::size_t>(marker - from));
    const std::string_view text(reinterpret_cast<const char*>(tail.data()), tail.size());
    constexpr std::string_view kKeyword = "startxref";
    const std::size_t keyword = text.rfind(kKeyword);
    if (tail.empty() || keyword == std::string_view::npos) return std::nullopt;
    std::size_t at = keyword + kKeyword.size();
    while (at < text.size() && isPdfSpace(tail.u8(at)))
        ++at;
    std::uint64_t offset = 0;
    const auto [digitsEnd, error] = std::from_chars(text.data() + at, text.data() + text.size(), offset);
    if (error != std::errc()) return std::nullopt;
    for (at = static_cast<std::size_t>(digitsEnd - text.data()); at < text.size(); ++at)
        if (!isPdfSpace(tail.u8(at))) return std::nullopt;
    return offset;
}

// Where the name `name` ("/XRef") stands whole in `text`, not as the start
// of a longer one ("/XRefStm"): a name ends at white space or a delimiter.
std::size_t pdfNameAt(std::string_view text, std::string_view name) {
    for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
        const std::size_t next = at + name.size();
        if (next == text.size() || isPdfSpace(static_cast<std::uint8_t>(text[next])) ||
            std::string_view("/<>[]()%").find(text[next]) != std::string_view::npos)
            return at;
    }
    return std::string_view::npos;
}

// The cross-reference section at `offset`, before `end`: `reach` bytes of
// it, from its first; the line break before it may be where the offset
// points.
struct PdfXref {
    platform::ByteView bytes;
    std::string_view text;
    // Where "xref" or the object's "obj" stands.
    std::size_t keyword = 0;
    bool table = false;
};

std::optional<PdfXref> pdfXrefAt(BoundedCursor& cursor, std::uint64_t offset, std::uint64_t end, std::uint64_t reach) {
    if (offset >= end) return std::nullopt;
    PdfXref x;
    x.bytes = cursor.at(offset, static_cast<std::size_t>(std::min(reach, end - offset)));
    x.text = std::string_view(reinterpret_cast<const char*>(x.bytes.data()), x.bytes.size());
    std::size_t at = 0;
    while (at < x.text.size() && at < 2 && isPdfSpace(x.bytes.u8(at)))
        ++at;
    x.keyword = at;
    x.table = x.text.substr(at, 4) == "xref";
    if (x.table) return x;
    // "12 0 obj", whose dictionary up to the stream's data gives its type.
    for (int number = 0; number < 2; ++number) {
        const std::size_t digits = at;
        while (at < x.text.size() && x.text[at] >= '0' && x.text[at] <= '9')
            ++at;
        if (at == digits || at == x.text.size() || !isPdfSpace(x.bytes.u8(at))) return std::nullopt;
        while (at < x.text.size() && isPdfSpace(x.bytes.u8(at)))
            ++at;
    }
    if (x.text.substr(at, 3) != "obj") return std::nullopt;
    x.keyword = at;
    x.text = x.text.substr(0, x.text.find("stream", at));
    if (pdfNameAt(x.text.substr(at), "/XRef") == std::string_view::npos) return std::nullopt;
    return x;
}

// The offset of the section before `x` that its trailer's /Prev, or its
// dictionary's, names; nothing when it names none. The first "/Prev" after
// a table is its trailer's: the table holds only numbers.
std::optional<std::uint64_t> pdfPreviousXref(const PdfXref& x) {
    const std::size_t key = pdfNameAt(x.text.substr(x.keyword), "/Prev");
    if (key == std::string_view::npos) return std::nullopt;
    std::size_t at = x.keyword + key + 5;
    while (at < x.text.size() && isPdfSpace(x.bytes.u8(at)))
        ++at;
    std::uint64_t offset = 0;
    if (std::from_chars(x.text.data() + at, x.text.data() + x.text.size(), offset).ec != std::errc())
        return std::nullopt;
    return offset;
}

// Whether the end-of-file marker at `marker` is the document's, the
// previous marker ending at `segment`: its "startxref" names a
// cross-reference section at that offset from the document's first byte,
// written since the previous marker. A linearized document's last names
// its first page's section, near its start, whose trailer names the section
// written last. Another document's marker, after this one's first
// fragment, names a place counted from that document's first byte.
bool pdfOwnMarker(BoundedCursor& cursor, BoundedCursor& xrefs, std::uint64_t marker, std::uint64_t segment) {
    const std::optional<std::uint64_t> offset = pdfStartxref(cursor, marker);
    const std::optional<PdfXref> named =
        offset ? pdfXrefAt(xrefs, *offset, marker, kPdfXrefLook) : std::optional<PdfXref>();
    if (!named || *offset >= segment) return named.has_value();
    // The trailer follows the first page's few entries.
    const std::optional<PdfXref> first = pdfXrefAt(xrefs, *offset, marker, kPdfTrailerReach);
    const std::optional<std::uint64_t> previous = first ? pdfPreviousXref(*first) : std::nullopt;
    return previous && *previous >= segment && pdfXrefAt(xrefs, *previous, marker, kPdfXrefLook);
}

// How far the objects of a document whose end was not found go: past the
// last "endobj" before the first sector that begins another document
// ("%PDF-"), among the windows that start below `windowBound` sectors.
std::uint64_t pdfObjectsEnd(RecogniserMedium& medium, std::uint64_t windowBound) {
    constexpr std::string_view kObjectEnd = "endobj", kHeader = "%PDF-";
    const std::uint32_t bps = medium.bytesPerSector();
    const std::size_t searched = std::size_t{kWindowStep} * bps;
    BoundedCursor cursor = medium.cursor(kWindowSectors);
    std::uint64_t end = 0;
    for (std::uint64_t w = 0; w < windowBound && !medium.stopped(); w += kWindowStep) {
        if (!cursor.holdsSector(w)) break;
        const platform::ByteView window = cursor.sectors(w, kWindowSectors);
        if (window.empty()) break;
        const auto* bytes = reinterpret_cast<const char*>(window.data());
        // The objects that end in the window's first 63 sectors, before
        // another document's first sector.
        std::size_t limit = std::min(searched + kObjectEnd.size() - 1, window.size());
        bool other = false;
        for (std::size_t sector = w == 0 ? 1 : 0; sector < kWindowStep && !other; ++sector)
            if (std::string_view(bytes + sector * bps, kHeader.size()) == kHeader) {
                limit = sector * bps;
                other = true;
            }
        for (const char* at = bytes; at < bytes + limit;) {
            const void* found =
                ::memmem(at, static_cast<std::size_t>(bytes + limit - at), kObjectEnd.data(), kObjectEnd.size());
            if (found == nullptr) break;
            at = static_cast<const char*>(found) + kObjectEnd.size();
            end = w * bps + static_cast<std::uint64_t>(at - bytes);
        }
        if (other) break;
    }
    return end;
}

// The position after the ARJ header at `at` (its mark, size, basic part,
// CRC and extended parts) when its CRC holds; for the end-of-archive header
// (size 0) the position after its four bytes.
std::optional<std::uint64_t> arjHeaderEnd(BoundedCursor& cursor, std::uint64_t at, bool& archiveEnd) {
    const platform::ByteView mark = cursor.at(at, 4);
    if (mark.empty() || mark.be16(0) != kArjMark) return std::nullopt;
    const std::uint16_t size = mark.le16(2);
    archiveEnd = size == 0;
    if (archiveEnd) return at + 4;
    if (size > kArjMaxHeader) return std::nullopt;
    const platform::ByteView basic = cursor.at(at + 4, std::size_t{size} + 4);
    if (basic.empty() || platform::crc32(basic.sub(0, size)) != basic.le32(size)) return std::nullopt;
    std::uint64_t next = at + 4 + size + 4;
    for (;;) {
        const platform::ByteView extended = cursor.at(next, 2);
        if (extended.empty()) return std::nullopt;
        next += 2;
        if (extended.le16(0) == 0) return next;
        next += std::uint64_t{extended.le16(0)} + 4;
    }
}

// The records of a ZIP archive, by their little-endian signatures.
constexpr std::uint32_t kZipLocalHeader = 0x04034B50;
constexpr std::uint32_t kZipCentralHeader = 0x02014B50;
constexpr std::uint32_t kZipDataDescriptor = 0x08074B50;
constexpr std::uint32_t kZipDigitalSignature = 0x05054B50;
constexpr std::uint32_t kZip64EndRecord = 0x06064B50;
constexpr std::uint32_t kZip64EndLocator = 0x07064B50;
constexpr std::uint32_t kZipEndRecord = 0x06054B50;
constexpr std::uint32_t kZipSizeInExtra = 0xFFFFFFFF;
// End records looked at after an archive's last local record before the
// search gives up: each costs a window read.
constexpr std::uint64_t kZipMostEndRecords = 64;
// The compression methods the format names: stored, the early ones (shrunk,
// reduced, imploded, tokenized), deflated, deflate64, the old terse ones,
// bzip2, LZMA, the IBM ones, zstd, MP3, xz, JPEG, WavPack, PPMd and AES.
constexpr std::array<std::uint16_t, 23> kZipMethods = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 12,
                                                       14, 16, 18, 19, 20, 93, 94, 95, 96, 97, 98};
constexpr std::uint16_t kZipAesMethod = 99;
// An MRW file's picture description block, "\0PRD", the first in its MRM
// block; the blocks of an MRM block are a handful.
constexpr std::uint32_t kMrwPictureDescription = 0x00505244;
constexpr std::uint64_t kMrwMostBlocks = 64;
// A longer entry name is no writer's.
constexpr std::uint16_t kZipLongestName = 4096;

// Whether the local header the archive begins with is one: a method the
// format names and a name of characters (no control character or NUL, as
// each writer spells names) that the header's length holds.
bool zipLocalHeaderStands(BoundedCursor& cursor) {
    const platform::ByteView header = cursor.at(0, 30);
    const std::uint16_t method = header.le16(8), nameLength = header.le16(26);
    if (header.empty() || nameLength == 0 || nameLength > kZipLongestName) return false;
    if (method != kZipAesMethod && std::find(kZipMethods.begin(), kZipMethods.end(), method) == kZipMethods.end())
        return false;
    const platform::ByteView name = cursor.at(30, nameLength);
    if (name.size() != nameLength) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (name.u8(i) < 0x20 || name.u8(i) == 0x7F) return false;
    return true;
}

// How far a ZIP archive's records lead from one to the next: each local
// header by its sizes to the next local header or the central directory,
// whose records lead by their lengths to the end record.
struct ZipWalk {
    // Where the last record that the one before it led to begins.
    std::uint64_t checked = 0;
    // Where the records stop leading on: where the walk looked for the next
    // record and found none, or where the data begins of one whose end
    // cannot be read or found.
    std::uint64_t reached = 0;
    // The local records walked.
    std::uint64_t localRecords = 0;
    // Where the central directory begins, when the local records led to it.
    std::optional<std::uint64_t> centralStart;
    // Past the end record and its comment, when the walk reached it.
    std::optional<std::uint64_t> end;
    // What the names of the local records walked show of an Office Open XML
    // package: its content types, and the parts of a Word document, a
    // workbook or a presentation.
    bool contentTypes = false;
    bool wordParts = false;
    bool workbookParts = false;
    bool slideParts = false;
};

// The compressed size of the entry whose local header is `header`: its
// field, or the Zip64 extra field's when the field says so.
std::uint64_t zipCompressedSize(BoundedCursor& cursor, std::uint64_t at, platform::ByteView header) {
    const std::uint32_t size = header.le32(18);
    if (size != kZipSizeInExtra) return size;
    const std::uint64_t extraStart = at + 30 + header.le16(26);
    const std::uint16_t extraLength = header.le16(28);
    for (std::uint64_t field = extraStart; field + 4 <= extraStart + extraLength;) {
        const platform::ByteView head = cursor.at(field, 4);
        if (head.empty()) break;
        // The Zip64 field holds the original size, then the compressed one.
        if (head.le16(0) == 1 && head.le16(2) >= 16) return cursor.at(field + 12, 8).le64(0);
        field += 4 + std::uint64_t{head.le16(2)};
    }
    return UINT64_MAX;
}

// Where the data descriptor ends of an entry whose sizes follow its data
// from `data` on: at the first descriptor, or record after one without its
// signature, whose compressed size counts the bytes from `data` to it;
// nothing when none begins in the windows below `windowBound` sectors.
std::optional<std::uint64_t> zipDescriptorEnd(RecogniserMedium& medium, std::uint64_t data, std::uint64_t windowBound) {
    const std::uint32_t bps = medium.bytesPerSector();
    const std::size_t searched = std::size_t{kWindowStep} * bps;
    BoundedCursor cursor = medium.cursor(kWindowSectors);
    BoundedCursor fields = medium.cursor();
    for (std::uint64_t w = data / bps; w < windowBound && !medium.stopped(); w += kWindowStep) {
        if (!cursor.holdsSector(w)) break;
        const platform::ByteView window = cursor.sectors(w, kWindowSectors);
        if (window.empty()) break;
        const std::uint64_t windowStart = w * bps;
        for (std::size_t at = data > windowStart ? static_cast<std::size_t>(data - windowStart) : 0; at < searched;
             ++at) {
            const void* p = std::memchr(window.data() + at, 'P', searched - at);
            if (p == nullptr) break;
            at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - window.data());
            const std::uint32_t signature = window.le32(at);
            const std::uint64_t position = windowStart + at, length = position - data;
            if (signature == kZipDataDescriptor) {
                const platform::ByteView d = fields.at(position, 24);
                if (d.le32(8) == length) return position + 16;
                if (d.le64(8) == length) return position + 24;
            } else if (signature == kZipLocalHeader || signature == kZipCentralHeader) {
                if (length >= 12 && fields.at(position - 8, 4).le32(0) == length - 12) return position;
                if (length >= 20 && fields.at(position - 16, 8).le64(0) == length - 20) return position;
            }
        }
    }
    return std::nullopt;
}

// The offset of the local header that the central header `header` at `at`
// names: its field, or the Zip64 extra field's when the field says so, past
// the sizes that field holds for the size fields that say so too.
std::uint64_t zipNamedLocalOffset(BoundedCursor& cursor, std::uint64_t at, platform::ByteView header) {
    const std::uint32_t offset = header.le32(42);
    if (offset != kZipSizeInExtra) return offset;
    const std::uint64_t sizes =
        (header.le32(24) == kZipSizeInExtra ? 8u : 0u) + (header.le32(20) == kZipSizeInExtra ? 8u : 0u);
    const std::uint64_t extraStart = at + 46 + header.le16(28);
    const std::uint16_t extraLength = header.le16(30);
    for (std::uint64_t field = extraStart; field + 4 <= extraStart + extraLength;) {
        const platform::ByteView head = cursor.at(field, 4);
        if (head.empty()) break;
        if (head.le16(0) == 1 && head.le16(2) >= sizes + 8) return cursor.at(field + 4 + sizes, 8).le64(0);
        field += 4 + std::uint64_t{head.le16(2)};
    }
    return UINT64_MAX;
}

// Whether the central directory the walk reached, from its start to
// `centralEnd`, is the archive's own though its end record places it at
// `centralOffset`, further on: the archive's offsets count bytes written
// before it, as those of a self-extracting archive count its program (`zip
// -A` writes them so). It is when it fills the `centralBytes` its end record
// gives it, right before that record, and names each local record of the
// archive once, by the record's own name, at the one shift by which the end
// record places the directory. Another archive's directory, begun inside
// this one's records, names none of the records before its own.
bool zipDirectoryAtShift(RecogniserMedium& medium, const ZipWalk& walk, std::uint64_t centralOffset,
                         std::uint64_t centralBytes, std::uint64_t centralEnd) {
    const std::uint64_t start = *walk.centralStart;
    if (centralOffset <= start || centralEnd - start != centralBytes) return false;
    const std::uint64_t shift = centralOffset - start;
    BoundedCursor directory = medium.cursor();
    BoundedCursor records = medium.cursor();
    std::vector<std::uint64_t> named;
    for (std::uint64_t at = start; at < centralEnd && !medium.stopped();) {
        const platform::ByteView header = directory.at(at, 46);
        // A digital signature may end the directory.
        if (header.empty() || header.le32(0) != kZipCentralHeader) break;
        if (named.size() == walk.localRecords) return false;
        const std::uint16_t nameLength = header.le16(28);
        const std::uint64_t next = at + 46 + nameLength + header.le16(30) + header.le16(32);
        const std::uint64_t offset = zipNamedLocalOffset(directory, at, header);
        if (offset < shift || offset - shift >= start) return false;
        const std::uint64_t local = offset - shift;
        const platform::ByteView own = records.at(local, 30);
        if (own.empty() || own.le32(0) != kZipLocalHeader || own.le16(26) != nameLength) return false;
        const platform::ByteView name = directory.at(at + 46, nameLength);
        const platform::ByteView ownName = records.at(local + 30, nameLength);
        if (name.size() != nameLength || ownName.size() != nameLength ||
            !std::equal(name.data(), name.data() + nameLength, ownName.data()))
            return false;
        named.push_back(local);
        at = next;
    }
    if (medium.stopped() || named.size() != walk.localRecords) return false;
    std::sort(named.begin(), named.end());
    return std::adjacent_find(named.begin(), named.end()) == named.end();
}

std::string_view asText(platform::ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// `windowBound`: how far the data descriptors are looked for, in sectors.
ZipWalk walkZipRecords(RecogniserMedium& medium, std::uint64_t windowBound) {
    BoundedCursor cursor = medium.cursor();
    ZipWalk walk;
    const auto signatureAt = [&](std::uint64_t at) { return cursor.at(at, 4).le32(0); };
    // The walk ends where it stands: the record looked for at `at` is not there.
    const auto brokenAt = [&](std::uint64_t at) {
        walk.reached = at;
        return walk;
    };
    BoundedCursor names = medium.cursor();
    std::uint64_t at = 0;
    while (!medium.stopped()) {
        const platform::ByteView header = cursor.at(at, 30);
        if (header.empty() || header.le32(0) != kZipLocalHeader) break;
        ++walk.localRecords;
        const std::string_view name = asText(names.at(at + 30, header.le16(26)));
        walk.contentTypes = walk.contentTypes || name == "[Content_Types].xml";
        walk.wordParts = walk.wordParts || name.starts_with("word/");
        walk.workbookParts = walk.workbookParts || name.starts_with("xl/");
        walk.slideParts = walk.slideParts || name.starts_with("ppt/");
        const std::uint64_t data = at + 30 + header.le16(26) + header.le16(28);
        const std::uint64_t size = zipCompressedSize(cursor, at, header);
        std::optional<std::uint64_t> next;
        // Sizes that follow the data leave the header's zero; some writers
        // fill in both.
        if ((header.le16(6) & 8) != 0 && size == 0)
            next = zipDescriptorEnd(medium, data, windowBound);
        else if (size <= medium.readableBytes() - std::min(data, medium.readableBytes()))
            next = data + size;
        if (next && (header.le16(6) & 8) != 0 && size != 0) *next += signatureAt(*next) == kZipDataDescriptor ? 16 : 12;
        if (!next) return brokenAt(std::min(data, medium.readableBytes()));
        const std::uint32_t signature = signatureAt(*next);
        if (signature != kZipLocalHeader && signature != kZipCentralHeader && signature != kZip64EndRecord &&
            signature != kZipEndRecord)
            return brokenAt(*next);
        walk.checked = at = *next;
    }
    walk.centralStart = at;
    while (!medium.stopped()) {
        const platform::ByteView header = cursor.at(at, 46);
        if (header.empty() || header.le32(0) != kZipCentralHeader) break;
        at += 46 + std::uint64_t{header.le16(28)} + header.le16(30) + header.le16(32);
        const std::uint32_t signature = signatureAt(at);
        if (signature != kZipCentralHeader && signature != kZipDigitalSignature && signature != kZip64EndRecord &&
            signature != kZipEndRecord)
            return brokenAt(at);
        walk.checked = at;
    }
    if (signatureAt(at) == kZipDigitalSignature) at += 6 + std::uint64_t{cursor.at(at, 6).le16(4)};
    const std::uint64_t centralEnd = at;
    // Where the central directory begins, counted from the archive's first
    // byte, and its length, as the end records give them.
    std::uint64_t centralOffset = UINT64_MAX, centralBytes = UINT64_MAX;
    if (signatureAt(at) == kZip64EndRecord) {
        const platform::ByteView zip64 = cursor.at(at, 56);
        const std::uint64_t length = zip64.le64(4);
        if (zip64.empty() || length > medium.readableBytes()) return brokenAt(at);
        centralBytes = zip64.le64(40);
        centralOffset = zip64.le64(48);
        at += 12 + length;
        if (signatureAt(at) != kZip64EndLocator) return brokenAt(at);
        at += 20;
    }
    const platform::ByteView record = cursor.at(at, 22);
    if (record.empty() || record.le32(0) != kZipEndRecord) return brokenAt(at);
    if (record.le32(16) != kZipSizeInExtra) centralOffset = record.le32(16);
    if (record.le32(12) != kZipSizeInExtra) centralBytes = record.le32(12);
    const std::uint64_t endRecord = at, comment = record.le16(20);
    // An end record whose central directory lies elsewhere is that of an
    // archive that began inside this one's records: this one's first
    // fragment was followed by another archive at a record's end. This
    // one's records are its own up to where the other began. Unless the
    // directory is this one's, its offsets counting bytes before it.
    if (centralOffset != *walk.centralStart &&
        !zipDirectoryAtShift(medium, walk, centralOffset, centralBytes, centralEnd)) {
        const std::uint64_t other = centralOffset <= *walk.centralStart ? *walk.centralStart - centralOffset : 0;
        walk.checked = std::min(walk.checked, other != 0 ? other : *walk.centralStart);
        return brokenAt(other != 0 ? other : *walk.centralStart);
    }
    walk.end = walk.checked = walk.reached = endRecord + 22 + comment;
    return walk;
}

// The end of an archive whose local records are all followed by bytes that
// are no record, before its central directory: a block that the archive's
// format leaves to its writers, such as the signing block of an Android
// package. The first end record after the records walked that counts as
// many entries as they are, and whose central directory ends right before
// it, starting past them, is the archive's; nothing when there is none.
std::optional<std::uint64_t> zipEndAfterGap(RecogniserMedium& medium, std::uint64_t windowBound, const ZipWalk& walk) {
    if (walk.centralStart || walk.localRecords == 0) return std::nullopt;
    BoundedCursor cursor = medium.cursor();
    const auto anyRecord = [](platform::ByteView, std::size_t, const std::array<std::uint8_t, 2>&) { return true; };
    for (std::uint64_t from = walk.reached, records = 0; records < kZipMostEndRecords; ++records) {
        const std::optional<std::uint64_t> at = findMarker(medium, windowBound, "PK\x05\x06", anyRecord, from);
        if (!at) return std::nullopt;
        const platform::ByteView record = cursor.at(*at, 22);
        const std::uint64_t centralOffset = record.le32(16), centralBytes = record.le32(12);
        if (record.le16(10) == walk.localRecords && centralOffset >= walk.reached &&
            centralOffset + centralBytes == *at && cursor.at(centralOffset, 4).le32(0) == kZipCentralHeader)
            return *at + 22 + record.le16(20);
        from = *at + 1;
    }
    return std::nullopt;
}

// The kinds of document an archive may hold, each by the extension the
// file-type list names it with: an OpenDocument or EPUB by the "mimetype"
// entry it begins with, stored, and an Office Open XML package by its
// content types and the parts of its document. A workbook and a
// presentation are told apart from a Word document, though the list has no
// row for them.
constexpr std::array<std::pair<std::string_view, std::string_view>, 5> kZipMimeTypes = {{
    {"application/vnd.oasis.opendocument.text", "odt"},
    {"application/vnd.oasis.opendocument.spreadsheet", "ods"},
    {"application/vnd.oasis.opendocument.presentation", "odp"},
    {"application/vnd.oasis.opendocument.graphics", "odg"},
    {"application/epub+zip", "epub"},
}};
// The kinds the list has rows for: a row of one of them takes only
// archives of its kind, and the archive's own row names them so.
constexpr std::array<std::string_view, 6> kZipListedKinds = {"docx", "odt", "ods", "odp", "odg", "epub"};

bool isListedZipKind(std::string_view kind) {
    return std::find(kZipListedKinds.begin(), kZipListedKinds.end(), kind) != kZipListedKinds.end();
}

// The kind of document the archive is; empty when it is none of them.
std::string_view zipDocumentKind(BoundedCursor& cursor, const ZipWalk& walk) {
    if (walk.contentTypes && walk.wordParts) return "docx";
    if (walk.contentTypes && walk.workbookParts) return "xlsx";
    if (walk.contentTypes && walk.slideParts) return "pptx";
    const platform::ByteView header = cursor.at(0, 30);
    const std::uint16_t nameLength = header.le16(26), extraLength = header.le16(28);
    if (header.empty() || header.le16(8) != 0 || asText(cursor.at(30, nameLength)) != "mimetype") return {};
    const std::string_view type = asText(cursor.bytes(30 + std::uint64_t{nameLength} + extraLength, 64));
    for (const auto& [mime, kind] : kZipMimeTypes)
        if (type.starts_with(mime)) return kind;
    return {};
}

bool isRarBlockType(std::uint8_t type) {
    return type >= 0x72 && type <= 0x7B;
}

// The number that starts `text`, as a written width or height: blanks, a
// sign, then digits up to the first other character.
std::optional<std::int32_t> leadingInteger(std::string_view text) {
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()) return std::nullopt;
    return value;
}

struct RtfPicture {
    std::string name;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// One picture reference, the text between "NeXTGraphic " and the line end
// before its closing brace: "name \widthW \heightH", sizes in twips. Nothing
// when a part is missing or a size is not a number.
std::optional<RtfPicture> parseRtfPicture(std::string_view entry) {
    constexpr std::string_view kSeparator = " \\";
    const auto first = entry.find(kSeparator);
    if (first == std::string_view::npos) return std::nullopt;
    const auto second = entry.find(kSeparator, first + kSeparator.size());
    if (second == std::string_view::npos) return std::nullopt;
    const std::string_view widthPart = entry.substr(first + kSeparator.size(), second - first - kSeparator.size());
    std::string_view heightPart = entry.substr(second + kSeparator.size());
    heightPart = heightPart.substr(0, heightPart.find(kSeparator));
    constexpr std::size_t kWidthWord = 5, kHeightWord = 6; // "width", "height"
    if (widthPart.size() <= kWidthWord || heightPart.size() <= kHeightWord) return std::nullopt;
    const auto width = leadingInteger(widthPart.substr(kWidthWord));
    const auto height = leadingInteger(heightPart.substr(kHeightWord));
    if (!width || !height) return std::nullopt;
    // Twips to points.
    return RtfPicture{std::string(entry.substr(0, first)), *width / 20, *height / 20};
}

// The document's text: its bytes up to the first NUL (RTF is plain text), at
// most `limit` of them. Bytes that are not ASCII count as one character each.
// The zeros of a sector the medium could not give are no NUL: they hold the
// place of text lost, and the text goes on after them.
std::string readRtfText(RecogniserMedium& medium, std::uint64_t limit) {
    std::string text;
    const std::size_t bps = medium.bytesPerSector();
    BoundedCursor cursor = medium.cursor(kRtfReadSectors);
    const std::uint64_t chunkBytes = std::uint64_t{kRtfReadSectors} * bps;
    for (std::uint64_t sector = 0; text.size() < limit && !medium.stopped(); sector += kRtfReadSectors) {
        if (!cursor.holdsSector(sector)) break;
        const platform::ByteView chunk = cursor.sectors(sector, kRtfReadSectors);
        if (chunk.empty()) break;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes, limit - text.size()));
        const std::uint8_t* nul = nullptr;
        for (std::size_t from = 0; from < take;) {
            const auto* zero = static_cast<const std::uint8_t*>(std::memchr(chunk.data() + from, 0, take - from));
            if (!zero) break;
            const auto at = static_cast<std::size_t>(zero - chunk.data());
            if (!cursor.unreadable(sector * bps + at, 1)) {
                nul = zero;
                break;
            }
            from = (at / bps + 1) * bps;
        }
        text.append(reinterpret_cast<const char*>(chunk.data()),
                    nul ? static_cast<std::size_t>(nul - chunk.data()) : take);
        if (nul) break;
    }
    return text;
}

} // namespace

bool DocumentRecognisers::checkZIP_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    if (medium.bytesPerSector() == 0) return false;
    // The end of the central directory lies within half the size limit.
    const std::uint64_t bound = sig.sizeLimitBytes() / medium.bytesPerSector() / 2 + kWindowStep;
    // The archive's records, followed from its first, give its length
    // surely: the first end record found further on may be that of an
    // archive stored in it, or another's after this one's first fragment.
    // Only as far as they lead is the archive jumped over.
    const ZipWalk walk = walkZipRecords(medium, bound);
    // A format kept in an archive is found by its first entry's name or
    // content: the archive's local header comes first. A walk whose first
    // header is none read nothing of an archive past its signature.
    if (walk.localRecords == 0) return false;
    BoundedCursor header = medium.cursor();
    // A row of a kind of document takes only archives of that kind (another
    // row, the archive's own, takes the others); the archive's own row names
    // the kinds the list has rows for, and leaves the others a ZIP archive.
    const std::string row = sig.extension;
    const std::string_view kind = zipDocumentKind(header, walk);
    if (isListedZipKind(row) && kind != row) return false;
    const std::string named = row == "zip" && isListedZipKind(kind) ? std::string(kind) : row;
    const bool stands = zipLocalHeaderStands(header);
    if (walk.end) {
        medium.acceptJumpable(sig, *walk.end, stands ? *walk.end : 0);
    } else if (const std::optional<std::uint64_t> end = zipEndAfterGap(medium, bound, walk)) {
        medium.acceptJumpable(sig, *end, stands ? walk.reached : 0);
    } else {
        // Records that break off before an end record of their own: the
        // first fragment of an archive, another file's sectors after it.
        medium.acceptCut(sig, walk.reached, stands ? walk.reached : 0);
    }
    sig.extension = named;
    return true;
}

bool DocumentRecognisers::checkPDF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    if (medium.bytesPerSector() == 0) return false;
    const std::uint64_t bound = sig.sizeLimitBytes() / medium.bytesPerSector() + kWindowStep;
    // "%%EOF" at the start of a line.
    const auto atLineStart = [](platform::ByteView window, std::size_t at, const std::array<std::uint8_t, 2>& before) {
        const std::uint8_t lineEnd = at >= 1 ? window.u8(at - 1) : before[1];
        return lineEnd == '\r' || lineEnd == '\n';
    };
    BoundedCursor cursor = medium.cursor();
    BoundedCursor xrefs = medium.cursor();
    // A header that gives the version, "%PDF-d.d": the document's structure
    // past its signature.
    const platform::ByteView version = cursor.at(4, 4);
    const auto digit = [](std::uint8_t c) { return c >= '0' && c <= '9'; };
    const bool stands = version.size() == 4 && version.u8(0) == '-' && digit(version.u8(1)) && version.u8(2) == '.' &&
                        digit(version.u8(3));
    // The file ends after the line break that follows its last marker: an
    // update appended to the document has a marker of its own, as has the
    // first page of a linearized one (whose "startxref" gives 0), and an
    // embedded file's may stand inside it. The document ends at a marker of
    // its own (pdfOwnMarker) that nothing of it follows.
    std::optional<std::uint64_t> end;
    bool ended = false;
    for (std::uint64_t from = 0, markers = 0; markers < kPdfMostMarkers && !ended; ++markers) {
        const auto marker = findMarker(medium, bound, "%%EOF", atLineStart, from);
        if (!marker) break;
        std::uint64_t after = *marker + 5;
        const platform::ByteView lineBreak = cursor.at(after, 2);
        if (lineBreak.size() == 2 && lineBreak.u8(0) == '\r') after += lineBreak.u8(1) == '\n' ? 2 : 1;
        if (lineBreak.size() == 2 && lineBreak.u8(0) == '\n') after += 1;
        // A marker not the document's (a first page's, another document's,
        // or one inside an embedded file) ends nothing: the search goes on
        // to the next.
        end = pdfOwnMarker(cursor, xrefs, *marker, from) ? std::optional(after) : std::nullopt;
        ended = end && !pdfGoesOn(cursor.at(after, kPdfLookAhead));
        from = after;
    }
    // Nothing but the markers ties the document's bytes to its first
    // sectors, and the search looks at them again; its sections, which its
    // marker names, are its own up to it.
    if (ended && end) {
        medium.acceptJumpable(sig, *end, stands ? *end : 0);
        medium.jumpNoFurtherThan(sig, 0);
        return true;
    }
    // A document whose marker is gone, or names no section of its own: its
    // first fragment, another file's sectors after it.
    const std::uint64_t objects = pdfObjectsEnd(medium, bound);
    medium.acceptCut(sig, objects, stands ? objects : 0);
    return true;
}

bool DocumentRecognisers::checkRAR_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView marker = cursor.at(0, 10);
    if (marker.empty()) return false;
    // The 7-byte marker block, then blocks of CRC (2), type (1), flags (2) and
    // header size (2), with a 32-bit data size after them in a long block.
    std::uint64_t position = 7;
    // The block headers read; the last block's data nothing leads past
    // unless the archive's end block follows it.
    std::uint64_t read = 7;
    std::uint8_t type = marker.u8(9);
    while (isRarBlockType(type) && !medium.stopped()) {
        const platform::ByteView header = cursor.at(position, 7);
        if (header.empty()) break;
        type = header.u8(2);
        if (!isRarBlockType(type)) {
            sig.skipFileSize = false;
            return false;
        }
        const std::uint16_t headerSize = header.le16(5);
        const bool longBlock = (header.u8(4) & 0x80) != 0;
        std::uint64_t dataSize = 0;
        if (longBlock) {
            const platform::ByteView added = cursor.at(position + 7, 4);
            if (added.empty()) break;
            dataSize = added.le32(0);
        }
        const std::uint64_t next = platform::saturatingAdd(position, headerSize + dataSize);
        if (next == position) break;
        read = type == 0x7B ? next : platform::saturatingAdd(position, headerSize);
        position = next;
        if (type == 0x7B || (headerSize == 0 && !longBlock)) break;
    }
    medium.acceptJumpable(sig, position, read);
    return true;
}

bool DocumentRecognisers::checkRTF_FileAtBlock(std::uint64_t block, Sig& sig) {
    sig.skipSize = 0;
    RecogniserMedium medium(volume_, block, sig, probe_);
    const std::uint64_t limit =
        sig.sizeLimitBytes() != 0 ? medium.readableBytes() : std::min(medium.readableBytes(), kRtfTextLimit);
    std::string text = readRtfText(medium, limit);
    if (text.empty()) return false;
    // The document ends with its closing brace.
    if (const auto close = text.rfind('}'); close != std::string::npos) text.resize(close + 1);
    // Only a document that names pictures takes the list: entries still
    // pending from an earlier package are not this document's, and would
    // make a plain document a package.
    const bool pictures = listRtfPictures(text) && !search_.rtfdArray.empty();
    // The text is read to its end.
    medium.acceptListed(sig, text.size(), text.size());
    if (pictures) {
        // A count of pictures, not of sectors: the search does not jump.
        sig.skipSize = search_.rtfdArray.size();
        search_.lookForRtfAttachments = true;
    }
    return true;
}

bool DocumentRecognisers::listRtfPictures(const std::string& text) {
    constexpr std::string_view kTag = "NeXTGraphic";
    const auto sameLetter = [](char a, char b) { return asciiLower(a) == asciiLower(b); };
    std::vector<RtfPicture> pictures;
    bool seen = false;
    for (auto at = text.begin();; at += kTag.size()) {
        at = std::search(at, text.end(), kTag.begin(), kTag.end(), sameLetter);
        if (at == text.end()) break;
        // A new package: the pictures still expected from the last one are
        // given up.
        if (!seen) search_.rtfdArray.clear();
        seen = true;
        const auto start = static_cast<std::size_t>(at - text.begin());
        const auto close = text.find('}', start);
        if (close == std::string::npos) break;
        // Past the tag and its space, up to the line end before the brace.
        const std::size_t from = start + kTag.size() + 1;
        if (close < from + 1) continue;
        if (auto picture = parseRtfPicture(std::string_view(text).substr(from, close - 1 - from)))
            pictures.push_back(std::move(*picture));
    }
    for (const RtfPicture& picture : pictures) {
        std::string name = picture.name;
        std::erase(name, '\\');
        const auto dot = name.rfind('.');
        if (dot == std::string::npos || !RtfGraphics::isSupportedRTFGraphic(std::string_view(name).substr(dot + 1)))
            continue;
        const bool listed = std::any_of(search_.rtfdArray.begin(), search_.rtfdArray.end(), [&](const auto& entry) {
            return entry.dictValue().get("RTF Graphics Object Filename").stringValue() == name;
        });
        if (listed) continue;
        search_.rtfdArray.push_back(platform::Dict{{"RTF Graphics Object Filename", name},
                                                   {"RTF Graphics Object Width", picture.width},
                                                   {"RTF Graphics Object Height", picture.height}});
    }
    return seen;
}

bool DocumentRecognisers::checkMSOFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView header = cursor.at(0, 52);
    if (header.empty()) return false;
    const std::uint32_t fatSectors = header.le32(44);
    // The directory is taken to follow a one-sector header in sectors of the
    // device's size.
    const std::uint64_t directory = (std::uint64_t{header.le32(48)} + 1) * medium.bytesPerSector();
    using namespace std::string_view_literals;
    if (!spells(cursor.at(directory, 8), "R\0o\0o\0t\0"sv)) return false;
    std::string extension = "ppt";
    for (std::uint64_t entry = 0; entry < 4; ++entry) {
        const platform::ByteView name = cursor.at(directory + entry * 128, 8);
        if (spells(name, "W\0o\0r\0d\0"sv)) {
            extension = "doc";
            break;
        }
        if (spells(name, "W\0o\0r\0k\0"sv)) {
            extension = "xls";
            break;
        }
    }
    sig.extension = extension;
    // The most that the FAT sectors can map, and the header: a bound, read
    // no further than the directory's first entries.
    medium.acceptEstimated(sig, platform::saturatingMul(std::uint64_t{fatSectors} * 128 + 1, medium.bytesPerSector()),
                           directory + 4 * 128);
    return true;
}

bool DocumentRecognisers::checkMRWFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView header = cursor.at(0, 33);
    if (header.empty()) return false;
    // The MRM block (its length after its 8-byte head), then the raw sensor
    // data: height x width pixels of the PRD block's bit depth.
    const std::uint64_t bits = std::uint64_t{header.be16(24)} * header.be16(26) * header.u8(32);
    const std::uint64_t mrmEnd = std::uint64_t{header.be32(4)} + 8;
    // The MRM block's blocks, the picture description (PRD) first, each
    // leading by its length to the next: the file's structure as far as
    // they lead, all of it when they lead to the block's end. Without the
    // PRD block first, nothing past the file's signature is read.
    std::uint64_t read = 0;
    if (header.be32(8) == kMrwPictureDescription) {
        BoundedCursor blocks = medium.cursor();
        std::uint64_t at = 8;
        for (std::uint64_t count = 0; at < mrmEnd && count < kMrwMostBlocks && !medium.stopped(); ++count) {
            const platform::ByteView head = blocks.at(at, 8);
            if (head.empty() || head.u8(0) != 0) break;
            read = at + 8;
            at = platform::saturatingAdd(read, head.be32(4));
        }
        if (at == mrmEnd) read = mrmEnd;
    }
    medium.acceptListed(sig, mrmEnd + (bits + 7) / 8, read);
    return true;
}

bool DocumentRecognisers::checkCompressFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor(1);
    const platform::ByteView head = cursor.at(0, 3 + kCompressCodesVouching * 9 / 8 + 4);
    if (head.empty()) return false;
    // The flags byte: two reserved bits clear and 9 to 16 bits a code.
    const std::uint8_t flags = head.u8(2);
    const std::uint32_t maxBits = flags & 0x1F;
    if ((flags & 0x60) != 0 || maxBits < 9 || maxBits > 16) return false;
    // The first codes, nine bits each from the lowest: the first is a byte
    // of the file, each later one a byte or an entry made so far, or the one
    // about to be made (entries start at 257 when 256 clears the table in
    // block mode).
    const std::uint32_t firstEntry = (flags & 0x80) != 0 ? 257 : 256;
    const auto codeHolds = [&](std::uint32_t i) {
        const std::uint32_t bit = 9 * i;
        const std::uint32_t code = head.le32(3 + bit / 8) >> (bit % 8) & 0x1FF;
        return code <= (i == 0 ? 255 : firstEntry + i - 1) && (code != 256 || firstEntry != 257);
    };
    std::uint32_t held = 0;
    while (held < kCompressCodesVouching && codeHolds(held))
        ++held;
    if (held < kCompressCodesTested) return false;
    // The codes run to the file's end with no record of it: no length.
    medium.acceptEstimated(sig, 0, held == kCompressCodesVouching ? head.size() : 0);
    return true;
}

bool DocumentRecognisers::checkARJFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    bool archiveEnd = false;
    // The main header's CRC is the test; each file after it is a header and
    // its compressed bytes, up to the end-of-archive header.
    auto next = arjHeaderEnd(cursor, 0, archiveEnd);
    if (!next || archiveEnd) return false;
    std::uint64_t end = *next;
    // The headers read; a file's compressed bytes nothing leads past unless
    // a header follows them.
    std::uint64_t read = end;
    while (!archiveEnd && !medium.stopped()) {
        // The basic part holds the compressed size at its 12th byte.
        const platform::ByteView basic = cursor.at(end + 4, 16);
        const std::uint64_t compressed = basic.empty() ? 0 : basic.le32(12);
        const auto after = arjHeaderEnd(cursor, end, archiveEnd);
        if (!after) break;
        read = *after;
        end = archiveEnd ? *after : platform::saturatingAdd(*after, compressed);
    }
    medium.acceptJumpable(sig, end, read);
    return true;
}

bool DocumentRecognisers::checkEXEFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView dos = cursor.at(0, 64);
    if (dos.empty()) return false;
    // A Windows program: its DOS header points to the "PE\0\0" header.
    const std::uint32_t pe = dos.le32(0x3C);
    if (pe < 64 || pe > kMaxPeOffset) return false;
    const platform::ByteView coff = cursor.at(pe, 24);
    if (coff.empty() || coff.be32(0) != 0x50450000) return false;
    const std::uint16_t sections = coff.le16(6), optionalBytes = coff.le16(20);
    if (sections > kMaxPeSections) return false;
    // The file runs to the furthest section data, or to the certificate
    // table (a file position) behind them.
    const std::uint64_t table = std::uint64_t{pe} + 24 + optionalBytes;
    std::uint64_t end = table + 40 * std::uint64_t{sections};
    const platform::ByteView optional = cursor.at(pe + 24, optionalBytes);
    const std::uint16_t magic = optional.size() >= 2 ? optional.le16(0) : 0;
    const std::size_t directories = magic == 0x20B ? 112 : 96;
    if ((magic == 0x10B || magic == 0x20B) && optional.size() >= directories + 40 &&
        optional.le32(directories - 4) > 4) {
        const std::uint32_t certificates = optional.le32(directories + 32),
                            certificateBytes = optional.le32(directories + 36);
        if (certificateBytes != 0) end = std::max(end, std::uint64_t{certificates} + certificateBytes);
    }
    // The headers and the section table are read; the sections, which begin
    // where the table puts them, are the program's own parts.
    const std::uint64_t read = end;
    std::vector<std::uint64_t> sectionSectors;
    for (std::uint16_t i = 0; i < sections; ++i) {
        const platform::ByteView section = cursor.at(table + 40 * std::uint64_t{i}, 40);
        if (section.empty()) break;
        if (section.le32(16) != 0) end = std::max(end, std::uint64_t{section.le32(20)} + section.le32(16));
        if (section.le32(16) != 0 && medium.bytesPerSector() != 0 && section.le32(20) % medium.bytesPerSector() == 0)
            sectionSectors.push_back(section.le32(20) / medium.bytesPerSector());
    }
    medium.ownPartsBeginAt(std::move(sectionSectors));
    medium.acceptJumpable(sig, end, read);
    return true;
}
