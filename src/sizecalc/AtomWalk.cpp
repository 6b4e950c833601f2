#include "sizecalc/AtomWalk.h"

#include "platform/SystemLog.h"
#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::uint32_t, 8> kTopLevelTypes = {
    0x66726565, // free
    0x66747970, // ftyp
    0x6D646174, // mdat
    0x6D6F6F76, // moov
    0x706E6F74, // pnot
    0x736B6970, // skip
    0x77696465, // wide
    0x75756964, // uuid
};

constexpr std::uint32_t kLargestFirstAtom = 1048576;
// Sizes are 32-bit, so the walk stops short of a length that needs more.
constexpr std::uint64_t kLengthBound = 0xFFFFFFF0;
constexpr std::uint64_t k2GiBBound = 0x7FFFFFF8;
constexpr std::uint64_t kCappedLength = 62914560;
constexpr std::uint64_t kShortest = 10240;
// Covers trailing bytes behind the last atom.
constexpr std::uint64_t kMargin = 512;

} // namespace

AtomWalk::AtomWalk(CarvingContext& context) : context_(context), window_(context) {}

bool AtomWalk::isKnownAtomType(std::uint32_t type) {
    return std::find(kTopLevelTypes.begin(), kTopLevelTypes.end(), type) != kTopLevelTypes.end();
}

bool AtomWalk::hasBrand(platform::ByteView leading, std::string_view brand) {
    if (leading.be32(4) != kFtyp) return false;
    for (std::size_t i = 0; i < brand.size(); ++i)
        if (leading.u8(8 + i) != static_cast<std::uint8_t>(brand[i])) return false;
    return true;
}

bool AtomWalk::secondAtomFollows(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint32_t size = leading.be32(0);
    if (size < 8 || size > kLargestFirstAtom) return false;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || !window_.readAt(sectorNumber + size / bps)) return false;
    return isKnownAtomType(window_.view().be32(size % bps + 4));
}

std::optional<std::uint64_t> AtomWalk::atomAfterLoss(std::uint64_t sector, std::uint64_t p) {
    // The four-letter type, behind a size that holds at least the header.
    return window_.headerAfterLoss(
        sector, p + 7, kLengthBound, [](std::uint32_t name) { return isKnownAtomType(name); },
        [](std::uint32_t size) { return size >= 8; });
}

std::uint64_t AtomWalk::fileSize(std::uint64_t sectorNumber, const Rules& rules) {
    if (rules.logsWindows)
        platform::logFormat("mov size calc started at sect: %lld", static_cast<long long>(sectorNumber));
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    // p is the atom's place in the window, n the length so far. Each atom
    // adds at most 2^32 - 1 to a length held below kLengthBound, so neither
    // can wrap, and every step advances by at least one byte.
    std::uint64_t p = 0;
    std::uint64_t n = 0;
    std::uint64_t last = 0;
    while (!context_.stopped() && n < kLengthBound) {
        const platform::ByteView w = window_.view();
        const std::uint32_t type = w.be32(p + 4);
        // Zeros of a sector that could not be read are no end of the file.
        if (n != 0 && (!isKnownAtomType(type) || w.be32(p) == 0) && window_.unreadable(window_.sector(), p, 8))
            if (const std::optional<std::uint64_t> next = atomAfterLoss(window_.sector(), p)) {
                n += *next - p;
                std::uint64_t at = sectorNumber + n / bps;
                p = n % bps;
                if (rules.wholeWindowMoves) {
                    at = sectorNumber + n / ReadWindow::kBytes * (ReadWindow::kBytes / bps);
                    p = n % ReadWindow::kBytes;
                }
                if (!window_.readAt(at)) return 0;
                continue;
            }
        if (!isKnownAtomType(type) || (rules.ftypEndsWalk && n > 0 && type == kFtyp)) break;
        std::uint64_t size = w.be32(p);
        if (size == 0) {
            if (rules.zeroSizeEndsWalk) break;
            size = 8;
        }
        last = size;
        n += size;
        p += size;
        if (rules.endsPast2GiB && n > k2GiBBound) break;
        if (p >= ReadWindow::kBytes) {
            std::uint64_t next;
            if (rules.wholeWindowMoves) {
                next = window_.sector() + (ReadWindow::kBytes / bps) * (p / ReadWindow::kBytes);
                p = n % ReadWindow::kBytes;
            } else {
                next = sectorNumber + n / bps;
                p = n % bps;
                if (rules.logsWindows)
                    platform::logFormat("mov size calc continued at sect: %lld", static_cast<long long>(next));
            }
            if (!window_.readAt(next)) return 0;
        }
    }
    if (n > kLengthBound) {
        switch (rules.overflow) {
        case Rules::Overflow::DropLastAtom:
            return n - last;
        case Rules::Overflow::DropLastAtomWithMargin:
            return n - last + kMargin;
        case Rules::Overflow::Capped:
            return kCappedLength + kMargin;
        }
    }
    return n < kShortest ? 0 : n + kMargin;
}
