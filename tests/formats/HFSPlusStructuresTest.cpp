// The HFS and HFS+ structure converters: the extent-record rule and the name
// bounds, short and random input, and real volumes made by macOS and by
// xorriso, checked against what The Sleuth Kit's fsstat and istat read from
// the same images.

#include "formats/HFSPlusStructures.h"

#include "formats/Extent.h"
#include "platform/ByteView.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "platform/TextEncoding.h"
#include "support/TestSupport.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using platform::ByteView;
using testsupport::haveTool;
using testsupport::runCommand;

namespace {

// ------------------------------------------------------------ builders ----

// A zeroed buffer that big-endian fields are written into at their offsets.
class Bytes {
public:
    explicit Bytes(std::size_t n) : b_(n, 0) {}
    Bytes& be16(std::size_t off, std::uint16_t v) { return put(off, v, 2); }
    Bytes& be32(std::size_t off, std::uint32_t v) { return put(off, v, 4); }
    Bytes& be64(std::size_t off, std::uint64_t v) { return put(off, v, 8); }
    ByteView view() const { return ByteView(b_); }

private:
    Bytes& put(std::size_t off, std::uint64_t v, int width) {
        testsupport::putBE(b_, off, v, width);
        return *this;
    }
    std::vector<std::uint8_t> b_;
};

} // namespace

TEST(HFSPlusStructures, NameLengthsPast255ReadNoNameAndTheKeyHeaderStays) {
    // A catalog key's name starts at byte 8, a thread record's at byte 10;
    // 300 units are there whatever the length field says.
    std::u16string units;
    for (std::size_t i = 0; i < 300; ++i)
        units += static_cast<char16_t>(0x4E00 + i);
    for (const std::uint16_t length : {0, 1, 255, 256, 300, 0xFFFF}) {
        SCOPED_TRACE(length);
        const bool valid = length <= 255; // 255 units is the longest name, read whole
        Bytes key(8 + 2 * units.size()), thread(hfsplus::kCatalogThreadNameOffset + 2 * units.size());
        key.be16(0, 516).be32(2, 99).be16(6, length);
        thread.be16(0, hfsplus::kFileThreadRecord).be32(4, 1).be16(8, length);
        for (std::size_t i = 0; i < units.size(); ++i) {
            key.be16(8 + 2 * i, units[i]);
            thread.be16(hfsplus::kCatalogThreadNameOffset + 2 * i, units[i]);
        }
        const HFSPlusCatalogKey_ k = convertHPlusCatalogKey(key.view());
        EXPECT_EQ(k.keyLength, 516);
        EXPECT_EQ(k.parentID, 99u);
        EXPECT_EQ(k.nodeName.length, length);
        EXPECT_EQ(k.nameLengthValid(), valid);
        EXPECT_EQ(k.nodeName.unicode, valid ? units.substr(0, length) : u"");
        const HFSPlusCatalogThread_ t = convertHPlusCatalogThread(thread.view());
        EXPECT_EQ(t.nameLengthValid(), valid);
        EXPECT_EQ(t.nodeName.unicode, valid ? units.substr(0, length) : u"");
    }
}

// ==================================================== the extent-record rule

TEST(HFSPlusExtentRule, TheFirstDescriptorWithStartBlockZeroEndsTheList) {
    // The start blocks of the eight descriptors (counts 1, the zero one's 9)
    // and how many the list keeps.
    const struct {
        std::array<std::uint32_t, 8> starts;
        std::size_t length;
    } cases[] = {
        {{10, 11, 12, 13, 14, 15, 16, 17}, 8},
        {{0, 41, 42, 43, 44, 45, 46, 47}, 0},
        {{10, 20, 30, 0, 104, 105, 106, 107}, 3},
    };
    for (const auto& c : cases) {
        Bytes b(hfsplus::kExtentRecordSize);
        for (std::uint32_t i = 0; i < 8; ++i)
            b.be32(8 * i, c.starts[i]).be32(8 * i + 4, c.starts[i] ? 1 : 9);
        const HFSPlusExtentRecord_ r = convertHPlusExtRec(b.view());
        EXPECT_EQ(extentListLength(r), c.length);
        for (std::size_t i = 0; i < 8; ++i)
            EXPECT_EQ(r[i], (i < c.length ? HFSPlusExtentDescriptor_{c.starts[i], 1} : HFSPlusExtentDescriptor_{}))
                << "descriptor " << i;
    }
    // The single-descriptor reader takes an empty one as it stands.
    Bytes b(hfsplus::kExtentDescriptorSize);
    b.be32(0, 0).be32(4, 9);
    EXPECT_EQ(convertHPlusExtentDescriptor(b.view()), (HFSPlusExtentDescriptor_{0, 9}));
}

