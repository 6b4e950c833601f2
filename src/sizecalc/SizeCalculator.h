#pragma once

// One built-in carved format's size calculator. The carving offers a
// sector's first bytes to the calculators of the marked formats in the
// carving table's order; the first whose isFile accepts the sector then
// measures the file with fileSizeCalculation, walking its structure on the
// device in 64 KiB windows. Every calculator answers these same calls and
// nothing else; what tells formats apart is in their own classes.
//
// Everything a calculator reads is untrusted: positions are 64-bit, every
// walk is bounded by its window, the device and the format's caps, a step
// that does not advance ends the walk, and a value out of the format's
// bounds means "no file here" (false or 0), never an error.

#include "formats/CarvingFormat.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <string_view>

class CarvingContext;

class SizeCalculator {
public:
    // How many leading bytes of a sector the carving hands over.
    static constexpr std::size_t kLeadingBytes = 25;

    virtual ~SizeCalculator();
    SizeCalculator(const SizeCalculator&) = delete;
    SizeCalculator& operator=(const SizeCalculator&) = delete;

    // Whether the sector whose first bytes these are (the sector's number on
    // the device) begins a file of this format. A calculator that needs more
    // than the leading bytes reads the device from that sector on. It may
    // keep what it learnt for the size calculation that follows.
    virtual bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) = 0;
    // Asked only right after isFile accepted the same sector: the carved
    // file's length in bytes, 0 when there is none after all. With the run
    // stopped, the length reached so far.
    virtual std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) = 0;

    const CarvingFormat& format() const { return format_; }
    // The key of the format's result folder.
    std::string_view parentKey() const;
    // Asked of every calculator for every sector the carving examines.
    std::uint8_t firstByteOfHeader() const { return format_.firstByteOfHeader; }

protected:
    // key: the format's row of the carving table.
    SizeCalculator(std::string_view key, CarvingContext& context);

    CarvingContext& context_;

private:
    const CarvingFormat& format_;
};
