#pragma once

// What the camera raw members of the TIFF family add to the shared
// classification: reading a strip array's last element (raw files keep their
// image last, so the last strip ends the file), the Sony and Kodak Model
// tests, and the maker tests of the Sony and Kodak classifiers that do not
// go on past a Canon TIFF.

#include "sizecalc/TiffClassifier.h"

#include <optional>

class RawTiffClassifier : public TiffClassifier {
protected:
    using TiffClassifier::TiffClassifier;

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
};