TEST(HFSPlusExtentRule, AppliesToEveryForkOfTheVolumeHeaderAndOfAFileRecord) {
    Bytes vib(hfsplus::kVolumeInformationBlockSize);
    for (std::size_t fork : {112u, 192u, 272u, 352u, 432u}) {
        vib.be64(fork, 8192).be32(fork + 12, 2);
        vib.be32(fork + 16, 7).be32(fork + 20, 1);
        vib.be32(fork + 24, 0).be32(fork + 28, 1); // ends the list
        vib.be32(fork + 32, 9).be32(fork + 36, 1); // behind the end: not taken
    }
    const VolumeInformationBlock v = convertVIB(vib.view());
    for (const HFSPlusForkData_* f :
         {&v.allocationFile, &v.extentsFile, &v.catalogFile, &v.attributesFile, &v.startupFile}) {
        EXPECT_EQ(std::tuple(f->logicalSize, f->totalBlocks), std::tuple(8192u, 2u));
        EXPECT_EQ(f->extents, (HFSPlusExtentRecord_{{{7, 1}}}));
    }

    Bytes file(hfsplus::kCatalogFileSize);
    file.be16(0, 2).be32(88 + 16, 0).be32(88 + 20, 3).be32(88 + 24, 50).be32(88 + 28, 3);
    file.be32(168 + 16, 60).be32(168 + 20, 1).be32(168 + 24, 0).be32(168 + 32, 61).be32(168 + 36, 1);
    const HFSPlusCatalogFile_ f = convertHPlusCatalogFile(file.view());
    EXPECT_EQ(f.dataFork.extents, HFSPlusExtentRecord_{});
    EXPECT_EQ(f.resourceFork.extents, (HFSPlusExtentRecord_{{{60, 1}}}));
}

// ============================================================ short input

namespace {

// One field of a structure: where it lies and how to read it back as a
// number, for checking decodes of cut-off buffers.
template <class T> struct Field {
    std::string name;
    std::size_t off;
    std::size_t width;
    std::function<std::uint64_t(const T&)> get;
};

#define FIELD(o, w, member)                                                                                            \
    Field<T> {                                                                                                         \
#member, o, w, [](const T& s) { return static_cast<std::uint64_t>(s.member); }                                 \
    }

template <class T, std::size_t N>
void addBytes(std::vector<Field<T>>& v, const std::string& name, std::size_t off,
              std::array<std::uint8_t, N> T::*member) {
    for (std::size_t i = 0; i < N; ++i)
        v.push_back({name + "[" + std::to_string(i) + "]", off + i, 1,
                     [member, i](const T& s) { return std::uint64_t((s.*member)[i]); }});
}

template <class T>
void addFork(std::vector<Field<T>>& v, const std::string& name, std::size_t off, HFSPlusForkData_ T::*member) {
    v.push_back({name + ".logicalSize", off, 8, [member](const T& s) { return (s.*member).logicalSize; }});
    v.push_back(
        {name + ".clumpSize", off + 8, 4, [member](const T& s) { return std::uint64_t((s.*member).clumpSize); }});
    v.push_back(
        {name + ".totalBlocks", off + 12, 4, [member](const T& s) { return std::uint64_t((s.*member).totalBlocks); }});
    for (std::size_t i = 0; i < 8; ++i) {
        v.push_back({name + ".start" + std::to_string(i), off + 16 + 8 * i, 4,
                     [member, i](const T& s) { return std::uint64_t((s.*member).extents[i].startBlock); }});
        v.push_back({name + ".count" + std::to_string(i), off + 20 + 8 * i, 4,
                     [member, i](const T& s) { return std::uint64_t((s.*member).extents[i].blockCount); }});
    }
}

// Bytes 1..255 only, so no start block reads 0 and every extent list is full.
std::vector<std::uint8_t> nonZeroBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(1, 255);
    std::vector<std::uint8_t> v(n);
    for (auto& x : v)
        x = static_cast<std::uint8_t>(d(rng));
    return v;
}

// Decodes every prefix of `full`, each from a heap block of exactly its own
// length (so an over-read is an AddressSanitizer error), and checks that
// every field wholly inside the prefix reads as in the full decode and every
// other field reads 0.
template <class T, class Decode>
void checkEveryPrefix(const std::vector<std::uint8_t>& full, Decode decode, const std::vector<Field<T>>& fields,
                      const std::function<void(const T&, const T&, std::size_t)>& extra = {}) {
    const T whole = decode(ByteView(full));
    for (std::size_t n = 0; n <= full.size(); ++n) {
        auto block = std::make_unique<std::uint8_t[]>(n);
        if (n) std::memcpy(block.get(), full.data(), n);
        const T part = decode(ByteView(block.get(), n));
        for (const auto& f : fields) {
            const std::uint64_t want = f.off + f.width <= n ? f.get(whole) : 0;
            ASSERT_EQ(f.get(part), want) << f.name << " with " << n << " bytes";
        }
        if (extra) extra(whole, part, n);
    }
}

} // namespace

