#include "support/TiffBuilder.h"

#include <stdexcept>

namespace testsupport {

TiffBuilder::TiffBuilder(bool bigEndian) : big_(bigEndian) {
    magic_[0] = big_ ? 0x00 : 0x2A;
    magic_[1] = big_ ? 0x2A : 0x00;
}

TiffBuilder& TiffBuilder::magic(std::uint8_t first, std::uint8_t second) {
    magic_[0] = first;
    magic_[1] = second;
    return *this;
}

TiffBuilder& TiffBuilder::extraHeader(const std::string& bytes) {
    extra_ = bytes;
    return *this;
}

TiffBuilder& TiffBuilder::ifd0Offset(std::uint32_t offset) {
    ifd0Offset_ = offset;
    return *this;
}

TiffBuilder::Ifd TiffBuilder::addIfd(bool detached) {
    ifds_.push_back(Directory{.detached = detached});
    return {ifds_.size() - 1};
}

void TiffBuilder::linkTo(Ifd from, Ifd to) {
    ifds_.at(from.index).next = static_cast<long long>(to.index);
}

void TiffBuilder::nextOffset(Ifd from, std::uint32_t offset) {
    ifds_.at(from.index).next = -2;
    ifds_.at(from.index).nextValue = offset;
}

TiffBuilder::Blob TiffBuilder::addBlob(const std::string& bytes) {
    blobs_.push_back(bytes);
    return {blobs_.size() - 1};
}

void TiffBuilder::entry(Ifd ifd, std::uint16_t tag, Type type, const std::vector<std::uint32_t>& values) {
    Entry e{.tag = tag, .type = type, .values = {}};
    for (const std::uint32_t v : values)
        e.values.push_back({Ref::Number, v});
    ifds_.at(ifd.index).entries.push_back(e);
}

void TiffBuilder::ascii(Ifd ifd, std::uint16_t tag, const std::string& text) {
    ifds_.at(ifd.index).entries.push_back(Entry{.tag = tag, .type = Ascii, .values = {}, .data = text + '\0'});
}

void TiffBuilder::bytes(Ifd ifd, std::uint16_t tag, const std::string& data) {
    ifds_.at(ifd.index).entries.push_back(Entry{.tag = tag, .type = Undefined, .values = {}, .data = data});
}

void TiffBuilder::raw(Ifd ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    ifds_.at(ifd.index).entries.push_back(
        Entry{.tag = tag, .type = type, .values = {{Ref::Number, count}, {Ref::Number, value}}, .rawField = true});
}

void TiffBuilder::pointer(Ifd ifd, std::uint16_t tag, Ifd target, Type type) {
    const Ref count = type == Undefined ? Ref{Ref::IfdSize, target.index} : Ref{Ref::Number, 1};
    ifds_.at(ifd.index).entries.push_back(
        Entry{.tag = tag, .type = type, .values = {count, {Ref::IfdAt, target.index}}, .rawField = true});
}

void TiffBuilder::pointer(Ifd ifd, std::uint16_t tag, Blob target) {
    ifds_.at(ifd.index).entries.push_back(Entry{.tag = tag, .type = Long, .values = {{Ref::BlobAt, target.index}}});
}

void TiffBuilder::pair(Ifd ifd, std::uint16_t offsetsTag, std::uint16_t countsTag, const std::vector<Blob>& blobs,
                       Type type) {
    Entry offsets{.tag = offsetsTag, .type = type, .values = {}};
    Entry counts{.tag = countsTag, .type = type, .values = {}};
    for (const Blob b : blobs) {
        offsets.values.push_back({Ref::BlobAt, b.index});
        counts.values.push_back({Ref::BlobSize, b.index});
    }
    ifds_.at(ifd.index).entries.push_back(offsets);
    ifds_.at(ifd.index).entries.push_back(counts);
}

void TiffBuilder::strips(Ifd ifd, const std::vector<Blob>& blobs, Type type) {
    pair(ifd, 273, 279, blobs, type);
}

void TiffBuilder::rgbImage(Ifd ifd, std::uint32_t kind, unsigned width, unsigned height, const std::string& rgb) {
    entry(ifd, 254, Long, {kind});
    entry(ifd, 256, Long, {width});
    entry(ifd, 257, Long, {height});
    entry(ifd, 258, Short, {8, 8, 8});
    entry(ifd, 259, Short, {1});
    entry(ifd, 262, Short, {2});
    std::vector<Blob> blobs;
    const std::size_t stripBytes = std::size_t{16} * 3 * width;
    for (std::size_t at = 0; at < rgb.size(); at += stripBytes)
        blobs.push_back(addBlob(rgb.substr(at, stripBytes)));
    strips(ifd, blobs);
    entry(ifd, 277, Short, {3});
    entry(ifd, 278, Short, {16});
}

void TiffBuilder::tiles(Ifd ifd, const std::vector<Blob>& blobs, Type type) {
    pair(ifd, 324, 325, blobs, type);
}

void TiffBuilder::subIfds(Ifd ifd, const std::vector<Ifd>& children) {
    Entry e{.tag = 330, .type = Long, .values = {}};
    for (const Ifd c : children)
        e.values.push_back({Ref::IfdAt, c.index});
    ifds_.at(ifd.index).entries.push_back(e);
}

int TiffBuilder::widthOf(std::uint16_t type) {
    switch (type) {
    case Short:
        return 2;
    case Long:
        return 4;
    case Rational:
        return 8;
    default:
        return 1;
    }
}

std::size_t TiffBuilder::outOfLineBytes(const Entry& e) const {
    if (e.rawField) return 0;
    const std::size_t n = e.data.empty() ? e.values.size() * widthOf(e.type) : e.data.size();
    return n > 4 ? n : 0;
}

std::uint64_t TiffBuilder::resolve(const Ref& ref) const {
    switch (ref.kind) {
    case Ref::IfdAt:
        return ifdOffsets_.at(ref.n);
    case Ref::BlobAt:
        return blobOffsets_.at(ref.n);
    case Ref::BlobSize:
        return blobs_.at(ref.n).size();
    case Ref::IfdSize:
        return sizeOf({ref.n});
    default:
        return ref.n;
    }
}

void TiffBuilder::putValue(std::string& out, std::size_t at, std::uint64_t value, int width) const {
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (big_ ? width - 1 - i : i);
        out.at(at + i) = static_cast<char>((value >> shift) & 0xFF);
    }
}

