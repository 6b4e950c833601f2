#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "session/RecoverySessionOpening.h"
#include "session/RecoverySessionSaving.h"
#include "session/SessionFileItems.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <random>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;
using platform::Value;

namespace {

// Puts the checks' own reader back however a test that changed it ends.
struct RawReadsReset {
    ~RawReadsReset() { SessionMediumCheck::setRawReadFor({}); }
};

class RecoverySessionTest : public testsupport::ScanFixture {
protected:
    fs::path dir = testsupport::makeTempDir("session");

    // The save thread's body as the program runs it, from the partition
    // search's list.
    bool save(const std::shared_ptr<Volume>& v, const fs::path& file, SessionFileOutput::RawWrite write = {}) {
        RecoverySession s{v,     1,  4, 1, Array{Dict{{"Path", v->path()}}}, Array{Dict{{"Path", "/dev/other"}}},
                          false, {}, {}};
        RecoverySessionSaving saving(s, file.string());
        saving.setPanelSettleDelay(std::chrono::milliseconds(0));
        saving.setRawWrite(std::move(write));
        return saving.saveScanInfo();
    }
    // Opened as the program opens it: the session it adopted, or none.
    std::optional<RecoverySession> open(const fs::path& file) {
        if (!RecoverySessionOpening::checkHead(file.string())) return std::nullopt;
        RecoverySessionOpening opening(file.string());
        std::optional<RecoverySession> adopted;
        opening.setAdopt([&](const RecoverySession& s) { adopted = s, keep(s.volume); });
        const bool opened = opening.openScanInfo();
        EXPECT_EQ(opened, adopted.has_value());
        return adopted;
    }
    std::vector<std::string> alertTitles() {
        std::vector<std::string> titles;
        for (const auto& a : controller.alerts())
            titles.push_back(a.title);
        return titles;
    }
    // The archives at the start of a head; nothing but zeros follows them.
    static std::vector<std::string> headStrings(const std::vector<std::uint8_t>& head) {
        std::vector<std::string> out;
        std::size_t at = 0;
        for (std::uint32_t n;
             at + 4 <= head.size() && (n = platform::ByteView(head).be32(at)) != 0 && at + 4 + n <= head.size();
             at += 4 + n) {
            auto v =
                platform::KeyedUnarchiver::unarchiveObjectWithData({head.begin() + at + 4, head.begin() + at + 4 + n});
            out.push_back(v ? v->stringValue() : "?");
        }
        EXPECT_TRUE(std::all_of(head.begin() + at, head.end(), [](auto b) { return b == 0; }));
        return out;
    }
    void expectSameTree(Volume& scanned, Volume& opened) {
        const auto before = testsupport::nodesByPath(scanned.dirRoot), after = testsupport::nodesByPath(opened.dirRoot);
        ASSERT_EQ(before.size(), after.size());
        for (const auto& [path, a] : before) {
            const NewDir* b = after.count(path) ? after.at(path) : nullptr;
            ASSERT_TRUE(b) << path;
            EXPECT_EQ(
                std::tuple(a->fileType, a->deleted, a->selected, a->isFATEntry, a->dataStartSector, a->sectorsPerBlock),
                std::tuple(b->fileType, b->deleted, b->selected, b->isFATEntry, b->dataStartSector, b->sectorsPerBlock))
                << path;
            if (a->isFolder()) continue;
            auto extents = [](const NewDir* n) {
                std::vector<std::pair<std::uint32_t, std::uint32_t>> e;
                for (const ExtP& x : n->extents)
                    e.emplace_back(x.startBlock, x.blockCount);
                return e;
            };
            EXPECT_EQ(std::tuple(a->fileSize, a->fileCount, a->createDate, a->modDate, a->complete, extents(a)),
                      std::tuple(b->fileSize, b->fileCount, b->createDate, b->modDate, b->complete, extents(b)))
                << path;
            EXPECT_EQ(testsupport::readThroughExtents(scanned, *a), testsupport::readThroughExtents(opened, *b))
                << path;
        }
    }
    // A small finished tree: Root { Docs { a.txt, gone.txt (deleted) }, b.bin }.
    std::shared_ptr<Volume> smallVolume() {
        auto v = keep(testsupport::volumeOver(testsupport::patternImage(64)));
        NewDir* root = v->createRoot();
        auto add = [&](NewDir* parent, const char16_t* name, std::uint16_t kind, std::uint64_t size) {
            NewDir* n = newdir::allocate();
            n->fileType = kind, n->fileSize = size, n->pndirPointer = parent, n->sectorsPerBlock = 1;
            newdir::setFileName(n, name);
            if (size) newdir::appendDataExtent(n, 3, 2);
            newdir::appendChild(parent, n);
            return n;
        };
        NewDir* docs = add(root, u"Docs", NewDir::Folder, 0);
        add(docs, u"a.txt", NewDir::File, 700);
        add(docs, u"gone.txt", NewDir::File, 10)->deleted = 1;
        add(root, u"b.bin", NewDir::File, 1);
        return v;
    }
};

} // namespace