TEST(HFSPlusShortInput, VolumeHeaderGivesZeroForEveryMissingField) {
    using T = VolumeInformationBlock;
    std::vector<Field<T>> f{
        FIELD(0, 2, signature),          FIELD(2, 2, version),           FIELD(4, 4, attributes),
        FIELD(8, 4, lastMountedVersion), FIELD(12, 4, journalInfoBlock), FIELD(16, 4, createDate),
        FIELD(20, 4, modifyDate),        FIELD(24, 4, backupDate),       FIELD(28, 4, checkedDate),
        FIELD(32, 4, fileCount),         FIELD(36, 4, folderCount),      FIELD(40, 4, blockSize),
        FIELD(44, 4, totalBlocks),       FIELD(48, 4, freeBlocks),       FIELD(52, 4, nextAllocation),
        FIELD(56, 4, rsrcClumpSize),     FIELD(60, 4, dataClumpSize),    FIELD(64, 4, nextCatalogID),
        FIELD(68, 4, writeCount),        FIELD(72, 8, encodingsBitmap)};
    addBytes(f, "finderInfo", 80, &T::finderInfo);
    addFork(f, "allocationFile", 112, &T::allocationFile);
    addFork(f, "extentsFile", 192, &T::extentsFile);
    addFork(f, "catalogFile", 272, &T::catalogFile);
    addFork(f, "attributesFile", 352, &T::attributesFile);
    addFork(f, "startupFile", 432, &T::startupFile);
    checkEveryPrefix<T>(nonZeroBytes(hfsplus::kVolumeInformationBlockSize, 1), convertVIB, f);
}

TEST(HFSPlusShortInput, MasterDirectoryBlockGivesZeroForEveryMissingField) {
    using T = MasterDirectoryBlock;
    std::vector<Field<T>> f{
        FIELD(0, 2, drSigWord),       FIELD(2, 4, drCrDate),    FIELD(6, 4, drLsMod),      FIELD(10, 2, drAtrb),
        FIELD(12, 2, drNmFls),        FIELD(14, 2, drVBMSt),    FIELD(16, 2, drAllocPtr),  FIELD(18, 2, drNmAlBlks),
        FIELD(20, 4, drAlBlkSiz),     FIELD(24, 4, drClpSiz),   FIELD(28, 2, drAlBlSt),    FIELD(30, 4, drNxtCNID),
        FIELD(34, 2, drFreeBks),      FIELD(36, 1, nameLength), FIELD(64, 4, drVolBkUp),   FIELD(68, 2, drVSeqNum),
        FIELD(70, 4, drWrCnt),        FIELD(74, 4, drXTClpSiz), FIELD(78, 4, drCTClpSiz),  FIELD(82, 2, drNmRtDirs),
        FIELD(84, 4, drFilCnt),       FIELD(88, 4, drDirCnt),   FIELD(130, 4, drXTFlSize), FIELD(146, 4, drCTFlSize),
        FIELD(124, 2, drEmbedSigWord)};
    f.push_back(FIELD(126, 2, drEmbedExtent.xdrStABN));
    f.push_back(FIELD(128, 2, drEmbedExtent.xdrNumABlks));
    addBytes(f, "drVN", 37, &T::drVN);
    addBytes(f, "drFndrInfo", 92, &T::drFndrInfo);
    for (std::size_t i = 0; i < 3; ++i) {
        f.push_back({"drXTExtRec.start" + std::to_string(i), 134 + 4 * i, 2,
                     [i](const T& s) { return std::uint64_t(s.drXTExtRec[i].xdrStABN); }});
        f.push_back({"drXTExtRec.count" + std::to_string(i), 136 + 4 * i, 2,
                     [i](const T& s) { return std::uint64_t(s.drXTExtRec[i].xdrNumABlks); }});
        f.push_back({"drCTExtRec.start" + std::to_string(i), 150 + 4 * i, 2,
                     [i](const T& s) { return std::uint64_t(s.drCTExtRec[i].xdrStABN); }});
        f.push_back({"drCTExtRec.count" + std::to_string(i), 152 + 4 * i, 2,
                     [i](const T& s) { return std::uint64_t(s.drCTExtRec[i].xdrNumABlks); }});
    }
    checkEveryPrefix<T>(nonZeroBytes(hfsplus::kMasterDirectoryBlockSize, 2), convertMDB, f);
}

