#include "sizecalc/AtomWalk.h"

#include "platform/SystemLog.h"
#include "sizecalc/CarvingContext.h"
#include "walks/MovieAtoms.h"

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

// Top-level atoms the walk takes at their word besides those a file starts
// with: the fragments of a movie written as it was recorded (moof, then the
// random-access index mfra after the last), the type and index of a stream
// cut in segments (styp, sidx, ssix), its events and producer times (emsg,
// prft), and metadata of the whole file (meta).
constexpr std::array<std::uint32_t, 8> kWalkedTypes = {
    0x6D6F6F66, // moof
    0x6D667261, // mfra
    0x73747970, // styp
    0x73696478, // sidx
    0x73736978, // ssix
    0x656D7367, // emsg
    0x70726674, // prft
    0x6D657461, // meta
};

constexpr std::uint32_t kLargestFirstAtom = 1048576;
// Sectors a read of a movie's samples takes at once.
constexpr std::uint32_t kSampleWindowSectors = 128;
// Sizes are 32-bit, so the walk stops short of a length that needs more;
// one that took a 64-bit size is bounded by the volume instead.
constexpr std::uint64_t kLengthBound = 0xFFFFFFF0;
// The size field that says a 64-bit size follows the type.
constexpr std::uint32_t kWideSize = 1;
constexpr std::uint64_t kHeaderBytes = 8;
constexpr std::uint64_t kWideHeaderBytes = 16;
// No real file has near as many top-level atoms (a movie recorded in
// fragments of a second has one pair of them a second).
constexpr std::uint64_t kMostAtoms = 4194304;
constexpr std::uint64_t k2GiBBound = 0x7FFFFFF8;
constexpr std::uint64_t kCappedLength = 62914560;
// Covers trailing bytes behind the last atom.
constexpr std::uint64_t kMargin = 512;

} // namespace

AtomWalk::AtomWalk(CarvingContext& context)
    : context_(context), window_(context), ahead_(context.reader(), context.bytesPerSector(), 0, 0, 1) {}

bool AtomWalk::isKnownAtomType(std::uint32_t type) {
    return std::find(kTopLevelTypes.begin(), kTopLevelTypes.end(), type) != kTopLevelTypes.end();
}

bool AtomWalk::isWalkedAtomType(std::uint32_t type) {
    return isKnownAtomType(type) || std::find(kWalkedTypes.begin(), kWalkedTypes.end(), type) != kWalkedTypes.end();
}

bool AtomWalk::isPrintableType(std::uint32_t type) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
        const std::uint32_t c = (type >> shift) & 0xFF;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

bool AtomWalk::hasBrand(platform::ByteView leading, std::string_view brand) {
    if (leading.be32(4) != kFtyp) return false;
    for (std::size_t i = 0; i < brand.size(); ++i)
        if (leading.u8(8 + i) != static_cast<std::uint8_t>(brand[i])) return false;
    return true;
}

bool AtomWalk::secondAtomFollows(platform::ByteView leading, std::uint64_t sectorNumber,
                                 bool (*follows)(std::uint32_t)) {
    const std::uint32_t size = leading.be32(0);
    if (size < 8 || size > kLargestFirstAtom) return false;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || !window_.readAt(sectorNumber + size / bps)) return false;
    return follows(window_.view().be32(size % bps + 4));
}

std::optional<std::uint64_t> AtomWalk::atomAfterLoss(std::uint64_t sector, std::uint64_t p) {
    // The four-letter type, behind a size that holds at least the header.
    return window_.headerAfterLoss(
        sector, p + 7, kLengthBound, [](std::uint32_t name) { return isKnownAtomType(name); },
        [](std::uint32_t size) { return size >= 8; });
}

bool AtomWalk::atomFollows(std::uint64_t sectorNumber, std::uint64_t at) {
    ahead_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const platform::ByteView header = ahead_.at(at, kHeaderBytes);
    if (header.empty()) return false;
    const std::uint32_t size = header.be32(0);
    const std::uint32_t type = header.be32(4);
    return (isWalkedAtomType(type) || isPrintableType(type)) && (size >= kHeaderBytes || size == kWideSize);
}