TEST_F(RecoverySessionTest, ScansOfTheMacOSVolumeAndTheXorrisoVolumeOpenAgainWithTheSameTreeAndBytes) {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) GTEST_SKIP() << "xorriso image not made";
    for (auto [image, start] :
         {std::pair{testsupport::copyOfReadyImage("hfsplus.raw"), std::uint64_t{0}}, std::pair{iso.path, iso.start}}) {
        auto scanned = keep(testsupport::scannedVolume(image, start));
        ASSERT_TRUE(scanned && scanned->dirRoot);
        scanned->dirRoot->childList[0]->selected = scanned->dirRoot->selected = 1;
        const fs::path file = dir / (image.filename().string() + ".drs");
        ASSERT_TRUE(save(scanned, file));
        EXPECT_TRUE(scanned->scanInfoSaved);
        EXPECT_EQ(headStrings(testsupport::readBytesAt(file, 0, 1024)),
                  (std::vector<std::string>{"Complete", RecoverySessionFile::kVersion}));

        // The drive is met again under another path: it is recognised by its
        // first sectors and lends the session its path.
        const fs::path moved = testsupport::copyToTemp(image);
        controller.clear();
        controller.setDriveDictArray(Array{Dict{{"Path", "/dev/null"}, {"Preferred Block Size", 512}},
                                           Dict{{"Path", moved.string()}, {"Preferred Block Size", 512}}});
        auto opened = open(file);
        ASSERT_TRUE(opened);
        EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Recovery Session Opened"}));
        EXPECT_EQ(std::tuple(opened->volume->path(), opened->volume->cPath(), opened->volume->openedScanInfo,
                             opened->volume->scanInfoSaved, opened->scanMode, opened->rawSearchMode,
                             opened->isPTListOrPTScanListChosen),
                  std::tuple(moved.string(), moved.string(), true, true, 1, 4, 1));
        EXPECT_EQ(opened->partitionListDictArray[0].dictValue().get("Path").stringValue(), moved.string());
        EXPECT_EQ(opened->partitionScanListDictArray[0].dictValue().get("Path").stringValue(), "/dev/other");
        expectSameTree(*scanned, *opened->volume);
        EXPECT_EQ(opened->volume->dirRoot->fileSize, scanned->dirRoot->fileSize);
    }
}

TEST_F(RecoverySessionTest, ASessionWhoseDriveIsGoneStillOpensAndSaysSo) {
    auto v = smallVolume();
    ASSERT_TRUE(save(v, dir / "small.drs"));
    controller.clear();
    controller.setDriveDictArray({});
    auto opened = open(dir / "small.drs");
    ASSERT_TRUE(opened);
    EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Drive Not Connected", "Recovery Session Opened"}));
    // Folder totals come from the files there; a deleted file marks its folders.
    const NewDir* docs = testsupport::nodeAt(opened->volume->dirRoot, "Docs");
    EXPECT_EQ(std::tuple(docs->fileSize, docs->fileCount, docs->deleted, docs->deletedCount()),
              std::tuple(std::uint64_t{710}, 2u, std::uint8_t{1}, 1u));
    EXPECT_EQ(opened->volume->dirRoot->childrenCount, 4u);
}

TEST_F(RecoverySessionTest, AFileCutAnywhereOrScrambledEndsWithACleanError) {
    auto v = smallVolume();
    const fs::path whole = dir / "whole.drs", cut = dir / "cut.drs";
    ASSERT_TRUE(save(v, whole));
    const std::vector<std::uint8_t> bytes = testsupport::readBytes(whole);
    // Whether the file opened; when not, it said so and left nothing running.
    auto opens = [&](const std::vector<std::uint8_t>& damaged) {
        testsupport::writeText(cut, std::string(damaged.begin(), damaged.end()));
        controller.clear();
        if (open(cut)) return true;
        EXPECT_TRUE(!controller.alerts().empty() && controller.alerts().back().title == "! Error");
        EXPECT_TRUE(controller.scanInfoOrSavingNotProcessing());
        return false;
    };
    // Cut right after the tree it is a whole session of the time before the found files' print was kept.
    std::uint64_t treeEnd = 0;
    {
        auto in = SessionFileInput::open(whole.string(), nullptr);
        RecoverySession read;
        ASSERT_TRUE(in && RecoverySessionFile::readSettings(*in, read));
        newdir::freeNDir(RecoverySessionFile::readTree(*in));
        treeEnd = in->position();
        ASSERT_FALSE(RecoverySessionFile::readPrint(*in).value().samples.empty());
    }
    for (std::size_t length = 0; length < bytes.size(); ++length)
        EXPECT_EQ(opens({bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)}), length == treeEnd)
            << length;
    std::mt19937 random(20);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> damaged = bytes;
        const std::size_t at = 1024 + random() % (bytes.size() - 1024);
        for (std::size_t i = at; i < std::min(bytes.size(), at + 1 + random() % 8); ++i)
            damaged[i] = static_cast<std::uint8_t>(random());
        opens(damaged);
    }
    std::vector<std::uint8_t> noise(4096);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(random());
    EXPECT_FALSE(opens(noise));
}

