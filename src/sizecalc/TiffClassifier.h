#pragma once

// What every calculator of the TIFF family shares. All of them begin "II" or
// "MM", so the header alone does not tell a Canon raw from a Nikon raw or a
// plain TIFF: the camera maker in IFD0, a handful of tags and the shape of
// the IFD chain do. The first family calculator of the run that looks at a
// sector classifies it and leaves its verdict in the run's TIFF flags; a
// later one whose verdict was computed on the way answers from its own flag
// and reads nothing (the short-cut), so a sector costs one classification
// however many family formats are marked.
//
// isFile runs the classification every member follows:
//   1. the short-cut: shortCut() true -> answer ownFlag(), read nothing;
//   2. byte order from bytes 0-1 ("II" / "MM", else no), endian flags set;
//   3. clearMakerFlags(): the maker flags this member decides on;
//   4. "HEAPCCDR" at 6 marks a CIFF file (crw flag) and answers no;
//   5. IFD0 offset 8..157286400, IFD0 read, entry count
//      minimumEntries()..100;
//   6. each IFD0 entry, the scan's stop answering no:
//      271 Make: the value (from the entry when it fits there, else from
//          an offset of at most makeOffsetLimit()) goes to makerTests(),
//          whose verdict may end the classification, then IFD0 is read
//          again; 50706/50707 (DNG versions): dngTag() answers;
//      330 SubIFDs: noted; any other tag: otherTag();
//   7. SubIFDs are the raw marker where a raw camera's maker made the
//      file (its Make, or a raw format's flag the hooks set); in any other
//      file they hold a TIFF's further images;
//   8. endRule() answers.
// A member overrides the hooks for the steps it changes. makerTests()
// defaults to the common maker table with the few choices of MakerRules
// (makerRules()); a member whose maker tests differ more overrides it and
// builds on pentaxRule() / pentaxLookAhead(). Tags the common procedure does
// not act on (Model) reach otherTag() as a decoded Entry; a hook that reads
// elsewhere calls reloadIfd0() before it returns to the entries.
//
// The size walks read through the same window (one buffer per calculator)
// with the byte order the classification left in the flags
// (useFlagsByteOrder()), and share the readers below.

#include "sizecalc/CarvingContext.h"
#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string_view>

class TiffClassifier : public SizeCalculator {
public:
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;

    // The size of one element of a TIFF field type.
    static std::uint32_t scalarDataTypeValue(std::uint32_t fieldType);

protected:
    // Largest IFD, string, array or strip offset, and partial size.
    static constexpr std::uint64_t kMaxPart = 157286400;
    // Largest finished file.
    static constexpr std::uint64_t kMaxFile = 209715200;
    // Smallest finished file where a walk checks it.
    static constexpr std::uint64_t kMinFile = 100;
    static constexpr std::uint32_t kMaxEntries = 100;
    static constexpr std::uint32_t kEntryBytes = 12;

    static constexpr std::uint16_t kMake = 271;
    static constexpr std::uint16_t kModel = 272;
    static constexpr std::uint16_t kStripOffsets = 273;
    static constexpr std::uint16_t kStripByteCounts = 279;
    static constexpr std::uint16_t kTileOffsets = 324;
    static constexpr std::uint16_t kTileByteCounts = 325;
    static constexpr std::uint16_t kSubIfds = 330;
    static constexpr std::uint16_t kDngVersion = 50706;
    static constexpr std::uint16_t kDngBackwardVersion = 50707;
    // An Olympus raw file's magic numbers in place of TIFF's 42: "RO", and
    // "RS" for the kind that carries more than its strips.
    static constexpr std::uint16_t kOrfMagic = 0x4F52;
    static constexpr std::uint16_t kOrfRsMagic = 0x5352;

    using Flag = bool CarvingContext::TiffClassification::*;
    using F = CarvingContext::TiffClassification;

    TiffClassifier(std::string_view key, CarvingContext& context);

    // One classification's working state.
    struct Classification {
        platform::ByteView leading;
        std::uint64_t sector = 0;
        // Bytes 2-3 are the TIFF magic (either order, whatever 0-1 say).
        bool tiffMagic = false;
        // Bytes 8-9 are "CR".
        bool canonRaw = false;
        std::uint64_t ifd0 = 0;
        std::uint32_t entries = 0;
        // The IFD0 entry being looked at.
        std::uint32_t entry = 0;
        bool makeSeen = false;
        // The Make (or a Sony raw's Model) names a raw camera's maker.
        bool rawMake = false;
        bool subIfds = false;
        bool rawMarker = false;
        // Header bytes 2-3 are these.
        bool magicIs(std::uint8_t a, std::uint8_t b) const { return leading.u8(2) == a && leading.u8(3) == b; }
    };
    // One directory entry, decoded.
    struct Entry {
        std::uint16_t tag = 0;
        std::uint16_t type = 0;
        std::uint32_t count = 0;
        std::uint32_t value = 0; // the value or offset field as a u32
        // The value or offset field as written: a value of four bytes or
        // fewer lies here, in the file's byte order.
        std::array<std::uint8_t, 4> field{};
    };
    enum class Verdict { Continue, Yes, No };