TEST(HFSPlusShortInput, NodeDescriptorAndHeaderRecordGiveZeroForMissingFields) {
    {
        using T = BTNodeDescriptor_;
        std::vector<Field<T>> f{FIELD(0, 4, fLink),  FIELD(4, 4, bLink),       FIELD(8, 1, kind),
                                FIELD(9, 1, height), FIELD(10, 2, numRecords), FIELD(12, 2, reserved)};
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kBTNodeDescriptorSize, 3), convertBTNodeDesc, f);
    }
    {
        using T = BTHeaderRecord;
        std::vector<Field<T>> f{FIELD(0, 2, treeDepth),       FIELD(2, 4, rootNode),      FIELD(6, 4, leafRecords),
                                FIELD(10, 4, firstLeafNode),  FIELD(14, 4, lastLeafNode), FIELD(18, 2, nodeSize),
                                FIELD(20, 2, maxKeyLength),   FIELD(22, 4, totalNodes),   FIELD(26, 4, freeNodes),
                                FIELD(30, 2, reserved1),      FIELD(32, 4, clumpSize),    FIELD(36, 1, btreeType),
                                FIELD(37, 1, keyCompareType), FIELD(38, 4, attributes)};
        for (std::size_t i = 0; i < 16; ++i)
            f.push_back({"reserved3[" + std::to_string(i) + "]", 42 + 4 * i, 4,
                         [i](const T& s) { return std::uint64_t(s.reserved3[i]); }});
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kBTHeaderRecordSize, 4), convertBTHdrRec, f);
    }
}

TEST(HFSPlusShortInput, CatalogKeyAndThreadNamesAreCutToTheWholeUnitsPresent) {
    {
        using T = HFSPlusCatalogKey_;
        auto full = nonZeroBytes(8 + 2 * 200, 5);
        full[6] = 0;
        full[7] = 200;
        std::vector<Field<T>> f{FIELD(0, 2, keyLength), FIELD(2, 4, parentID), FIELD(6, 2, nodeName.length)};
        checkEveryPrefix<T>(full, convertHPlusCatalogKey, f, [](const T& whole, const T& part, std::size_t n) {
            const std::size_t units = n >= 8 ? (n - 8) / 2 : 0;
            ASSERT_EQ(whole.nodeName.unicode.size(), 200u);
            ASSERT_EQ(part.nodeName.unicode, whole.nodeName.unicode.substr(0, units)) << n << " bytes";
        });
    }
    {
        using T = HFSPlusCatalogThread_;
        auto full = nonZeroBytes(10 + 2 * 255, 6);
        full[8] = 0;
        full[9] = 255;
        std::vector<Field<T>> f{FIELD(0, 2, recordType), FIELD(2, 2, reserved), FIELD(4, 4, parentID),
                                FIELD(8, 2, nodeName.length)};
        checkEveryPrefix<T>(full, convertHPlusCatalogThread, f, [](const T& whole, const T& part, std::size_t n) {
            const std::size_t units = n >= 10 ? (n - 10) / 2 : 0;
            ASSERT_EQ(part.nodeName.unicode, whole.nodeName.unicode.substr(0, units)) << n << " bytes";
        });
    }
}

TEST(HFSPlusShortInput, CatalogFolderAndFileRecordsGiveZeroForMissingFields) {
    {
        using T = HFSPlusCatalogFolder_;
        std::vector<Field<T>> f{FIELD(0, 2, recordType),        FIELD(2, 2, flags),       FIELD(4, 4, valence),
                                FIELD(8, 4, folderID),          FIELD(12, 4, createDate), FIELD(16, 4, contentModDate),
                                FIELD(20, 4, attributeModDate), FIELD(24, 4, accessDate), FIELD(28, 4, backupDate),
                                FIELD(80, 4, textEncoding),     FIELD(84, 4, reserved)};
        addBytes(f, "bsdInfo", 32, &T::bsdInfo);
        addBytes(f, "userInfo", 48, &T::userInfo);
        addBytes(f, "finderInfo", 64, &T::finderInfo);
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kCatalogFolderSize, 7), convertHPlusCatalogFolder, f);
    }
    {
        using T = HFSPlusCatalogFile_;
        std::vector<Field<T>> f{FIELD(0, 2, recordType),        FIELD(2, 2, flags),
                                FIELD(4, 4, reserved1),         FIELD(8, 4, fileID),
                                FIELD(12, 4, createDate),       FIELD(16, 4, contentModDate),
                                FIELD(20, 4, attributeModDate), FIELD(24, 4, accessDate),
                                FIELD(28, 4, backupDate),       FIELD(80, 4, textEncoding),
                                FIELD(84, 4, reserved2)};
        addBytes(f, "bsdInfo", 32, &T::bsdInfo);
        addBytes(f, "userInfo", 48, &T::userInfo);
        addBytes(f, "finderInfo", 64, &T::finderInfo);
        addFork(f, "dataFork", 88, &T::dataFork);
        addFork(f, "resourceFork", 168, &T::resourceFork);
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kCatalogFileSize, 8), convertHPlusCatalogFile, f);
    }
}

