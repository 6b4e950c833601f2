#include "sizecalc/TiffClassifier.h"

#include "platform/CheckedMath.h"
#include "walks/TiffDirectoryWalk.h"

#include <algorithm>

namespace {

constexpr std::uint16_t kLittle = 0x4949; // "II"
constexpr std::uint16_t kBig = 0x4D4D;    // "MM"
// The chain count of a PENTAX file stops here.
constexpr int kPentaxIfdLimit = 10;
// The makers whose raw files the family's calculators measure.
constexpr std::string_view kRawMakes[] = {"NIKON",   "SONY",    "PENTAX", "OLYMPUS", "LEICA",        "Leica",
                                          "Panason", "Hasselb", "Kodak",  "KODAK",   "EASTMAN KODAK"};

// The field type TIFF defines last (IFD).
constexpr std::uint16_t kLastFieldType = 13;

// The directory test of the walk: entries of the field types TIFF defines,
// which the bytes of another file, where a cut file's chain leads, do not
// hold.
bool directoryOfTheFile(const Tiff_IFD& ifd) {
    return std::ranges::all_of(ifd.DEArray(), [](const Tiff_DE& de) {
        const std::uint16_t type = de.DE().fieldType;
        return type >= 1 && type <= kLastFieldType;
    });
}

} // namespace

TiffClassifier::TiffClassifier(std::string_view key, CarvingContext& context)
    : SizeCalculator(key, context), window_(context) {}

std::uint32_t TiffClassifier::scalarDataTypeValue(std::uint32_t fieldType) {
    switch (fieldType) {
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 1;
    }
}

bool TiffClassifier::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (shortCut()) return ownFlag();
    return classify(leading, sectorNumber);
}

bool TiffClassifier::classify(platform::ByteView leading, std::uint64_t sectorNumber) {
    F& f = flags();
    f.littleEndianFormatFlag = f.bigEndianFormatFlag = false;
    const std::uint16_t order = leading.be16(0);
    if (order == kLittle)
        f.littleEndianFormatFlag = true;
    else if (order == kBig)
        f.bigEndianFormatFlag = true;
    else
        return false;
    useByteOrder(order == kLittle);
    clearMakerFlags();

    Classification c;
    c.leading = leading;
    c.sector = sectorNumber;
    c.tiffMagic = c.magicIs(0x2A, 0x00) || c.magicIs(0x00, 0x2A);
    c.canonRaw = leading.u8(8) == 'C' && leading.u8(9) == 'R';
    if (begins(leading.sub(6), "HEAPCCDR")) {
        f.crwFormatFlag = true;
        return false;
    }
    c.ifd0 = headerU32(leading, 4);
    if (c.ifd0 < 8 || c.ifd0 > kMaxPart) return false;
    const auto ifdPos = windowAt(sectorNumber, c.ifd0);
    if (!ifdPos) return false;
    c.entries = u16(*ifdPos);
    if (c.entries < minimumEntries() || c.entries > kMaxEntries) return false;

    for (c.entry = 0; c.entry < c.entries; ++c.entry) {
        if (context_.stopped()) return false;
        // IFD0 is in the window here: every hook that reads elsewhere reads
        // it back before the next entry.
        const auto pos = windowAt(sectorNumber, c.ifd0);
        if (!pos) return false;
        const Entry entry = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * c.entry);
        Verdict verdict = Verdict::Continue;
        switch (entry.tag) {
        case kMake: {
            c.makeSeen = true;
            const auto make = textOf(entry, sectorNumber, makeOffsetLimit());
            if (!make) return false;
            c.rawMake = std::ranges::any_of(kRawMakes, [&](std::string_view maker) { return begins(*make, maker); });
            verdict = makerTests(*make, entry, c);
            if (verdict == Verdict::Continue && !reloadIfd0(c)) return false;
            break;
        }
        case kDngVersion:
        case kDngBackwardVersion:
            return dngTag(c);
        case kSubIfds:
            c.subIfds = true;
            break;
        default:
            verdict = otherTag(entry, c);
            break;
        }
        if (verdict != Verdict::Continue) return verdict == Verdict::Yes;
    }
    // A raw camera keeps its full-size image in a SubIFD; a TIFF of anyone
    // else keeps further images there (a DNG-like layout, a scanner's
    // reductions), and is measured by them as a TIFF.
    const bool rawFlag = f.cr2FormatFlag || f.crwFormatFlag || f.k25FormatFlag || f.kdcFormatFlag || f.dcrFormatFlag ||
                         f.leicaFormatFlag || f.nefFormatFlag || f.orfFormatFlag || f.pefFormatFlag ||
                         f.dngFormatFlag || f.panasonicFormatFlag || f.sr2FormatFlag || f.hasselbladFormatFlag;
    if (c.subIfds && (c.rawMake || rawFlag)) c.rawMarker = true;
    return endRule(c);
}

