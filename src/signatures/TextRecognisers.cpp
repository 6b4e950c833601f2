#include "signatures/TextRecognisers.h"

#include "platform/ByteView.h"
#include "signatures/FileStartProbe.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"

#include <algorithm>
#include <optional>
#include <string>

namespace {

// A document's conventions keep a line to 255 characters, and the kernel
// reads no more of a script's "#!" line than this.
constexpr std::size_t kFirstLineReach = 256;
constexpr std::uint32_t kTextWindowSectors = 64;
// The lines after a font's "cleartomark" that close it ("{restore}if"),
// and how long each may be.
constexpr int kFontClosingLines = 2;
constexpr std::size_t kFontClosingLineLength = 64;

bool isLineBreak(std::uint8_t c) {
    return c == '\n' || c == '\r';
}

bool isPrintable(std::uint8_t c) {
    return (c >= 0x20 && c < 0x7F) || c == '\t';
}

bool isPathCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
           c == '_' || c == '-' || c == '+';
}

// The bytes of a view as text.
std::string_view text(platform::ByteView bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The first line of `bytes`, without its line break; nothing when no line
// break ends it within the reach, or it holds what is not printable.
std::optional<std::string_view> firstLine(std::string_view bytes) {
    const std::size_t end = bytes.substr(0, kFirstLineReach).find_first_of("\r\n");
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view line = bytes.substr(0, end);
    if (!std::all_of(line.begin(), line.end(), [](char c) { return isPrintable(static_cast<std::uint8_t>(c)); }))
        return std::nullopt;
    return line;
}

// The end of the lines of a text that a marker opens ("%%EOF"), each line
// break after it and the short lines of printable text that close the file
// after the last (`closing` of them) included; the scan feeds it the text
// byte after byte.
class MarkedLines {
public:
    MarkedLines(std::string_view marker, int closing)
        : marker_(marker), closing_(closing), matched_(marker.empty() ? std::string_view::npos : 0) {}

    void feed(std::uint8_t c, std::uint64_t at) {
        if (isLineBreak(c)) {
            lastLineEnd_ = at + 1;
            const bool closes =
                inLine_ && closed_ >= 0 && closed_ < closing_ && clean_ && length_ <= kFontClosingLineLength;
            // A line break of two bytes ends the line it follows.
            const bool pair = c == '\n' && previous_ == '\r' && marked_ && end_ == at;
            if (onMarker_ || closes || pair) {
                closed_ += closes ? 1 : 0;
                end_ = at + 1;
            }
            previous_ = c;
            matched_ = marker_.empty() ? std::string_view::npos : 0;
            inLine_ = onMarker_ = false;
            clean_ = true;
            length_ = 0;
            return;
        }
        previous_ = c;
        inLine_ = true;
        clean_ = clean_ && isPrintable(c);
        ++length_;
        if (matched_ == std::string_view::npos) return;
        if (static_cast<char>(c) != marker_[matched_]) {
            matched_ = std::string_view::npos;
        } else if (++matched_ == marker_.size()) {
            onMarker_ = true;
            closed_ = 0;
            matched_ = std::string_view::npos;
            marked_ = true;
            end_ = at + 1;
        }
    }
    // Past the last marker's line; nothing when no line opened with it.
    std::optional<std::uint64_t> end() const { return marked_ ? std::optional(end_) : std::nullopt; }
    // Past the last line break fed; 0 before the first.
    std::uint64_t lastLineEnd() const { return lastLineEnd_; }

private:
    std::string_view marker_;
    int closing_;
    std::size_t matched_;
    bool inLine_ = false;
    bool onMarker_ = false;
    bool clean_ = true;
    std::size_t length_ = 0;
    // Lines closed after the last marker; -1 before the first.
    int closed_ = -1;
    bool marked_ = false;
    std::uint8_t previous_ = 0;
    std::uint64_t end_ = 0;
    std::uint64_t lastLineEnd_ = 0;
};

// Where a text that begins at the candidate's first byte stops: at its first
// byte `endsText` takes for no text, at the first sector past its first
// that `opensAnother` takes for the start of another file of the family or
// where the search's lookup lists a file, or at the readable bytes' end.
// Each byte before it goes to `lines`.
template <class EndsText, class OpensAnother>
std::uint64_t textEnd(RecogniserMedium& medium, FileStartProbe* probe, EndsText endsText, OpensAnother opensAnother,
                      MarkedLines& lines) {
    const std::uint32_t bps = medium.bytesPerSector();
    BoundedCursor cursor = medium.cursor(kTextWindowSectors);
    // The bytes of a sector's start that the window ends before.
    BoundedCursor starts = medium.cursor(4);
    std::uint64_t w = 0;
    for (; cursor.holdsSector(w) && !medium.stopped(); w += kTextWindowSectors) {
        const platform::ByteView window = cursor.sectors(w, kTextWindowSectors);
        if (window.empty()) return w * bps;
        for (std::size_t i = 0; i < window.size(); ++i) {
            const std::uint64_t at = w * bps + i;
            if (i % bps == 0 && at != 0) {
                if (!cursor.holdsSector(at / bps)) return medium.readableBytes();
                const platform::ByteView start = i + FileStartProbe::kProbedBytes <= window.size()
                                                     ? window.sub(i, FileStartProbe::kProbedBytes)
                                                     : starts.bytes(at, FileStartProbe::kProbedBytes);
                if (opensAnother(start) || (probe && probe->startsFile(medium.block() + at / bps, start))) return at;
            }
            const std::uint8_t c = window.u8(i);
            if (endsText(c)) return at;
            lines.feed(c, at);
        }
    }
    return std::min<std::uint64_t>(w * bps, medium.readableBytes());
}

} // namespace