TEST(HFSPlusShortInput, ExtentKeyRecordAndJournalInfoGiveZeroForMissingFields) {
    {
        using T = HFSPlusExtentKey_;
        std::vector<Field<T>> f{FIELD(0, 2, keyLength), FIELD(2, 1, forkType), FIELD(3, 1, pad), FIELD(4, 4, fileID),
                                FIELD(8, 4, startBlock)};
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kExtentKeySize, 9), convertHPlusExtentKey, f);
    }
    {
        using T = HFSPlusExtentRecord_;
        std::vector<Field<T>> f;
        for (std::size_t i = 0; i < 8; ++i) {
            f.push_back(
                {"start" + std::to_string(i), 8 * i, 4, [i](const T& s) { return std::uint64_t(s[i].startBlock); }});
            f.push_back({"count" + std::to_string(i), 8 * i + 4, 4,
                         [i](const T& s) { return std::uint64_t(s[i].blockCount); }});
        }
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kExtentRecordSize, 10), convertHPlusExtRec, f);
    }
    {
        using T = JournalInfoBlock;
        std::vector<Field<T>> f{FIELD(0, 4, flags), FIELD(36, 8, offset), FIELD(44, 8, size)};
        addBytes(f, "deviceSignature", 4, &T::deviceSignature);
        checkEveryPrefix<T>(nonZeroBytes(hfsplus::kJournalInfoBlockSize, 11), convertJournalInfoBlock, f);
    }
}

#undef FIELD

// ============================================================ random input

namespace {
void expectExtentRule(const HFSPlusExtentRecord_& r) {
    const std::size_t n = extentListLength(r);
    for (std::size_t i = n; i < r.size(); ++i)
        ASSERT_EQ(r[i], HFSPlusExtentDescriptor_{});
}
} // namespace

TEST(HFSPlusRandomInput, EveryConverterCopesAndKeepsItsRules) {
    std::mt19937 rng(20240601);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t n = std::uniform_int_distribution<std::size_t>(0, 600)(rng);
        // Some rounds are mostly zero bytes, so short extent lists and small
        // name lengths come up as well as long ones.
        const int zeroPercent = std::uniform_int_distribution<int>(0, 100)(rng);
        auto block = std::make_unique<std::uint8_t[]>(n);
        for (std::size_t i = 0; i < n; ++i)
            block[i] = std::uniform_int_distribution<int>(0, 99)(rng) < zeroPercent
                           ? 0
                           : static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(rng));
        const ByteView v(block.get(), n);

        convertMDB(v);
        const VolumeInformationBlock vib = convertVIB(v);
        for (const auto* fork :
             {&vib.allocationFile, &vib.extentsFile, &vib.catalogFile, &vib.attributesFile, &vib.startupFile})
            expectExtentRule(fork->extents);
        convertBTNodeDesc(v);
        convertBTHdrRec(v);
        const HFSPlusCatalogKey_ key = convertHPlusCatalogKey(v);
        if (!key.nameLengthValid()) {
            ASSERT_TRUE(key.nodeName.unicode.empty());
        } else {
            ASSERT_LE(key.nodeName.unicode.size(), key.nodeName.length);
            ASSERT_LE(key.nodeName.unicode.size(), n >= 8 ? (n - 8) / 2 : 0);
        }
        const HFSPlusCatalogThread_ thread = convertHPlusCatalogThread(v);
        if (!thread.nameLengthValid()) {
            ASSERT_TRUE(thread.nodeName.unicode.empty());
        }
        convertHPlusCatalogFolder(v);
        const HFSPlusCatalogFile_ file = convertHPlusCatalogFile(v);
        expectExtentRule(file.dataFork.extents);
        expectExtentRule(file.resourceFork.extents);
        convertHPlusExtentKey(v);
        expectExtentRule(convertHPlusExtRec(v));
        convertHPlusExtentDescriptor(v);
        convertJournalInfoBlock(v);
    }
}

// ================================================================= Extent

TEST(Extent, AListOfExtentsSurvivesArchivingInOrderWithTheLargestStartBlock) {
    Extent::registerArchiveClass();
    platform::Array list;
    for (std::uint32_t i = 0; i < 5; ++i)
        list.push_back(platform::Value(std::make_shared<Extent>(i == 4 ? 4294967295u : 100 * i + 1, i)));
    std::string error;
    auto data = platform::KeyedArchiver::archivedDataWithRootObject(platform::Value(list), &error);
    ASSERT_TRUE(data) << error;
    auto back = platform::KeyedUnarchiver::unarchiveObjectWithData(*data, &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->arrayValue().size(), 5u);
    for (std::uint32_t i = 0; i < 5; ++i) {
        auto e = back->arrayValue()[i].objectAs<Extent>();
        ASSERT_TRUE(e);
        EXPECT_EQ(*e, Extent(i == 4 ? 4294967295u : 100 * i + 1, i));
    }
}