TEST_F(RecoverySessionTest, AFailingDiskLeavesTheFileUnfinishedAndSaysWhy) {
    auto v = smallVolume();
    const fs::path file = dir / "full.drs";
    const bool saved = save(v, file, [](int fd, const std::uint8_t* data, std::size_t n, std::uint64_t at) {
        if (at >= 1024) return errno = ENOSPC, std::int64_t{-1};
        return static_cast<std::int64_t>(::pwrite(fd, data, n, static_cast<off_t>(at)));
    });
    EXPECT_FALSE(saved);
    EXPECT_FALSE(v->scanInfoSaved);
    ASSERT_EQ(alertTitles(), (std::vector<std::string>{"! Error"}));
    EXPECT_NE(controller.alerts()[0].message.find("No space left on device"), std::string::npos);
    EXPECT_EQ(headStrings(testsupport::readBytesAt(file, 0, 1024)), (std::vector<std::string>{"UnComple"}));
    EXPECT_TRUE(controller.scanInfoOrSavingNotProcessing());
    // Nor is a session ever written over the medium it came from.
    controller.clear();
    EXPECT_FALSE(save(v, v->path()));
    EXPECT_EQ(testsupport::asString(testsupport::readBytesAt(v->path(), 0, 64)), testsupport::patternBytes(0, 64));
}

// A session of a disk whose sector 3 (alone, or its whole page through the page cache), or every one of its first
// five, cannot be read when the session is saved, when it is opened, or both, opens on its own disk: the unreadable
// sectors are kept marked, as zeros beside the volume's archive root, and the others compared; where none can be, the
// size and the found files decide. Each check asks for each sector once and alone, past the cache: a failed read for
// each bad one. A disk of the same size with other content, one with the same first sectors but other files, and one
// too short to hold the volume are refused though they fail the same sectors. A session of a disk that read whole
// keeps no mark.
TEST_F(RecoverySessionTest, AFailingDiskOpensItsSessionsOnItselfAndNoOtherDiskDoes) {
    constexpr std::uint64_t kSectors = 256;
    const fs::path disk = testsupport::patternImage(kSectors);
    const auto [other, twin] = testsupport::impostorsOf(disk, kSectors);
    const fs::path shorter = testsupport::makeTempDir("short") / "short.img";
    testsupport::writeText(shorter, testsupport::readText(disk).substr(0, (kSectors - 8) * 512));
    const auto rowOf = [](const fs::path& p) { return Dict{{"Path", p.string()}, {"Preferred Block Size", 512}}; };

    enum When { Saved = 1, Opened = 2, Both = 3 };
    const RawReadsReset reset;
    for (const auto& [bad, wholePages] : {std::pair{1u, false}, {1u, true}, {5u, false}})
        for (const When when : {Saved, Opened, Both}) {
            SCOPED_TRACE(std::to_string(bad) + " bad" + (wholePages ? " pages, " : ", ") + std::to_string(when));
            // Files at sectors 40, 80 and 120 make the print.
            auto v = keep(testsupport::volumeOver(disk));
            NewDir* root = v->createRoot();
            for (std::uint32_t at : {40, 80, 120}) {
                NewDir* n = newdir::allocate();
                n->fileType = NewDir::File, n->fileSize = 512, n->pndirPointer = root, n->sectorsPerBlock = 1;
                newdir::setFileName(n, u"f" + std::u16string(1, char16_t(u'0' + at / 40)));
                newdir::appendDataExtent(n, at, 1);
                newdir::appendChild(root, n);
            }
            testsupport::FailingReads saving, opening;
            const std::uint64_t first = bad == 1 ? 3 : 0;
            if (when & Saved) saving.failSectors(first, bad);
            if (when & Opened) opening.failSectors(first, bad);
            if (wholePages) saving.failWholePagesThroughTheCache(), opening.failWholePagesThroughTheCache();
            const testsupport::FailingReads* now = &saving;
            SessionMediumCheck::setRawReadFor([&](const std::string&) { return now->reader(); });
            // Listed: a failed read is a bad sector, not a drive that has gone.
            Array rows{rowOf(other), rowOf(twin)};
            if (bad == 5) rows.push_back(rowOf(shorter));
            rows.push_back(rowOf(disk));
            controller.setDriveDictArray(rows);
            const fs::path file = dir / "failing.drs";
            fs::remove(file);
            ASSERT_TRUE(save(v, file));
            EXPECT_EQ(saving.failedReads(), when & Saved ? bad : 0u);

            auto in = SessionFileInput::open(file.string(), nullptr);
            ASSERT_TRUE(in && in->seek(1024));
            SessionFileItems::TopIntegers marks;
            ASSERT_TRUE(SessionFileItems::readArchive(*in, UINT64_MAX, &marks));
            const std::int64_t mask = bad == 1 ? 1 << 3 : 0x1F;
            EXPECT_EQ(marks, (when & Saved ? SessionFileItems::TopIntegers{{"firstSectorsUnread", mask}}
                                           : SessionFileItems::TopIntegers{}));

            now = &opening;
            controller.clear();
            auto opened = open(file);
            ASSERT_TRUE(opened);
            EXPECT_EQ(alertTitles(), (std::vector<std::string>{"Recovery Session Opened"}));
            EXPECT_EQ(
                std::tuple(opened->first5SectorsUnread, opened->volume->path(), opened->volume->mediumUnconfirmed()),
                std::tuple(when & Saved ? std::uint32_t(mask) : 0u, disk.string(), false));
            // The disk's own row is looked at first.
            EXPECT_EQ(std::tuple(opening.failedReads(), opening.mostFailedReadsOfOnePlace()),
                      std::tuple(when & Opened ? std::uint64_t{bad} : 0u, when & Opened ? 1u : 0u));
        }
}