    // How the common maker table answers where the members differ.
    struct MakerRules {
        // A Canon Make with TIFF magic and "CR" at 8.
        enum class CanonRaw { Claim, ClaimAndRefuse, Refuse } canonRaw = CanonRaw::Claim;
        bool nikon = true;
        // A PENTAX Make first looks for DNG tags after it (pentaxLookAhead).
        bool pentaxLookAhead = false;
    };

    // The hooks (see the top of this file).
    virtual bool shortCut() const = 0;
    virtual bool ownFlag() const = 0;
    virtual void clearMakerFlags() = 0;
    virtual std::uint32_t minimumEntries() const { return 2; }
    virtual std::uint64_t makeOffsetLimit() const { return kMaxPart; }
    virtual MakerRules makerRules() const { return {}; }
    // The Make value starts at make[0]; the window holds it, not IFD0.
    virtual Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c);
    virtual bool dngTag(Classification& c) = 0;
    virtual Verdict otherTag(const Entry& entry, Classification& c);
    virtual bool endRule(Classification& c) = 0;

    // Building blocks of maker tests.
    static bool begins(platform::ByteView text, std::string_view prefix);
    // The common PENTAX rule: by the chain's length, a raw file (raw
    // marker), a camera TIFF, or no.
    Verdict pentaxRule(Classification& c);
    // DNG tags after the Make entry set the dng flag; then the pef flag by
    // the chain's length.
    Verdict pentaxLookAhead(Classification& c);
    // 0: a read failed; 1: one or two IFDs; 2: three; 3: four or more (or a
    // chain longer than ten).
    int pentaxRawTiffFile(platform::ByteView leading, std::uint64_t sectorNumber);

    void set(std::initializer_list<Flag> flags, bool value = true);
    void clear(std::initializer_list<Flag> flags) { set(flags, false); }
    CarvingContext::TiffClassification& flags() { return context_.tiff; }

    // Reads the window holding the file offset of the file at the sector
    // (unless it holds it already); the offset's place in the window, or
    // nothing when the read failed.
    std::optional<std::uint32_t> windowAt(std::uint64_t sector, std::uint64_t fileOffset);
    // The same, but keeping the window read last when it holds the
    // `length` bytes there: for walking arrays.
    std::optional<std::uint32_t> windowHolding(std::uint64_t sector, std::uint64_t fileOffset, std::uint32_t length);
    bool reloadIfd0(Classification& c);

    // Readers in the byte order chosen last.
    std::uint16_t u16(std::uint64_t pos) const;
    std::uint32_t u32(std::uint64_t pos) const;
    // A value of `size` bytes (1, 2, otherwise 4).
    std::uint32_t sized(std::uint64_t pos, std::uint32_t size) const;
    Entry entryAt(std::uint64_t pos) const;
    // The bytes of a text value (Make, Model) from its first on: in the
    // entry itself when they fit its four bytes, as TIFF keeps every value
    // that small, else in the window at the offset the entry gives, at most
    // `offsetLimit`. Nothing when that offset lies past the limit or cannot
    // be read. A value in the entry is a view of `entry`, which must outlive
    // it; one in the window is good until the window is read again.
    std::optional<platform::ByteView> textOf(const Entry& entry, std::uint64_t sector, std::uint64_t offsetLimit);
    // The order the classification left in the flags; false when it left
    // none.
    bool useFlagsByteOrder();
    void useByteOrder(bool little) { little_ = little; }
    std::uint64_t headerU32(platform::ByteView leading, std::size_t off) const {
        return little_ ? leading.le32(off) : leading.be32(off);
    }
    std::uint16_t headerU16(platform::ByteView leading, std::size_t off) const {
        return little_ ? leading.le16(off) : leading.be16(off);
    }

    // The file measured as the plain search measures the family: to the
    // furthest of its directories (the chain, the SubIFDs and the EXIF, GPS
    // and interoperability directories) and of what they name (values,
    // strips, tiles, a JPEG stream), whatever order they lie in
    // (TiffDirectoryWalk), IFD0 of `leastEntries` entries at least;
    // `further` may move that end on (a Canon TIFF's JPEG). The run is told
    // how far the directories read reach, where the parts they name begin,
    // and whether the walk broke (the file measured as far as it went, cut).
    // 0 when the walk refused the file or measured no file of the family.
    std::uint64_t walkedLength(platform::ByteView leading, std::uint64_t sectorNumber, std::uint32_t leastEntries,
                               const std::function<std::uint64_t(std::uint64_t)>& further = {});

    // The window read last, with its zero slack.
    platform::ByteView view() const { return window_.view(); }
    // It lies wholly past the carved volume: so will every later one.
    bool beyondVolume() const { return window_.beyondVolume(); }

private:
    bool classify(platform::ByteView leading, std::uint64_t sectorNumber);

    // Read only through windowAt, which knows what the window holds.
    ReadWindow window_;
    bool windowValid_ = false;
    bool little_ = true;
};