namespace {
// An archived object recorded as an Extent that wrote none of its keys.
class KeylessExtentRecord : public platform::Archivable {
public:
    std::string className() const override { return "Extent"; }
    void encodeWithCoder(platform::KeyedArchiver&) const override {}
};
} // namespace

TEST(Extent, AnArchiveWithoutTheKeysDecodesAsZeroAndZero) {
    Extent::registerArchiveClass();
    std::string error;
    auto data = platform::KeyedArchiver::archivedDataWithRootObject(
        platform::Value(std::make_shared<KeylessExtentRecord>()), &error);
    ASSERT_TRUE(data) << error;
    auto back = platform::KeyedUnarchiver::unarchiveObjectWithData(*data, &error);
    ASSERT_TRUE(back) << error;
    auto e = back->objectAs<Extent>();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->startBlock(), 0u);
    EXPECT_EQ(e->blockCount(), 0u);
}

// =============================================================== real images

namespace {

std::string trim(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

// A Sleuth Kit report on the HFS+ volume at a 512-byte sector of an image:
// "Key: value" lines (the first of each key), and lines without a colon as
// keys with an empty value; empty when the tool failed.
std::map<std::string, std::string> sleuthKit(const std::string& tool, const fs::path& image, std::uint64_t start,
                                             const std::string& arg = "") {
    std::map<std::string, std::string> out;
    const auto text = runCommand("TZ=UTC " + tool + " -f hfs -o " + std::to_string(start) + " " +
                                 testsupport::shellQuote(image.string()) + " " + arg + " 2>/dev/null");
    std::istringstream in(text.value_or(""));
    for (std::string line; std::getline(in, line);) {
        if (trim(line).empty() || line.find("----") == 0) continue;
        const auto colon = line.find(':');
        out.emplace(trim(line.substr(0, colon)), colon == std::string::npos ? "" : trim(line.substr(colon + 1)));
    }
    return out;
}

// An HFS+ date the way The Sleuth Kit prints it.
std::string tskDate(std::uint32_t hfsDate) {
    if (hfsDate == 0) return "0000-00-00 00:00:00 (UTC)";
    const std::time_t t = static_cast<std::time_t>(hfsDate) - hfsplus::kSecondsFrom1904To1970;
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S (UTC)", &tm);
    return buf;
}

std::string hex(const std::uint8_t* p, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += {"0123456789abcdef"[p[i] >> 4], "0123456789abcdef"[p[i] & 15]};
    return out;
}

// Byte position in the volume of byte `pos` of a fork, walking its extents.
std::optional<std::uint64_t> forkByte(const HFSPlusForkData_& fork, std::uint32_t blockSize, std::uint64_t pos) {
    for (std::size_t i = 0; i < extentListLength(fork.extents); ++i) {
        const std::uint64_t len = std::uint64_t(fork.extents[i].blockCount) * blockSize;
        if (pos < len) return std::uint64_t(fork.extents[i].startBlock) * blockSize + pos;
        pos -= len;
    }
    return std::nullopt;
}

// Decodes the volume header and the catalog's header node of an HFS+ volume
// and compares them with fsstat and istat, then reads the root folder's
// records from the first catalog leaf.
void checkAgainstSleuthKit(const fs::path& image, std::uint64_t startSector) {
    const auto read = [&](std::uint64_t at, std::size_t n) {
        return testsupport::readBytesAt(image, startSector * 512 + at, n);
    };

    // --- volume header ---
    const auto vibBytes = read(hfsplus::kVolumeHeaderOffset, hfsplus::kVolumeInformationBlockSize);
    ASSERT_EQ(vibBytes.size(), hfsplus::kVolumeInformationBlockSize);
    const VolumeInformationBlock vib = convertVIB(ByteView(vibBytes));
    ASSERT_TRUE(hfsplus::isHFSPlusSignature(vib.signature));
    ASSERT_GT(vib.blockSize, 0u);
    EXPECT_EQ(convertMDB(ByteView(vibBytes)).drSigWord, vib.signature)
        << "a bare HFS+ volume is no HFS wrapper: the MDB position holds the H+ header";

    const auto r = sleuthKit("fsstat", image, startSector);
    ASSERT_FALSE(r.empty()) << "fsstat failed on " << image;
    const std::map<std::string, std::string> want{
        {"File System Type", vib.signature == hfsplus::kHFSXSignature ? "HFSX" : "HFS+"},
        {"Allocation Block Size", std::to_string(vib.blockSize)},
        {"Block Range", "0 - " + std::to_string(vib.totalBlocks - 1)},
        {"Number of Free Blocks", std::to_string(vib.freeBlocks)},
        {"Number of files", std::to_string(vib.fileCount)},
        {"Number of folders", std::to_string(vib.folderCount)},
        {"Range", "2 - " + std::to_string(vib.nextCatalogID - 1)},
        {"Mount Count", std::to_string(vib.writeCount)},
        {"Volume Identifier", hex(vib.finderInfo.data() + 24, 8)}, // Finder information is kept in disk order
        {"Creation Date", tskDate(vib.createDate)},
        {"Last Written Date", tskDate(vib.modifyDate)},
        {"Last Backup Date", tskDate(vib.backupDate)},
        {"Last Checked Date", tskDate(vib.checkedDate)}};
    std::map<std::string, std::string> got;
    for (const auto& [key, value] : want)
        got[key] = r.count(key) ? r.at(key) : "(missing)";
    EXPECT_EQ(got, want);
    EXPECT_EQ(r.count("Volume Unmounted Properly") == 1, (vib.attributes & 0x100) != 0);
    EXPECT_EQ(r.count("Software write protect enabled") == 1, (vib.attributes & 0x8000) != 0);
    const std::string mountedBy = r.at("Last Mounted By");
    if (mountedBy == "Mac OS X") {
        EXPECT_EQ(vib.lastMountedVersion, 0x31302E30u); // "10.0"
    } else if (mountedBy.rfind("Unknown (", 0) == 0) {
        char version[16];
        std::snprintf(version, sizeof version, "%x", vib.lastMountedVersion);
        EXPECT_EQ(mountedBy.substr(9, std::strlen(version)), version);
    }

    // --- the alternate header, 1024 bytes before the end ---
    const auto altBytes = read(std::uint64_t(vib.totalBlocks) * vib.blockSize - hfsplus::kAlternateHeaderFromEnd,
                               hfsplus::kVolumeInformationBlockSize);
    const VolumeInformationBlock alt = convertVIB(ByteView(altBytes));
    EXPECT_TRUE(hfsplus::isHFSPlusSignature(alt.signature));
    EXPECT_EQ(std::tuple(alt.totalBlocks, alt.blockSize), std::tuple(vib.totalBlocks, vib.blockSize));

    // --- the catalog's and the extents file's sizes, as istat sees them ---
    for (const auto& [id, fork] :
         {std::pair{hfsplus::kCatalogFileID, &vib.catalogFile}, std::pair{hfsplus::kExtentsFileID, &vib.extentsFile}}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(sleuthKit("istat", image, startSector, std::to_string(id))["Size"],
                  std::to_string(fork->logicalSize));
        EXPECT_EQ(std::uint64_t(fork->totalBlocks) * vib.blockSize, fork->logicalSize);
        ASSERT_GE(extentListLength(fork->extents), 1u);
    }

    // --- the catalog's header node: header record, user data record (128 bytes), map record ---
    const std::uint64_t catalogStart = std::uint64_t(vib.catalogFile.extents[0].startBlock) * vib.blockSize;
    const BTHeaderRecord hdr = convertBTHdrRec(ByteView(read(catalogStart, 512)).sub(hfsplus::kBTHeaderRecordOffset));
    ASSERT_GE(hdr.nodeSize, 512);
    ASSERT_EQ(hdr.nodeSize & (hdr.nodeSize - 1), 0) << "node sizes are powers of two";
    const auto node0 = read(catalogStart, hdr.nodeSize);
    ASSERT_EQ(node0.size(), hdr.nodeSize);
    const ByteView n0(node0);
    const BTNodeDescriptor_ desc = convertBTNodeDesc(n0);
    EXPECT_EQ(std::tuple(desc.kind, desc.height, desc.bLink, desc.numRecords),
              std::tuple(hfsplus::kHeaderNode, 0, 0u, 3));
    EXPECT_EQ((std::vector<int>{n0.be16(hdr.nodeSize - 2), n0.be16(hdr.nodeSize - 4), n0.be16(hdr.nodeSize - 6)}),
              (std::vector<int>{14, 14 + hfsplus::kBTHeaderRecordSize, 14 + hfsplus::kBTHeaderRecordSize + 128}));
    EXPECT_EQ(std::uint64_t(hdr.totalNodes) * hdr.nodeSize, vib.catalogFile.logicalSize);
    EXPECT_LT(hdr.freeNodes, hdr.totalNodes);
    EXPECT_GE(hdr.treeDepth, 1);
    EXPECT_GT(hdr.rootNode, 0u);
    EXPECT_LT(hdr.rootNode, hdr.totalNodes);
    EXPECT_GT(hdr.firstLeafNode, 0u);
    EXPECT_LE(hdr.firstLeafNode, hdr.lastLeafNode);
    EXPECT_LT(hdr.lastLeafNode, hdr.totalNodes);
    EXPECT_EQ(hdr.maxKeyLength, 516);
    // Every file and folder, the root included, has one record and one
    // thread record in the leaves; fsstat's counts leave the root out.
    EXPECT_EQ(hdr.leafRecords, 2 * (vib.fileCount + vib.folderCount + 1));

    // --- the root folder and its thread, first in the first leaf ---
    const auto leafPos = forkByte(vib.catalogFile, vib.blockSize, std::uint64_t(hdr.firstLeafNode) * hdr.nodeSize);
    ASSERT_TRUE(leafPos);
    const auto leafBytes = read(*leafPos, hdr.nodeSize);
    const ByteView leaf(leafBytes);
    const BTNodeDescriptor_ leafDesc = convertBTNodeDesc(leaf);
    EXPECT_EQ(std::tuple(leafDesc.kind, leafDesc.height), std::tuple(hfsplus::kLeafNode, 1));
    ASSERT_GE(leafDesc.numRecords, 2);
    const std::size_t rec0 = leaf.be16(hdr.nodeSize - 2);
    ASSERT_EQ(rec0, 14u);
    const HFSPlusCatalogKey_ rootKey = convertHPlusCatalogKey(leaf.sub(rec0));
    ASSERT_TRUE(rootKey.nameLengthValid());
    EXPECT_EQ(rootKey.parentID, hfsplus::kRootParentID);
    EXPECT_EQ(platform::utf8FromUtf16(rootKey.nodeName.unicode), r.at("Volume Name"));
    const HFSPlusCatalogFolder_ root = convertHPlusCatalogFolder(leaf.sub(rec0 + rootKey.keyLength + 2));
    EXPECT_EQ(std::tuple(root.recordType, root.folderID), std::tuple(hfsplus::kFolderRecord, hfsplus::kRootFolderID));
    const std::size_t rec1 = leaf.be16(hdr.nodeSize - 4);
    const HFSPlusCatalogKey_ threadKey = convertHPlusCatalogKey(leaf.sub(rec1));
    EXPECT_EQ(std::tuple(threadKey.parentID, threadKey.nodeName.length), std::tuple(hfsplus::kRootFolderID, 0));
    const HFSPlusCatalogThread_ thread = convertHPlusCatalogThread(leaf.sub(rec1 + threadKey.keyLength + 2));
    EXPECT_EQ(std::tuple(thread.recordType, thread.parentID),
              std::tuple(hfsplus::kFolderThreadRecord, hfsplus::kRootParentID));
    EXPECT_EQ(platform::utf8FromUtf16(thread.nodeName.unicode), r.at("Volume Name"));

    // --- the extents file's header node ---
    const auto ext0 = read(std::uint64_t(vib.extentsFile.extents[0].startBlock) * vib.blockSize, 512);
    const BTNodeDescriptor_ extDesc = convertBTNodeDesc(ByteView(ext0));
    EXPECT_EQ(std::tuple(extDesc.kind, extDesc.numRecords), std::tuple(hfsplus::kHeaderNode, 3));
    const BTHeaderRecord extHdr = convertBTHdrRec(ByteView(ext0).sub(hfsplus::kBTHeaderRecordOffset));
    EXPECT_EQ(std::uint64_t(extHdr.totalNodes) * extHdr.nodeSize, vib.extentsFile.logicalSize);
    EXPECT_EQ(extHdr.maxKeyLength, hfsplus::kExtentKeyLength);
}

} // namespace

TEST(HFSPlusRealImages, VolumeMadeByMacOSMatchesFsstat) {
    if (!haveTool("fsstat") || !haveTool("istat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    const fs::path copy = testsupport::copyOfReadyImage("hfsplus.raw");
    if (copy.empty()) GTEST_SKIP() << "hfsplus.raw is not among the shared fixtures";
    const auto bytes =
        testsupport::readBytesAt(copy, hfsplus::kVolumeHeaderOffset, hfsplus::kVolumeInformationBlockSize);
    const VolumeInformationBlock vib = convertVIB(ByteView(bytes));
    // What the image is known to be: signature, block size and count, no journal.
    EXPECT_EQ(std::tuple(vib.signature, vib.blockSize, vib.totalBlocks, vib.journalInfoBlock),
              std::tuple(hfsplus::kHFSPlusSignature, 4096u, 1014u, 0u));
    checkAgainstSleuthKit(copy, 0);
}

TEST(HFSPlusRealImages, VolumeMadeByXorrisoMatchesFsstat) {
    if (!haveTool("fsstat") || !haveTool("istat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    const fs::path iso = testsupport::testImage("hfsplus.iso"), start = testsupport::testImage("hfsplus.start");
    if (iso.empty() || start.empty()) GTEST_SKIP() << "the xorriso image is not among the fixture images";
    std::uint64_t sector = 0;
    std::ifstream(start) >> sector;
    ASSERT_GT(sector, 0u) << "the HFS+ volume lies behind the ISO 9660 structures";
    checkAgainstSleuthKit(iso, sector);
}
