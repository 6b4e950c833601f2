#pragma once

// The walk the QuickTime family (MOV, MP4, M4A, M4B, M4V, 3GP, 3G2) shares:
// a file of top-level atoms (a big-endian 32-bit size that includes the
// 8-byte header, a four-letter type, the body; a size of 1 puts a 64-bit
// size after the type) is measured by adding the atoms' sizes up until
// something that is no top-level atom: a type that is not four printable
// characters, or an atom of a type the walk does not name that the volume
// cannot hold or that no atom follows. The formats differ only in a few
// rules of that walk, which each passes in. What the atoms' bodies hold the
// walk steps over (MovieAtoms, as the plain search's walk does).

#include "media/BoundedCursor.h"
#include "platform/ByteView.h"
#include "sizecalc/ReadWindow.h"

#include <cstdint>
#include <optional>
#include <string_view>

class CarvingContext;

class AtomWalk {
public:
    static constexpr std::uint32_t kFree = 0x66726565; // "free"
    static constexpr std::uint32_t kFtyp = 0x66747970; // "ftyp"

    // The defaults are the rules M4B, M4V, 3GP and 3G2 walk by.
    struct Rules {
        // An atom of size 0 ends the walk; otherwise it is taken as 8 bytes.
        bool zeroSizeEndsWalk = true;
        // An ftyp atom after the first begins the next file.
        bool ftypEndsWalk = false;
        // The walk ends once the length passes 2 GiB - 8, that atom included
        // (one that took a 64-bit size goes on to the volume's end).
        bool endsPast2GiB = true;
        // Windows stay 64 KiB-aligned to the file; otherwise a window starts
        // at the sector holding the next atom.
        bool wholeWindowMoves = true;
        // Past the 32-bit length bound: what a length that overflowed answers
        // (a walk that took a 64-bit size answers its length).
        enum class Overflow { DropLastAtom, DropLastAtomWithMargin, Capped };
        Overflow overflow = Overflow::Capped;
        // Writes where a walk starts and goes on to the system log.
        bool logsWindows = false;
        // Atoms that add up to fewer bytes are no file.
        std::uint64_t shortest = 10240;
    };
    explicit AtomWalk(CarvingContext& context);

    // The types a file of the family starts with, and that follow its first
    // atom.
    static bool isKnownAtomType(std::uint32_t type);
    // Those and the other top-level types the walk takes at their word.
    static bool isWalkedAtomType(std::uint32_t type);
    // Four characters from space to tilde.
    static bool isPrintableType(std::uint32_t type);
    // The sector begins with an ftyp atom whose major brand starts with
    // `brand`.
    static bool hasBrand(platform::ByteView leading, std::string_view brand);
    // The first atom's size is plausible (8 bytes to 1 MiB) and an atom of a
    // type `follows` takes follows it on the device.
    bool secondAtomFollows(platform::ByteView leading, std::uint64_t sectorNumber,
                           bool (*follows)(std::uint32_t) = &isKnownAtomType);
    // The file's length from the sector on, margin included; 0 when the
    // atoms add up to less than the rules' shortest or a read fails.
    std::uint64_t fileSize(std::uint64_t sectorNumber, const Rules& rules);

private:
    // The atom header `p` bytes into the device sector `sector` lies in a
    // sector the medium could not give: the offset from that sector of the
    // next top-level atom after it; nothing when none lies within reach.
    std::optional<std::uint64_t> atomAfterLoss(std::uint64_t sector, std::uint64_t p);
    // An atom header lies `at` bytes into the file that starts at the
    // sector: a type the walk names or four printable characters, and a size
    // that holds the header or says a 64-bit one follows.
    bool atomFollows(std::uint64_t sectorNumber, std::uint64_t at);

    CarvingContext& context_;
    ReadWindow window_;
    // Reads the header after an atom of a type the walk does not name.
    BoundedCursor ahead_;
};
