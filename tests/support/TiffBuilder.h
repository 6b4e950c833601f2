#pragma once

// Builds TIFF-structured files in memory for the tests: camera raw files are
// written by no Linux tool, and their size walks live on the shape of the
// directory chain, so the tests write that shape on purpose.
//
//     TiffBuilder b;                          // "II", magic 42
//     b.extraHeader("CR\x02\0\0\0\0\0"s);     // bytes 8.. (a CR2 header)
//     auto ifd0 = b.addIfd();                 // the chain, in order of adding
//     b.ascii(ifd0, 271, "Canon");
//     b.strips(ifd0, {b.addBlob(TiffBuilder::jpeg(5000))});
//     auto raw = b.addIfd();
//     b.strips(raw, {b.addBlob(std::string(9000, 'r'))});
//     std::string file = b.build();
//
// Layout: the header (8 bytes and the extra header bytes), then each
// directory in order of adding followed by its out-of-line values, then the
// blobs in order of adding; nothing is padded. Entries are written in the
// order they are added, as given (no sorting), so crafted files keep what a
// test asks for. After build(), offsetOf() tells where each part went.

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class TiffBuilder {
public:
    enum Type : std::uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, Undefined = 7 };
    // A directory or a blob, by order of adding.
    struct Ifd {
        std::size_t index;
    };
    struct Blob {
        std::size_t index;
    };

    explicit TiffBuilder(bool bigEndian = false);

    // Header bytes 2-3 as given (not in the file's byte order).
    TiffBuilder& magic(std::uint8_t first, std::uint8_t second);
    // Bytes written from offset 8 on, before the first directory.
    TiffBuilder& extraHeader(const std::string& bytes);
    // IFD0's offset in the header, whatever the layout.
    TiffBuilder& ifd0Offset(std::uint32_t offset);

    // A directory of the chain, or (detached) one only pointers reach:
    // sub-IFDs, EXIF directories, maker notes.
    Ifd addIfd(bool detached = false);
    // Its next-IFD offset points at `to` (or is the value given) instead of
    // following the chain: loops and wild offsets.
    void linkTo(Ifd from, Ifd to);
    void nextOffset(Ifd from, std::uint32_t offset);
    Blob addBlob(const std::string& bytes);

    // An entry with these values; out of line when they take more than 4
    // bytes.
    void entry(Ifd ifd, std::uint16_t tag, Type type, const std::vector<std::uint32_t>& values);
    // A text entry (NUL added) or UNDEFINED bytes.
    void ascii(Ifd ifd, std::uint16_t tag, const std::string& text);
    void bytes(Ifd ifd, std::uint16_t tag, const std::string& data);
    // An entry written exactly as given: any type, count and value field.
    void raw(Ifd ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value);
    // Entries whose value is where `target` lies (as a LONG, or of the given
    // type and count): the EXIF pointer, a MakerNote (type UNDEFINED with
    // the directory's length as its count), a JPEG offset.
    void pointer(Ifd ifd, std::uint16_t tag, Ifd target, Type type = Long);
    void pointer(Ifd ifd, std::uint16_t tag, Blob target);
    // StripOffsets and StripByteCounts (273/279) or TileOffsets and
    // TileByteCounts (324/325) for the blobs, in the given type.
    void strips(Ifd ifd, const std::vector<Blob>& blobs, Type type = Long);
    void tiles(Ifd ifd, const std::vector<Blob>& blobs, Type type = Long);
    // SubIFDs (330) naming the directories.
    void subIfds(Ifd ifd, const std::vector<Ifd>& children);
    // An uncompressed RGB image of `width` x `height` pixels (`rgb`, three
    // bytes a pixel) in strips of 16 rows, of subfile type `kind`: the
    // entries that describe it, and the strips as blobs behind them.
    void rgbImage(Ifd ifd, std::uint32_t kind, unsigned width, unsigned height, const std::string& rgb);

    std::string build();
    std::uint64_t offsetOf(Ifd ifd) const { return ifdOffsets_.at(ifd.index); }
    std::uint64_t offsetOf(Blob blob) const { return blobOffsets_.at(blob.index); }
    // A directory's bytes: count, entries, next offset.
    std::uint64_t sizeOf(Ifd ifd) const { return 6 + 12 * ifds_.at(ifd.index).entries.size(); }

    // A baseline JPEG stream of exactly `size` bytes (at least 20): SOI, a
    // comment segment, SOS, scan bytes without markers, EOI.
    static std::string jpeg(std::size_t size);

private:
    struct Ref {
        enum Kind { Number, IfdAt, BlobAt, BlobSize, IfdSize } kind;
        std::uint64_t n;
    };
    struct Entry {
        std::uint16_t tag;
        std::uint16_t type;
        std::vector<Ref> values{}; // numbers or references
        std::string data{};        // ASCII / UNDEFINED bytes instead
        bool rawField = false;     // count and value field given
        std::uint32_t count = 0;
    };
    struct Directory {
        std::vector<Entry> entries{};
        bool detached = false;
        long long next = -1; // a directory index, or -2: nextValue
        std::uint32_t nextValue = 0;
    };
    void putValue(std::string& out, std::size_t at, std::uint64_t value, int width) const;
    std::uint64_t resolve(const Ref& ref) const;
    static int widthOf(std::uint16_t type);
    std::size_t outOfLineBytes(const Entry& e) const;
    void pair(Ifd ifd, std::uint16_t offsetsTag, std::uint16_t countsTag, const std::vector<Blob>& blobs, Type type);

    bool big_;
    std::uint8_t magic_[2];
    std::string extra_;
    long long ifd0Offset_ = -1;
    std::vector<Directory> ifds_;
    std::vector<std::string> blobs_;
    std::vector<std::uint64_t> ifdOffsets_, blobOffsets_;
};

} // namespace testsupport