TiffClassifier::Verdict TiffClassifier::makerTests(platform::ByteView make, const Entry&, Classification& c) {
    F& f = flags();
    const MakerRules rules = makerRules();
    if (begins(make, "Canon")) {
        if (!c.tiffMagic) return Verdict::Continue;
        if (!c.canonRaw) {
            set({&F::canonTiffFormatFlag, &F::tiffFormatFlag, &F::cameraTiffFormatFlag});
            return Verdict::Continue;
        }
        if (rules.canonRaw == MakerRules::CanonRaw::Refuse) return Verdict::No;
        f.cr2FormatFlag = true;
        return rules.canonRaw == MakerRules::CanonRaw::Claim ? Verdict::Continue : Verdict::No;
    }
    if (begins(make, "NIKON")) {
        if (rules.nikon) f.nefFormatFlag = true;
    } else if (begins(make, "LEICA")) {
        if (c.magicIs(0x55, 0x00)) {
            f.leicaFormatFlag = true;
            c.rawMarker = true;
        }
    } else if (begins(make, "Phase")) {
        set({&F::tiffFormatFlag, &F::cameraTiffFormatFlag});
    } else if (begins(make, "PENTAX")) {
        return rules.pentaxLookAhead ? pentaxLookAhead(c) : pentaxRule(c);
    } else if (begins(make, "OLYMPUS")) {
        // The raw kinds' magic numbers in the file's byte order: "IIRO" and
        // "MMOR" alike.
        if (const std::uint16_t magic = headerU16(c.leading, 2); magic == kOrfMagic || magic == kOrfRsMagic)
            f.orfFormatFlag = true;
    } else if (begins(make, "Panason")) {
        if (c.magicIs(0x55, 0x00)) {
            f.panasonicFormatFlag = true;
            c.rawMarker = true;
        }
    } else if (begins(make, "Hasselb")) {
        f.hasselbladFormatFlag = true;
    }
    return Verdict::Continue;
}

TiffClassifier::Verdict TiffClassifier::otherTag(const Entry&, Classification&) {
    return Verdict::Continue;
}

bool TiffClassifier::begins(platform::ByteView text, std::string_view prefix) {
    if (!text.has(0, prefix.size())) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (text.u8(i) != static_cast<std::uint8_t>(prefix[i])) return false;
    return true;
}

TiffClassifier::Verdict TiffClassifier::pentaxRule(Classification& c) {
    switch (pentaxRawTiffFile(c.leading, c.sector)) {
    case 1:
        c.rawMarker = false;
        set({&F::tiffFormatFlag, &F::cameraTiffFormatFlag});
        return Verdict::Continue;
    case 2:
        c.rawMarker = true;
        return Verdict::Continue;
    default:
        return Verdict::No;
    }
}

TiffClassifier::Verdict TiffClassifier::pentaxLookAhead(Classification& c) {
    const auto pos = windowAt(c.sector, c.ifd0);
    if (!pos) return Verdict::No;
    for (std::uint32_t i = c.entry + 1; i < c.entries; ++i) {
        if (context_.stopped()) return Verdict::No;
        const std::uint16_t tag = u16(*pos + 2 + std::uint64_t{kEntryBytes} * i);
        if (tag == kDngVersion || tag == kDngBackwardVersion || tag == 50708 || tag == 50721)
            flags().dngFormatFlag = true;
    }
    flags().pefFormatFlag = true;
    const Verdict v = pentaxRule(c);
    // A chain of one or two IFDs is a camera TIFF, no PEF.
    if (v == Verdict::Continue && !c.rawMarker) flags().pefFormatFlag = false;
    return v;
}

int TiffClassifier::pentaxRawTiffFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    const bool wasLittle = little_;
    useByteOrder(leading.be16(0) == kLittle);
    std::uint64_t offset = headerU32(leading, 4);
    int ifds = 0;
    int answer = 0;
    while (true) {
        if (++ifds > kPentaxIfdLimit) {
            answer = 3;
            break;
        }
        const auto pos = windowAt(sectorNumber, offset);
        const std::uint32_t n = pos ? u16(*pos) : 0;
        // The next-IFD offset of a larger directory lies beyond the window.
        if (!pos || n > kMaxEntries) break;
        offset = u32(*pos + 2 + std::uint64_t{kEntryBytes} * n);
        if (offset == 0) {
            answer = ifds <= 2 ? 1 : ifds == 3 ? 2 : 3;
            break;
        }
    }
    useByteOrder(wasLittle);
    return answer;
}

