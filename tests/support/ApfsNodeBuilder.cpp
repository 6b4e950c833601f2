#include "support/ApfsNodeBuilder.h"

#include "support/TestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

constexpr std::size_t kNodeHeader = 56;
constexpr std::size_t kTreeInfo = 40;
constexpr std::uint16_t kFolderMode = 0040755;
constexpr std::uint16_t kFileMode = 0100644;

std::size_t roundUp8(std::size_t n) {
    return (n + 7) & ~std::size_t{7};
}

std::vector<std::uint8_t> keyHeader(std::uint64_t type, std::uint64_t id, std::size_t length) {
    std::vector<std::uint8_t> key(length);
    putLE(key, 0, (type << 60) | (id & 0x0FFF'FFFF'FFFF'FFFFull), 8);
    return key;
}

std::vector<std::uint8_t> le64(std::uint64_t value) {
    std::vector<std::uint8_t> bytes(8);
    putLE(bytes, 0, value, 8);
    return bytes;
}

// A file descriptor closed on every way out.
struct Fd {
    int fd;
    Fd(const fs::path& path, int flags) : fd(::open(path.c_str(), flags)) {
        if (fd < 0) throw std::runtime_error("cannot open " + path.string());
    }
    ~Fd() { ::close(fd); }
};

} // namespace

ApfsNodeBuilder::ApfsNodeBuilder(fs::path container, std::uint64_t firstBlock) : container_(std::move(container)) {
    blockCount_ = fs::file_size(container_) / kBlockSize;
    next_ = firstBlock != 0 ? firstBlock : blockCount_ / 4;
}

fs::path ApfsNodeBuilder::makeContainer(const fs::path& file, std::uint64_t bytes) {
    if (!haveTool("mkapfs")) return {};
    zeroFile(file, bytes);
    if (!runCommand("mkapfs -L BUILT " + shellQuote(file.string()) + " 2>&1")) return {};
    return file;
}

ApfsNodeBuilder::Record ApfsNodeBuilder::inode(const Inode& in) {
    std::vector<Field> fields = in.fieldsBefore;
    Field name{kNameField, 0x02, {in.name.begin(), in.name.end()}}; // do-not-copy, as a name is written
    name.value.push_back(0);
    fields.push_back(std::move(name));
    if (in.size) {
        Field stream{kDataStreamField, 0x20, std::vector<std::uint8_t>(40)}; // a system field
        putLE(stream.value, 0, *in.size, 8);
        putLE(stream.value, 8, (*in.size + kBlockSize - 1) / kBlockSize * kBlockSize, 8);
        fields.push_back(std::move(stream));
    }

    std::size_t data = 0;
    for (const Field& f : fields)
        data += roundUp8(f.value.size());
    std::vector<std::uint8_t> v(92 + 4 + 4 * fields.size() + data);
    putLE(v, 0, in.parent, 8);
    putLE(v, 8, in.privateId != 0 ? in.privateId : in.id, 8);
    for (std::size_t time = 16; time < 48; time += 8)
        putLE(v, time, in.time, 8);
    putLE(v, 56, 1, 4); // children or links
    putLE(v, 72, 99, 4);
    putLE(v, 76, 99, 4);
    putLE(v, 80, in.mode != 0 ? in.mode : in.folder ? kFolderMode : kFileMode, 2);
    putLE(v, 92, fields.size(), 2);
    putLE(v, 94, data, 2);
    std::size_t at = 96 + 4 * fields.size();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        v[96 + 4 * i] = fields[i].type;
        v[97 + 4 * i] = fields[i].flags;
        putLE(v, 98 + 4 * i, fields[i].value.size(), 2);
        std::copy(fields[i].value.begin(), fields[i].value.end(), v.begin() + static_cast<std::ptrdiff_t>(at));
        at += roundUp8(fields[i].value.size());
    }
    return {keyHeader(kInodeRecord, in.id, 8), std::move(v)};
}