std::string_view TextRecognisers::postScriptKind(std::string_view line) {
    if (line.starts_with("%!PS-AdobeFont") || line.starts_with("%!FontType1")) return "pfa";
    if (!line.starts_with("%!PS")) return {};
    // "%!PS" alone, or a version of the document conventions after it.
    const std::string_view rest = line.substr(4);
    if (!rest.empty() && rest.front() != '-' && rest.front() != ' ' && rest.front() != '\t') return {};
    const std::size_t epsf = line.find(" EPSF-");
    if (epsf != std::string_view::npos && epsf + 6 < line.size() && line[epsf + 6] >= '0' && line[epsf + 6] <= '9')
        return "eps";
    return "ps";
}

std::size_t TextRecognisers::interpreterLine(std::string_view bytes) {
    bytes = bytes.substr(0, kFirstLineReach);
    if (!bytes.starts_with("#!")) return 0;
    std::size_t at = 2;
    while (at < bytes.size() && (bytes[at] == ' ' || bytes[at] == '\t'))
        ++at;
    // An absolute path, not a folder's.
    const std::size_t path = at;
    if (at == bytes.size() || bytes[at] != '/') return 0;
    while (at < bytes.size() && isPathCharacter(bytes[at]))
        ++at;
    if (at - path < 3 || bytes[at - 1] == '/') return 0;
    // Its arguments after a blank.
    if (at < bytes.size() && (bytes[at] == ' ' || bytes[at] == '\t'))
        while (at < bytes.size() && isPrintable(static_cast<std::uint8_t>(bytes[at])))
            ++at;
    if (at < bytes.size() && bytes[at] == '\r') ++at;
    return at < bytes.size() && bytes[at] == '\n' ? at + 1 : 0;
}

bool TextRecognisers::checkPostScriptFileAtBlock(std::uint64_t block, Sig& sig) {
    // The rows of a picture's and a font's take only their own kind; the
    // document's row ("ps") takes all three and names each by its kind.
    const std::string row = sig.extension;
    const bool ofOneKind = row == "eps" || row == "pfa";
    RecogniserMedium medium(volume_, block, sig, probe_);
    if (medium.bytesPerSector() == 0) return false;
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView head =
        cursor.at(0, static_cast<std::size_t>(std::min<std::uint64_t>(kFirstLineReach, medium.readableBytes())));
    const std::optional<std::string_view> line = firstLine(text(head));
    const std::string kind(line ? postScriptKind(*line) : std::string_view());
    if (kind.empty() || (ofOneKind && row != kind)) return false;
    const std::uint64_t lineEnd = line->size() + 1;
    const bool font = kind == "pfa";
    MarkedLines lines(font ? "cleartomark" : "%%EOF", font ? kFontClosingLines : 0);
    const std::uint64_t end = textEnd(
        medium, probe_, [](std::uint8_t c) { return c == 0; },
        [](platform::ByteView start) {
            const std::optional<std::string_view> next = firstLine(text(start));
            return next && !postScriptKind(*next).empty();
        },
        lines);
    // Its last end line is its end, and the search, which was asked of
    // every sector before it, jumps there; a file without one (PostScript
    // needs none) runs as far as its text.
    if (lines.end() && *lines.end() <= end)
        medium.acceptJumpable(sig, *lines.end(), *lines.end());
    else
        medium.acceptEstimated(sig, std::max(end, lineEnd), lineEnd);
    sig.extension = kind;
    return true;
}

bool TextRecognisers::checkScriptFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    if (medium.bytesPerSector() == 0) return false;
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView head =
        cursor.at(0, static_cast<std::size_t>(std::min<std::uint64_t>(kFirstLineReach, medium.readableBytes())));
    const std::size_t lineEnd = interpreterLine(text(head));
    if (lineEnd == 0) return false;
    // Text: printable bytes, blanks, line and page breaks, the escapes of
    // coloured output and the bytes of UTF-8; any other control byte, or a
    // NUL, is no script's.
    // Its lines: where the text runs into bytes that are no text but not
    // zeros, what the medium held before them, the script ends with its
    // last line break.
    MarkedLines lines("", 0);
    bool junk = false;
    const std::uint64_t end = textEnd(
        medium, probe_,
        [&](std::uint8_t c) {
            const bool ends = (c < 0x20 && (c < '\t' || c > '\r') && c != 0x1B) || c == 0x7F;
            junk = ends && c != 0;
            return ends;
        },
        [](platform::ByteView start) { return interpreterLine(text(start)) != 0; }, lines);
    const std::uint64_t lastLine = lines.lastLineEnd();
    medium.acceptEstimated(sig, std::max<std::uint64_t>(junk && lastLine != 0 ? lastLine : end, lineEnd), lineEnd);
    return true;
}