std::string TiffBuilder::build() {
    std::uint64_t pos = 8 + extra_.size();
    ifdOffsets_.clear();
    blobOffsets_.clear();
    for (const Directory& d : ifds_) {
        ifdOffsets_.push_back(pos);
        pos += 6 + 12 * d.entries.size();
        for (const Entry& e : d.entries)
            pos += outOfLineBytes(e);
    }
    for (const std::string& b : blobs_) {
        blobOffsets_.push_back(pos);
        pos += b.size();
    }
    std::string out(pos, '\0');
    out[0] = out[1] = big_ ? 'M' : 'I';
    out[2] = static_cast<char>(magic_[0]);
    out[3] = static_cast<char>(magic_[1]);
    if (ifd0Offset_ >= 0)
        putValue(out, 4, static_cast<std::uint64_t>(ifd0Offset_), 4);
    else if (!ifds_.empty())
        putValue(out, 4, ifdOffsets_[0], 4);
    out.replace(8, extra_.size(), extra_);

    for (std::size_t i = 0; i < ifds_.size(); ++i) {
        const Directory& d = ifds_[i];
        std::size_t at = ifdOffsets_[i];
        std::size_t data = at + sizeOf({i});
        putValue(out, at, d.entries.size(), 2);
        for (const Entry& e : d.entries) {
            const std::size_t field = at + 2 + 4 + 4;
            putValue(out, at + 2, e.tag, 2);
            putValue(out, at + 4, e.type, 2);
            if (e.rawField) {
                putValue(out, at + 6, resolve(e.values[0]), 4);
                putValue(out, field, resolve(e.values[1]), 4);
            } else {
                const std::size_t spill = outOfLineBytes(e);
                const std::size_t target = spill ? data : field;
                if (spill) putValue(out, field, data, 4);
                if (!e.data.empty()) {
                    putValue(out, at + 6, e.data.size(), 4);
                    out.replace(target, e.data.size(), e.data);
                } else {
                    putValue(out, at + 6, e.values.size(), 4);
                    const int width = widthOf(e.type);
                    for (std::size_t v = 0; v < e.values.size(); ++v)
                        putValue(out, target + v * width, resolve(e.values[v]), width);
                }
                data += spill;
            }
            at += 12;
        }
        std::uint64_t next = 0;
        if (d.next == -2)
            next = d.nextValue;
        else if (d.next >= 0)
            next = ifdOffsets_.at(static_cast<std::size_t>(d.next));
        else if (!d.detached)
            for (std::size_t j = i + 1; j < ifds_.size(); ++j)
                if (!ifds_[j].detached) {
                    next = ifdOffsets_[j];
                    break;
                }
        putValue(out, at + 2, next, 4);
    }
    for (std::size_t b = 0; b < blobs_.size(); ++b)
        out.replace(blobOffsets_[b], blobs_[b].size(), blobs_[b]);
    return out;
}

std::string TiffBuilder::jpeg(std::size_t size) {
    static const std::string head("\xFF\xD8\xFF\xFE\x00\x06tiff\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 20);
    if (size < head.size() + 2) throw std::invalid_argument("a JPEG stream needs at least 22 bytes");
    std::string out = head;
    for (std::size_t i = head.size(); i + 2 < size; ++i)
        out += static_cast<char>(i % 251);
    return out + "\xFF\xD9";
}

} // namespace testsupport
