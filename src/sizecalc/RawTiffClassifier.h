#pragma once

// What the camera raw members of the TIFF family add to the shared
// classification. Raw files keep their image last, so a strip array is taken
// by its last element (the last strip ends the file). For the Sony, Kodak,
// DNG and Nikon classifiers: the Model tests, the maker tests and end rule of
// the Sony and Kodak classifiers that do not go on past a Canon TIFF, the
// KDC/K25 full-resolution walk and the preview record. For the Pentax,
// Olympus, Panasonic, Leica and Hasselblad classifiers: the maker tests of
// the members that refuse most makers outright, the IFD0 walk Panasonic and
// Leica files share, and the JPEG preview measured by its markers.

#include "sizecalc/JpegStreamWalk.h"
#include "sizecalc/TiffClassifier.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>

class RawTiffClassifier : public TiffClassifier {
protected:
    using TiffClassifier::TiffClassifier;

    static constexpr std::uint64_t kMargin = 512;

    // An entry with a count outside 2..65534 holds its value itself.
    static constexpr std::uint32_t kMaxArray = 65534;
    static constexpr std::uint16_t kJpegOffset = 513;
    static constexpr std::uint16_t kJpegLength = 514;

    // The last of `count` 4-byte elements at the file offset (the element
    // at the offset for a count of 0); nothing when the read failed.
    std::optional<std::uint32_t> lastElement(std::uint64_t sector, std::uint64_t arrayOffset, std::uint32_t count);
    // An entry's value: the value field, or the last element of its array
    // when `inEntry` says the count makes it one.
    std::optional<std::uint32_t> valueOf(std::uint64_t sector, const Entry& entry, bool inEntry);

    // Which classifier's column of the Model tests applies.
    enum class ModelColumn { Arw, Sr2, Kdc, K25, Dcr };
    // The Model value starts at model[0]; `available` is how many of its
    // bytes a test may examine. The ARW column also sets the two layout
    // flags.
    struct ArwLayout {
        bool arw = false;
        bool a100 = false;
    };
    void modelTests(platform::ByteView model, std::uint32_t available, ModelColumn column, ArwLayout* layout = nullptr);
    // The Model read at its value offset (at most `offsetLimit`), tested;
    // false when it could not be read.
    bool readModel(const Entry& entry, Classification& c, std::uint64_t offsetLimit, ModelColumn column,
                   ArwLayout* layout = nullptr);

    // The maker tests of SR2 and the Kodak classifiers: a Canon TIFF is
    // handed on at once, PENTAX looks ahead for DNG tags, and KDC knows
    // Kodak's own makes.
    Verdict kodakMakerTests(platform::ByteView make, Classification& c, bool kodakMakes);
    // The end rule of the Kodak classifiers (a plain TIFF, or the own flag).
    bool kodakEndRule(Classification& c, bool own);
    // A DNG tag in IFD0: the DNG flag alone stays.
    bool dngOnly();
    void clearEveryMakerFlag();

    // KDC and K25: the strips of the full-resolution image; `kdc` chooses
    // KDC's bounds. 0 when there is no file.
    std::uint64_t fullResolutionLength(platform::ByteView leading, std::uint64_t sectorNumber, bool kdc);

    // The entry `index` of the directory at `ifd`, its window read again.
    std::optional<Entry> entryOf(std::uint64_t sector, std::uint64_t ifd, std::uint32_t index);
    // The entry count of the directory at `ifd` if it lies in lo..hi.
    std::optional<std::uint32_t> entriesOf(std::uint64_t sector, std::uint64_t ifd, std::uint32_t lo,
                                           std::uint32_t hi = kMaxEntries);
    // The RAW-embedded JPEG starts at this file offset.
    void previewAt(std::uint64_t sector, std::uint64_t offset);

    // A Make beginning with one of `refused` answers no; one beginning with
    // one of `tested` goes through the family's maker table; any other is
    // passed over.
    Verdict makerTestsOf(platform::ByteView make, const Entry& entry, Classification& c,
                         std::initializer_list<std::string_view> refused,
                         std::initializer_list<std::string_view> tested);

    // The strip offset or byte count of the entry at `at` in the window
    // (which holds its directory): the entry's own value, or with a count
    // of 2..arrayLimit the array's last element. Nothing when the array
    // lies beyond the family's offsets or its read failed.
    std::optional<std::uint64_t> stripValue(std::uint64_t sectorNumber, std::uint64_t at, std::uint32_t arrayLimit);

    // Panasonic and Leica: IFD0's strip end (or IFD0's own end when no
    // strip lies beyond it) + 512, and the preview tag 46 points at.
    std::uint64_t ifd0StripSize(platform::ByteView leading, std::uint64_t sectorNumber);

    // The length of the JPEG stream at the byte offset in the device
    // sector, from its markers; 0 when none starts there.
    std::uint64_t jpegSize(std::uint64_t sector, std::uint32_t offset);

private:
    std::unique_ptr<JpegStreamWalk> jpeg_;
};
