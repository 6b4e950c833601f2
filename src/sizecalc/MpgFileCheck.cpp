#include "sizecalc/MpgFileCheck.h"

#include "sizecalc/CarvingContext.h"
#include "walks/MpegVideoStreamWalk.h"
#include "walks/ProgramStreamWalk.h"

namespace {

constexpr std::uint32_t kPack = 0x1BA;
constexpr std::uint32_t kSequenceHeader = 0x1B3;
constexpr std::uint32_t kGroupOfPictures = 0x1B8;
constexpr std::uint64_t kShortest = 10240;
constexpr std::uint64_t kLengthBound = 4294967280;
constexpr std::uint64_t kCappedLength = 62914560;

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

std::uint64_t MpgFileCheck::programStreamLength() {
    ProgramStreamWalk::Options options;
    options.packHeaderBytes = mpgFirstStartCodeOffset_;
    options.lossReach = kLengthBound;
    options.lengthBound = kLengthBound;
    options.stopped = [&] { return context_.stopped(); };
    const ProgramStreamWalk::Measure stream = ProgramStreamWalk::measure(window_, probe_, options);
    if (stream.readFailed) return 0;
    if (stream.capped) return kCappedLength;
    // A pack whose packets lead to no other pack is what chance bytes make as
    // often: it vouches for no start, and cuts nothing it lies in.
    context_.measuredOnHeaderAlone = !stream.ledOn;
    return stream.length;
}
