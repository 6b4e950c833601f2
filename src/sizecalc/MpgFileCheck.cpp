#include "sizecalc/MpgFileCheck.h"

#include "sizecalc/CarvingContext.h"
#include "walks/MpegVideoStreamWalk.h"

namespace {

constexpr std::uint32_t kPack = 0x1BA;
constexpr std::uint32_t kSequenceHeader = 0x1B3;
constexpr std::uint32_t kProgramEnd = 0x1B9;
constexpr std::uint32_t kGroupOfPictures = 0x1B8;
constexpr std::uint64_t kShortest = 10240;
constexpr std::uint64_t kLengthBound = 4294967280;
constexpr std::uint64_t kCappedLength = 62914560;
// How far a program stream may jump over bytes that are no packet.
constexpr std::uint64_t kProbeDistance = 11620;
constexpr std::uint32_t kDataRun = 50;
constexpr std::uint32_t kZeroRun = 100;
// Past sectors the medium could not give, the next pack lies within the
// longest packet.
constexpr std::uint64_t kPackReach = 65542;

// Where a program stream goes on: a pack, system header, the private and
// padding streams, or the first audio or video stream.
bool continuesProgram(std::uint32_t c) {
    return (c >= kPack && c <= 0x1C0) || c == 0x1DF || c == 0x1E0 || c == 0x1EF;
}

} // namespace

MpgFileCheck::MpgFileCheck(CarvingContext& context)
    : SizeCalculator("mpg", context), window_(context.fileCursor()), probe_(context.fileCursor()) {}

bool MpgFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint32_t code = leading.be32(0);
    bHeader0x1B3_ = code == kSequenceHeader;
    // A video stream measured last, whose end nothing marked, is not jumped
    // over: its sequence headers at sector starts begin no other stream.
    if (bHeader0x1B3_ && sectorNumber > walkedFrom_ && sectorNumber < walkedTo_) return false;
    return (code == kPack || code == kSequenceHeader) && isFileValidated(sectorNumber);
}

bool MpgFileCheck::isFileValidated(std::uint64_t sectorNumber) {
    window_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const platform::ByteView head = window_.bytes(0, 64);
    if (head.empty()) return false;
    for (std::uint32_t at = 4; at < 50; ++at) {
        const std::uint32_t c = head.be32(at);
        if (c == kGroupOfPictures || c == 0x1BB || c == 0x1BD || c == 0x1BE || c == 0x1BF || c == 0x1C0 || c == 0x1E0) {
            mpgFirstStartCodeOffset_ = at;
            return true;
        }
    }
    return false;
}

std::uint64_t MpgFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    context_.skipCarvedFileBlocks = false;
    context_.checkedBytes.reset();
    window_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    probe_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const std::uint64_t n = bHeader0x1B3_ ? videoStreamLength(sectorNumber) : programStreamLength();
    if (n > kLengthBound) return 0;
    // A stream holds no other file: the run need not look inside it again,
    // unless its end is an estimate, which may take in what follows it.
    context_.skipCarvedFileBlocks = n > kShortest && (!bHeader0x1B3_ || videoEndMarked_);
    return n;
}

std::uint64_t MpgFileCheck::videoStreamLength(std::uint64_t sectorNumber) {
    const MpegVideoStreamWalk::Measure stream =
        MpegVideoStreamWalk::measure(window_, [&] { return context_.stopped(); });
    videoEndMarked_ = stream.endMarked;
    // Past its last start code nothing checks that the bytes are the
    // stream's: the zeros or the structure that end it may follow another
    // file lying there.
    context_.checkedBytes = stream.structureEnd;
    // The sequence headers the stream repeats at sector starts, up to the
    // first sector its walk could not read, are the stream's own.
    const std::uint32_t bps = context_.bytesPerSector();
    walkedFrom_ = sectorNumber;
    walkedTo_ = sectorNumber + context_.reader().lostSector().jumpable((stream.structureEnd + bps - 1) / bps);
    return stream.length;
}

std::optional<std::uint64_t> MpgFileCheck::packAfterLoss(std::uint64_t n) {
    const std::optional<std::uint64_t> from = window_.readableFrom(n, kLengthBound);
    if (!from || *from > kLengthBound) return std::nullopt;
    const BoundedCursor::Found pack = probe_.findFourBytes(
        *from, *from + kPackReach,
        [&](std::uint64_t at, std::uint32_t code, std::uint32_t) {
            if (code != kPack) return false;
            const std::uint32_t next = window_.bytes(at + mpgFirstStartCodeOffset_, 4).be32(0);
            return continuesProgram(next) || (next >= 0x1BB && next <= 0x1EF);
        },
        [&] { return context_.stopped(); });
    if (pack.end != BoundedCursor::Search::Matched) return std::nullopt;
    return pack.offset;
}

std::uint64_t MpgFileCheck::programStreamLength() {
    std::uint64_t n = 0;
    bool running = true;
    bool searching = false;
    bool inData = true;
    std::uint32_t counter = 0;
    while (running && !context_.stopped()) {
        const platform::ByteView packet = window_.bytes(n, 6);
        if (packet.empty()) return 0;
        const std::uint32_t c = packet.be32(0);
        // Zeros of a sector that could not be read are no end of the stream,
        // nor a packet's length.
        if (c != kPack && window_.unreadable(n, 6))
            if (const std::optional<std::uint64_t> next = packAfterLoss(n)) {
                n = *next;
                searching = false;
                inData = true;
                counter = 0;
                continue;
            }
        if (c == kPack) {
            // Packs of one stream share their header's length.
            inData = true;
            searching = false;
            counter = 0;
            n += mpgFirstStartCodeOffset_;
        } else if (c >= 0x1BB && c <= 0x1EF) {
            searching = false;
            inData = true;
            counter = 0;
            n += std::uint64_t{packet.be16(4)} + 6;
        } else if (c == kProgramEnd) {
            n += 4;
            const platform::ByteView next = window_.bytes(n, 4);
            if (next.empty()) return 0;
            running = continuesProgram(next.be32(0));
        } else if (!searching) {
            // A damaged or foreign stretch inside the stream: the stream goes
            // on where a packet starts a little further.
            const std::uint64_t ahead = n + kProbeDistance;
            const platform::ByteView probed = probe_.bytes(ahead, 4);
            if (probed.empty()) return 0;
            if (continuesProgram(probed.be32(0)))
                n = ahead;
            else
                searching = true;
        } else {
            // Byte by byte, until a run of data or zeros too long to be
            // inside the stream.
            if (!inData) break;
            ++n;
            ++counter;
            if (counter > (c != 0 ? kDataRun : kZeroRun)) inData = false;
        }
        if (n > kLengthBound) return kCappedLength;
    }
    return n;
}