std::uint64_t AtomWalk::fileSize(std::uint64_t sectorNumber, const Rules& rules) {
    if (rules.logsWindows)
        platform::logFormat("mov size calc started at sect: %lld", static_cast<long long>(sectorNumber));
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    // The bytes the volume holds from the file's first sector on: no atom
    // taken by its shape alone, nor one of a 64-bit size, runs past them.
    const std::uint64_t room = context_.bytesFrom(sectorNumber);
    // p is the atom's place in the window, n the length so far. Each 32-bit
    // atom adds at most 2^32 - 1 to a length held below kLengthBound, and a
    // 64-bit one only what the volume holds, so neither can wrap, and every
    // step advances by at least one byte.
    std::uint64_t p = 0;
    std::uint64_t n = 0;
    std::uint64_t last = 0;
    // Children and samples lie close together: a window of 64 KiB serves
    // many.
    BoundedCursor reader(context_.reader(), bps, sectorNumber, room, kSampleWindowSectors);
    MovieAtoms movie(reader, [this] { return context_.stopped(); });
    // A 64-bit size was taken: the file's own word for a length past what
    // 32 bits hold, so the walk is bounded by the volume, not by them.
    bool wide = false;
    for (std::uint64_t atoms = 0; !context_.stopped() && (wide ? n < room : n < kLengthBound) && atoms < kMostAtoms;
         ++atoms) {
        // A header that runs past the window's end is read again at its own
        // sector, as the window's slack holds zeros, not what follows.
        if (p + kWideHeaderBytes > ReadWindow::kBytes) {
            if (!window_.readAt(sectorNumber + n / bps)) return 0;
            p = n % bps;
        }
        const platform::ByteView w = window_.view();
        const std::uint32_t type = w.be32(p + 4);
        const bool named = isWalkedAtomType(type);
        // Zeros of a sector that could not be read are no end of the file.
        if (n != 0 && (!isKnownAtomType(type) || w.be32(p) == 0) && window_.unreadable(window_.sector(), p, 8))
            if (const std::optional<std::uint64_t> next = atomAfterLoss(window_.sector(), p)) {
                movie.passed(n, n + (*next - p));
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
        if (!(named || isPrintableType(type)) || (rules.ftypEndsWalk && n > 0 && type == kFtyp)) break;
        std::uint64_t size = w.be32(p);
        const bool wideSize = size == kWideSize;
        if (wideSize) {
            // A 64-bit size after the type: an atom past 4 GiB, or one whose
            // writer could not know it would stay under.
            size = w.be64(p + kHeaderBytes);
            if (size < kWideHeaderBytes) break;
        } else if (size == 0) {
            if (rules.zeroSizeEndsWalk) break;
            size = kHeaderBytes;
        }
        // A 64-bit walk stays inside the volume. An atom of a type the walk
        // does not name is the file's by its shape: a header, a size that the
        // volume holds, and another atom after it.
        const bool fits = n <= room && size <= room - n;
        if ((wide || wideSize || !named) && !fits) break;
        if (!named && (size < kHeaderBytes || !atomFollows(sectorNumber, n + size))) break;
        wide = wide || wideSize;
        last = size;
        movie.take(n, n + (wideSize ? kWideHeaderBytes : kHeaderBytes), n + size, type);
        n += size;
        p += size;
        if (!wide && rules.endsPast2GiB && n > k2GiBBound) break;
        if (p >= ReadWindow::kBytes) {
            std::uint64_t next;
            if (rules.wholeWindowMoves) {
                next = sectorNumber + n / ReadWindow::kBytes * (ReadWindow::kBytes / bps);
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
    if (!wide && n > kLengthBound) {
        switch (rules.overflow) {
        case Rules::Overflow::DropLastAtom:
            return n - last;
        case Rules::Overflow::DropLastAtomWithMargin:
            return n - last + kMargin;
        case Rules::Overflow::Capped:
            return kCappedLength + kMargin;
        }
    }
    if (n < rules.shortest) return 0;
    // The bodies the walk stepped over, media data and free space, are the
    // movie's only by their headers; its frames where its movie header
    // places them are its own.
    const SteppedBodies bodies = movie.bodies();
    context_.measuredUnvouched = {n, n, 0, bodies.ownSectors(), bodies.spans()};
    return n + kMargin;
}