void TiffClassifier::set(std::initializer_list<Flag> which, bool value) {
    for (const Flag flag : which)
        flags().*flag = value;
}

std::optional<std::uint32_t> TiffClassifier::windowAt(std::uint64_t sector, std::uint64_t fileOffset) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0) return std::nullopt;
    const std::uint64_t at = platform::saturatingAdd(sector, fileOffset / bps);
    // The medium is never written while it is carved: a window read at the
    // same sector holds the same bytes.
    if (!windowValid_ || window_.sector() != at) {
        windowValid_ = window_.readAt(at);
        if (!windowValid_) return std::nullopt;
    }
    return static_cast<std::uint32_t>(fileOffset % bps);
}

std::optional<std::uint32_t> TiffClassifier::windowHolding(std::uint64_t sector, std::uint64_t fileOffset,
                                                           std::uint32_t length) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (windowValid_ && bps != 0 && window_.sector() >= sector) {
        const std::uint64_t first = (window_.sector() - sector) * bps;
        if (fileOffset >= first && fileOffset - first + length <= ReadWindow::kBytes)
            return static_cast<std::uint32_t>(fileOffset - first);
    }
    return windowAt(sector, fileOffset);
}

bool TiffClassifier::reloadIfd0(Classification& c) {
    return windowAt(c.sector, c.ifd0).has_value();
}

std::uint16_t TiffClassifier::u16(std::uint64_t pos) const {
    return little_ ? window_.view().le16(pos) : window_.view().be16(pos);
}

std::uint32_t TiffClassifier::u32(std::uint64_t pos) const {
    return little_ ? window_.view().le32(pos) : window_.view().be32(pos);
}

std::uint32_t TiffClassifier::sized(std::uint64_t pos, std::uint32_t size) const {
    return size == 1 ? window_.view().u8(pos) : size == 2 ? u16(pos) : u32(pos);
}

TiffClassifier::Entry TiffClassifier::entryAt(std::uint64_t pos) const {
    Entry entry{u16(pos), u16(pos + 2), u32(pos + 4), u32(pos + 8), {}};
    for (std::size_t i = 0; i < entry.field.size(); ++i)
        entry.field[i] = window_.view().u8(pos + 8 + i);
    return entry;
}

std::optional<platform::ByteView> TiffClassifier::textOf(const Entry& entry, std::uint64_t sector,
                                                         std::uint64_t offsetLimit) {
    // "X" as a Make, read as an offset, is 0x58000000 in a big-endian file:
    // far past any limit, and the file would be refused for it.
    const std::uint64_t bytes = std::uint64_t{entry.count} * scalarDataTypeValue(entry.type);
    if (bytes <= entry.field.size()) return platform::ByteView(entry.field.data(), static_cast<std::size_t>(bytes));
    if (entry.value > offsetLimit) return std::nullopt;
    const auto at = windowAt(sector, entry.value);
    if (!at) return std::nullopt;
    return window_.view().sub(*at);
}

bool TiffClassifier::useFlagsByteOrder() {
    const F& f = context_.tiff;
    if (!f.littleEndianFormatFlag && !f.bigEndianFormatFlag) return false;
    useByteOrder(f.littleEndianFormatFlag);
    return true;
}

std::uint64_t TiffClassifier::walkedLength(platform::ByteView leading, std::uint64_t sectorNumber,
                                           std::uint32_t leastEntries,
                                           const std::function<std::uint64_t(std::uint64_t)>& further) {
    const auto pos = windowAt(sectorNumber, headerU32(leading, 4));
    const std::uint32_t entries = pos ? u16(*pos) : 0;
    if (entries < leastEntries || entries > kMaxEntries) return 0;
    TiffDirectoryWalk walk(
        context_.reader(), context_.bytesPerSector(), sectorNumber, context_.bytesFrom(sectorNumber),
        [this] { return context_.stopped(); },
        {.byteOrder = little_ ? TiffDirectoryWalk::ByteOrder::LittleEndian : TiffDirectoryWalk::ByteOrder::BigEndian,
         .directoryTest = &directoryOfTheFile,
         .mostFirstEntries = kMaxEntries,
         .followSubIFDs = true,
         .followExifDirectories = true});
    std::uint64_t length = walk.measure(leading);
    if (length != 0 && further) length = further(length);
    // Numbers that put a part this far are no file's of the family.
    if (length < kMinFile || length > kMaxFile) return 0;
    context_.measuredCut = walk.broken();
    // Its strips and tiles are its own; what else lies past its last
    // directory, nothing vouches for.
    context_.measuredUnvouched = {walk.structureEnd(), length, 0, walk.partSectors()};
    return length;
}