TEST(VolumeArchive, EveryKindOfVolumeComesBackWithItsOwnKeysAndPlistutilReadsIt) {
    const std::string longPath = "/dev/disk/by-id/usb-Generic_Flash_Disk_ABCDEF0123456789-0:0";
    const Dict common{{"Path", longPath},
                      {"Preferred Block Size", 4096},
                      {"Size", 1 << 30},
                      {"Volume Name", "Fotos"},
                      {"device model", "M"},
                      {"device serial", "S"},
                      {"device revision", "R"},
                      {"Content", "FAT32"},
                      {"Volume Start", 2048},
                      {"Volume Size In Sectors", 9},
                      {"Parent Drive Path", "/dev/sdz"}};
    const std::vector<std::pair<const char*, Value>> kinds = {
        {"WhetherDiskDict", true}, {"WhetherVolume", true}, {"Volume Scan Type", 0}, {"Volume Scan Type", 1}};
    const auto folder = testsupport::makeTempDir("archive");
    for (const auto& [key, value] : kinds) {
        Dict row = common;
        row.set(key, value);
        auto v = Volume::initWithDictionary(row);
        v->entryCount = 0x80000001u, v->dataSize = ~0ull, v->startPos = 12.5f, v->u32RootDirectoryStart = 77;
        const auto archive = platform::KeyedArchiver::archivedDataWithRootObject(Value(v));
        ASSERT_TRUE(archive);
        const auto back = platform::KeyedUnarchiver::unarchiveObjectWithData(
            *archive, nullptr, {{"Volume", [](auto& c) -> platform::ObjectPtr { return Volume::initWithCoder(c); }}});
        ASSERT_TRUE(back && back->objectAs<Volume>());
        const auto copy = back->objectAs<Volume>()->mutableCopy();
        EXPECT_EQ(platform::KeyedArchiver::archivedDataWithRootObject(Value(copy)), archive) << key;
        EXPECT_EQ(std::tuple(copy->cPath(), copy->blockSize(), copy->btree.get()),
                  std::tuple(longPath, v->blockSize(), nullptr));

        if (!testsupport::haveTool("plistutil")) GTEST_SKIP() << "plistutil is not installed";
        testsupport::writeText(folder / "v.plist", std::string(archive->begin(), archive->end()));
        const std::string text =
            testsupport::runCommand("plistutil -i " + testsupport::shellQuote(folder / "v.plist")).value_or("");
        const bool mounted = v->volumeScanType == 2;
        auto has = [&](const char* k) { return text.find(std::string("<key>") + k + "</key>") != std::string::npos; };
        for (const char* k : {"parentDrivePath", "supportsFileSystemRecovery"})
            EXPECT_EQ(has(k), mounted) << key << " " << k;
        for (const char* k : {"model", "serial", "revision"})
            EXPECT_EQ(has(k), !mounted) << key << " " << k;
        // A number is written only when it is set: a whole disk starts nowhere.
        EXPECT_EQ(has("startSector"), !mounted && v->startSector != 0) << key;
        EXPECT_NE(text.find("<string>Volume</string>"), std::string::npos);
    }
}