ApfsNodeBuilder::Record ApfsNodeBuilder::fileExtent(std::uint64_t owner, std::uint64_t logicalOffset,
                                                    std::uint64_t length, std::uint64_t physicalBlock,
                                                    std::uint8_t lengthFlags) {
    auto key = keyHeader(kFileExtentRecord, owner, 16);
    putLE(key, 8, logicalOffset, 8);
    std::vector<std::uint8_t> value(24);
    putLE(value, 0, (length & 0x00FF'FFFF'FFFF'FFFFull) | std::uint64_t{lengthFlags} << 56, 8);
    putLE(value, 8, physicalBlock, 8);
    return {std::move(key), std::move(value)};
}

ApfsNodeBuilder::Record ApfsNodeBuilder::dirRecord(std::uint64_t parent, const std::string& name, std::uint64_t fileId,
                                                   bool folder) {
    // The name's hash stays 0: nothing that reads these nodes looks at it.
    auto key = keyHeader(kDirRecord, parent, 12 + name.size() + 1);
    putLE(key, 8, name.size() + 1, 4);
    std::copy(name.begin(), name.end(), key.begin() + 12);
    std::vector<std::uint8_t> value(18);
    putLE(value, 0, fileId, 8);
    putLE(value, 8, 1'700'000'000'000'000'000ull, 8);
    putLE(value, 16, folder ? 4 : 8, 2); // the directory-entry type
    return {std::move(key), std::move(value)};
}

ApfsNodeBuilder::Record ApfsNodeBuilder::pointer(std::uint64_t type, std::uint64_t id, std::uint64_t childOid) {
    return {keyHeader(type, id, 8), le64(childOid)};
}

std::vector<std::uint8_t> ApfsNodeBuilder::nodeBlock(const Node& node) {
    std::vector<std::uint8_t> b(kBlockSize);
    const bool root = (node.flags & kRoot) != 0;
    const bool fixed = (node.flags & kFixed) != 0;
    const std::size_t slot = fixed ? 4 : 8;
    const std::size_t slots = std::max(node.tocSlots, roundUp8(node.records.size()));
    const std::size_t keyStart = kNodeHeader + slots * slot;
    const std::size_t valueEnd = kBlockSize - (root ? kTreeInfo : 0);

    putLE(b, 8, node.oid, 8);
    putLE(b, 16, node.xid, 8);
    putLE(b, 24, node.objectType != 0 ? node.objectType : root ? 2 : 3, 2);
    putLE(b, 26, node.objectFlags, 2);
    putLE(b, 28, node.subtype, 4);
    putLE(b, 32, node.flags, 2);
    putLE(b, 34, node.level, 2);
    putLE(b, 36, node.records.size(), 4);
    putLE(b, 40, 0, 2);
    putLE(b, 42, slots * slot, 2);

    std::size_t keys = 0, values = 0, longestKey = 0, longestValue = 0;
    for (std::size_t i = 0; i < node.records.size(); ++i) {
        const Record& r = node.records[i];
        const std::size_t valueAt = values + roundUp8(r.value.size());
        if (keyStart + keys + r.key.size() > valueEnd - valueAt)
            throw std::length_error("the records do not fit in one node");
        std::copy(r.key.begin(), r.key.end(), b.begin() + static_cast<std::ptrdiff_t>(keyStart + keys));
        std::copy(r.value.begin(), r.value.end(), b.begin() + static_cast<std::ptrdiff_t>(valueEnd - valueAt));
        const std::size_t toc = kNodeHeader + i * slot;
        putLE(b, toc, keys, 2);
        if (fixed) {
            putLE(b, toc + 2, valueAt, 2);
        } else {
            putLE(b, toc + 2, r.key.size(), 2);
            putLE(b, toc + 4, valueAt, 2);
            putLE(b, toc + 6, r.value.size(), 2);
        }
        keys += roundUp8(r.key.size());
        values = valueAt;
        longestKey = std::max(longestKey, r.key.size());
        longestValue = std::max(longestValue, r.value.size());
    }
    // The free space between the keys and the values; both free lists empty.
    putLE(b, 44, keys, 2);
    putLE(b, 46, valueEnd - values - keyStart - keys, 2);
    putLE(b, 48, 0xFFFF, 2);
    putLE(b, 52, 0xFFFF, 2);
    if (root) {
        const std::size_t info = kBlockSize - kTreeInfo;
        putLE(b, info + 4, kBlockSize, 4);
        putLE(b, info + 16, longestKey, 4);
        putLE(b, info + 20, longestValue, 4);
        putLE(b, info + 24, node.records.size(), 8);
        putLE(b, info + 32, 1, 8);
    }
    seal(b);
    return b;
}

std::uint64_t ApfsNodeBuilder::checksum(const std::vector<std::uint8_t>& block) {
    // Fletcher-64 over the 32-bit little-endian words after the checksum.
    constexpr std::uint64_t mod = 0xFFFF'FFFFull;
    std::uint64_t sum1 = 0, sum2 = 0;
    for (std::size_t i = 8; i + 4 <= block.size(); i += 4) {
        const std::uint64_t word =
            block[i] | block[i + 1] << 8 | block[i + 2] << 16 | std::uint64_t{block[i + 3]} << 24;
        sum1 = (sum1 + word) % mod;
        sum2 = (sum2 + sum1) % mod;
    }
    const std::uint64_t c1 = mod - (sum1 + sum2) % mod;
    const std::uint64_t c2 = mod - (sum1 + c1) % mod;
    return c2 << 32 | c1;
}

void ApfsNodeBuilder::seal(std::vector<std::uint8_t>& block) {
    putLE(block, 0, checksum(block), 8);
}

bool ApfsNodeBuilder::isFree(std::uint64_t block) const {
    std::vector<std::uint8_t> bytes(kBlockSize);
    Fd f(container_, O_RDONLY);
    if (::pread(f.fd, bytes.data(), kBlockSize, static_cast<off_t>(block * kBlockSize)) !=
        static_cast<ssize_t>(kBlockSize))
        return false;
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t c) { return c == 0; });
}

void ApfsNodeBuilder::put(std::uint64_t block, const std::uint8_t* bytes, std::size_t length) {
    Fd f(container_, O_WRONLY);
    if (::pwrite(f.fd, bytes, length, static_cast<off_t>(block * kBlockSize)) != static_cast<ssize_t>(length))
        throw std::runtime_error("cannot write block " + std::to_string(block));
}

std::uint64_t ApfsNodeBuilder::writeNode(const Node& node) {
    return writeBlock(nodeBlock(node));
}

std::uint64_t ApfsNodeBuilder::writeBlock(const std::vector<std::uint8_t>& block) {
    if (block.size() != kBlockSize) throw std::invalid_argument("a block is 4096 bytes");
    return writeData(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
}

std::uint64_t ApfsNodeBuilder::writeData(std::string_view bytes) {
    const std::uint64_t blocks = std::max<std::uint64_t>(1, (bytes.size() + kBlockSize - 1) / kBlockSize);
    std::uint64_t first = next_, run = 0;
    while (run < blocks) {
        if (first + run >= blockCount_) throw std::length_error("no free blocks left in the container");
        if (isFree(first + run)) {
            ++run;
        } else {
            first += run + 1;
            run = 0;
        }
    }
    std::vector<std::uint8_t> padded(blocks * kBlockSize);
    std::copy(bytes.begin(), bytes.end(), padded.begin());
    put(first, padded.data(), padded.size());
    next_ = first + blocks;
    return first;
}

} // namespace testsupport
