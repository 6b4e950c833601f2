#pragma once

// One entry of a file allocation table: what follows a cluster in its chain.
// FAT12 packs two entries into three bytes, FAT16 takes two bytes and FAT32
// four, of which the top four bits are reserved and say nothing about the
// chain (a free cluster may carry them set). The FAT walk and the searches
// of free clusters read entries through this one decoder.

#include "formats/FATBootSector.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct FATEntry {
    enum class Kind {
        Free,       // 0
        Next,       // the next cluster of the chain
        Reserved,   // 1, and the values just below the bad marker
        Bad,        // a cluster marked unusable
        EndOfChain, // the chain's last cluster
    };

    std::uint32_t value = 0; // FAT32's reserved bits cleared
    Kind kind = Kind::Free;

    // Where the entry of a cluster begins, in bytes from the FAT's start,
    // and how many bytes from there hold it whole.
    static std::uint64_t offsetOf(FATType type, std::uint64_t cluster);
    static std::uint32_t bytesOf(FATType type) { return type == FATType::FAT32 ? 4 : 2; }

    // The entry of a cluster in a piece of the FAT that begins at byte
    // pieceStart of the FAT; nothing when the piece does not hold it whole.
    static std::optional<FATEntry> decode(FATType type, platform::ByteView piece, std::uint64_t pieceStart,
                                          std::uint64_t cluster);
    static Kind kindOf(FATType type, std::uint32_t value);
};
