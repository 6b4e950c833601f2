#include "signatures/SigLists.h"

#include "platform/KeyedArchiver.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using testsupport::readBytes;
using namespace std::string_literals;
using M = platform::ScanMode;

namespace {

std::shared_ptr<SigNode> category(const std::string& name,
                                  const std::vector<std::pair<std::string, std::uint64_t>>& types) {
    auto c = std::make_shared<SigNode>();
    c->fileTypeSigNode = SigNode::Category;
    c->category = name;
    for (const auto& [software, header] : types) {
        Sig s;
        s.preInstalled = true;
        s.category = name;
        s.software = software;
        s.header = header;
        s.headerLength = 2;
        auto n = std::make_shared<SigNode>();
        n->fileTypeSigNode = SigNode::FileType;
        n->category = name;
        n->setSig(s);
        c->addChild(n);
    }
    return c;
}

void writeArchive(const fs::path& path, const platform::Value& root) {
    const auto bytes = platform::KeyedArchiver::archivedDataWithRootObject(root);
    ASSERT_TRUE(bytes);
    testsupport::writeText(path, std::string(bytes->begin(), bytes->end()));
}

platform::Array asArray(const SigRootArray& list) {
    return platform::Array(list.begin(), list.end());
}

// Built-in "Sig_FR" lists in a resource folder of their own and an empty data folder.
struct ListFolders {
    fs::path resources = testsupport::makeTempDir("res"), data = testsupport::makeTempDir("data");
    ListFolders() {
        ::setenv("DRENTIC_RESOURCE_DIR", resources.c_str(), 1);
        ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
        writeArchive(resources / "Sig_FR.dat",
                     asArray({category("Images", {{"jpeg", 0xFFD8}}), category("Documents", {{"pdf", 0x2550}})}));
        writeArchive(resources / "Sig_FR_backup.dat", asArray({category("Twin", {{"twin", 0x1234}})}));
    }
    ~ListFolders() {
        ::unsetenv("DRENTIC_RESOURCE_DIR");
        ::unsetenv("DRENTIC_STATE_DIR");
    }
    std::string firstName(int loadCount) const {
        auto list = SigLists::loadSigData(M::FastFiles, loadCount);
        return list && !list->empty() ? (*list)[0]->category : "";
    }
};

} // namespace

TEST(SigLists, EachCheckOfANewTypeGivesItsMessageInOrder) {
    ListFolders folders;
    const SigRootArray list = SigLists::loadSigData(M::AdvancedFiles, 0).value();
    // Each row changes one text of a type that would be accepted.
    const SigLists::NewFileTypeTexts ok{"Images", "raw", "raw", "00 FF D8", "1", "5"};
    const std::string range = "Maximum File Size to recover has to be in range of 1 to 50000.";
    const std::vector<std::tuple<int, std::string, std::string>> rows{
        {0, "", "Category cannot be nil"},
        {1, "", "File Type Name cannot be nil"},
        {2, "", "Extension cannot be nil"},
        {3, "", "Signature cannot be nil"},
        {3, "   ", "Signature cannot be nil"},
        {4, "", "Offset cannot be nil"},
        {5, "", range},
        {5, "50001", range},
        {5, "0", "Maximum File Size to recover cannot be nil"},
        {2, ".raw", "Please remove dot \".\" from the beginning of the extension"},
        {3, "0xFFD8", "Please enter correct signature: A-F, a-f, 0-9"},
        {3, "0123456789ABCDEF0", "Incorrect signature: enter even number of characters"},
        {3, "0123456789ABCDEF01", "Incorrect signature: enter only a maximum of 8 bytes"},
        {4, "-1", "Please enter numeric value in offset"},
        {4, "1025", "Offset cannot be more then 1024"},
        {4, "18446744073709551621", "Offset cannot be more then 1024"},
        {4, "1024", ""},
        {1, "jpeg", "File Type \"jpeg\" under category \"Images\" already exists. Please enter different names"},
        {1, "JPEG", ""},
        {1, "pdf", ""},
        {4, "0", "This signature/offset pair already exists in file type \"jpeg\" under category \"Images\"."},
        {3, "0123456789ABCDEF", ""}};
    for (const auto& [field, text, message] : rows) {
        auto texts = ok;
        std::string* fields[] = {&texts.category,  &texts.software, &texts.extension,
                                 &texts.signature, &texts.offset,   &texts.maxFileSize};
        *fields[field] = text;
        EXPECT_EQ(SigLists::checkNewFileType(texts, list), message) << field << " '" << text << "'";
    }
    EXPECT_EQ(SigLists::getHeaderFromString("FFD8F"), 0xFFD8u);
}

TEST(SigLists, AddedAndDeletedTypesReachTheUsersListsButNeverTheBuiltInOnes) {
    ListFolders folders;
    const auto builtIn = readBytes(folders.resources / "Sig_FR.dat");
    SigRootArray list = SigLists::loadSigData(M::FastFiles, 0).value();
    auto added = SigLists::addFileType({"Images", "Photo", "ph", "ff d8 ff", "0", "12"}, list, M::FastFiles);
    EXPECT_TRUE(added.message.empty() && added.listSaved && added.backupSaved);
    const auto& images = list[0]->children();
    const Sig& photo = *images.at(1)->sig();
    EXPECT_EQ(std::tuple(photo.header, photo.headerLength, photo.userSize, photo.preInstalled),
              std::tuple(0xFFD8FFull, std::uint8_t{3}, 12ull, false));
    EXPECT_EQ(images[1]->parent(), list[0]);

    added = SigLists::addFileType({"Fonts", "Font", "ttf", "0001", "1024", "1"}, list, M::FastFiles);
    EXPECT_EQ(list.back()->category, "Fonts");
    EXPECT_EQ(folders.firstName(2), "Images") << "the twin is written too";
    const auto reloaded = SigLists::loadSigData(M::FastFiles, 0);
    ASSERT_TRUE(reloaded && reloaded->size() == 3);
    EXPECT_EQ(reloaded->back()->children().at(0)->sig()->offset, 1024);
    EXPECT_EQ(reloaded->front()->children().at(1)->parent(), reloaded->front());
    EXPECT_TRUE(reloaded->front()->containsPreInstalledChildren);
    EXPECT_FALSE(reloaded->back()->containsPreInstalledChildren);

    // The only type of a new category goes, then the category itself.
    const auto font = list.back()->children().at(0);
    EXPECT_EQ(SigLists::removeFileType(&list, *font, M::FastFiles), SigLists::RemoveOutcome::Saved);
    const auto fonts = list.back();
    EXPECT_EQ(SigLists::removeFileType(&list, *fonts, M::FastFiles), SigLists::RemoveOutcome::Saved);
    EXPECT_EQ(SigLists::loadSigData(M::FastFiles, 0)->size(), 2u);

    const auto saved = readBytes(folders.data / "Sig_FR.dat");
    EXPECT_EQ(SigLists::removeFileType(nullptr, *fonts, M::FastFiles), SigLists::RemoveOutcome::Unchanged);
    EXPECT_EQ(SigLists::removeFileType(&list, *fonts, M::FastFiles), SigLists::RemoveOutcome::Unchanged);
    EXPECT_EQ(readBytes(folders.data / "Sig_FR.dat"), saved);
    EXPECT_EQ(readBytes(folders.resources / "Sig_FR.dat"), builtIn);

    // A list file that cannot be replaced reports the failed write.
    testsupport::LogCapture log;
    fs::remove(folders.data / "Sig_FR.dat");
    fs::create_directory(folders.data / "Sig_FR.dat");
    EXPECT_FALSE(SigLists::saveSigData(list, M::FastFiles));
    added = SigLists::addFileType({"Images", "Other", "o", "01", "0", "1"}, list, M::FastFiles);
    EXPECT_TRUE(added.message.empty() && !added.listSaved && added.backupSaved);
}

TEST(SigLists, TheTwinIsReadFromTheSecondReloadAndUnreadableListsFallBackWithALogLine) {
    ListFolders folders;
    EXPECT_EQ(folders.firstName(0), "Images");
    EXPECT_EQ(folders.firstName(1), "Images");
    EXPECT_EQ(folders.firstName(2), "Twin") << "the twin is seeded with the list";
    EXPECT_FALSE(SigLists::loadSigData(M::None, 0));

    testsupport::LogCapture log;
    testsupport::writeText(folders.data / "Sig_FR.dat", "garbage");
    EXPECT_EQ(folders.firstName(0), "Twin");
    EXPECT_EQ(log.lines.size(), 1u);
    // A root that is not an array of categories is no list either.
    writeArchive(folders.data / "Sig_FR_backup.dat", platform::Value(category("Single", {})));
    EXPECT_EQ(folders.firstName(0), "Images");
    EXPECT_EQ(log.lines.size(), 3u);
    fs::remove(folders.resources / "Sig_FR.dat");
    writeArchive(folders.data / "Sig_FR_backup.dat", asArray(category("Images", {{"a", 1}})->children()));
    EXPECT_FALSE(SigLists::loadSigData(M::FastFiles, 0));
    ASSERT_EQ(log.lines.size(), 6u);
    EXPECT_NE(log.lines.back().find("no file types are shown"), std::string::npos) << log.lines.back();
}

namespace {

const SigNode* typeNamed(const SigRootArray& list, const std::string& software) {
    for (const auto& category : list)
        for (const auto& node : category->children())
            if (node->sig()->software == software) return node.get();
    return nullptr;
}

} // namespace

// A photo list written by the program before its lists had versions: every
// type marked, no version, an old header and a type the program dropped.
// The user added types to the list and its twin, changed a size and
// unmarked a type; the next load brings both files up to the program's
// list and keeps all of that.
TEST(SigLists, ACopyFromTheEarlierProgramIsBroughtUpToDateKeepingWhatTheUserDid) {
    const fs::path data = testsupport::makeTempDir("data");
    ::setenv("DRENTIC_RESOURCE_DIR", DRENTIC_BUILT_IN_LISTS, 1);
    ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
    std::uint32_t version = 0;
    const SigRootArray program =
        SigLists::decodeList(readBytes(SigLists::builtInListPath("Sig_PR")), nullptr, &version).value();
    for (const char* name : {"Sig_PR", "Sig_PR_backup"}) {
        SigRootArray old = SigLists::decodeList(readBytes(SigLists::builtInListPath("Sig_PR"))).value();
        old.push_back(category("Own", {{name, 0x1234}, {"Dropped type", 0x01DA}}));
        old.back()->children()[0]->sig()->preInstalled = false;
        for (const auto& category : old)
            for (const auto& node : category->children())
                node->selected = 1;
        old[0]->children()[0]->sig()->userSize = 77;
        old[0]->children()[1]->selected = 0;
        typeNamed(old, "WebP image")->sig()->header = 0x57454250;
        writeArchive(data / (std::string(name) + ".dat"), asArray(old));
    }
    for (const int loadCount : {0, 2}) {
        const SigRootArray list = SigLists::loadSigData(M::FastPhotos, loadCount).value();
        const std::string name = loadCount == 0 ? "Sig_PR" : "Sig_PR_backup";
        std::uint32_t written = 0;
        ASSERT_TRUE(SigLists::decodeList(readBytes(data / (name + ".dat")), nullptr, &written));
        EXPECT_EQ(written, version);
        EXPECT_EQ(list.size(), program.size() + 1);
        EXPECT_EQ(list[0]->children()[0]->sig()->userSize, 77u);
        EXPECT_EQ(list[0]->children()[1]->selected, 0);
        EXPECT_EQ(typeNamed(list, "WebP image")->sig()->header, typeNamed(program, "WebP image")->sig()->header);
        EXPECT_EQ(typeNamed(list, "Dropped type"), nullptr);
        // Marked when the list was made, so the program's mark now.
        EXPECT_EQ(typeNamed(list, "PCX image")->selected, 0);
        const SigNode* mine = typeNamed(list, name);
        ASSERT_NE(mine, nullptr);
        EXPECT_EQ(std::tuple(mine->category, mine->selected, mine->sig()->preInstalled), std::tuple("Own"s, 1, false));
    }
    ::unsetenv("DRENTIC_RESOURCE_DIR");
    ::unsetenv("DRENTIC_STATE_DIR");
}

// A file or partition list written before layout documents had a row, with
// a type the user unmarked: the next load gives it the row, marked as the
// program's list has it, and keeps the user's mark.
TEST(SigLists, ACopyFromBeforeTheLayoutDocumentRowGainsIt) {
    const fs::path data = testsupport::makeTempDir("data");
    ::setenv("DRENTIC_RESOURCE_DIR", DRENTIC_BUILT_IN_LISTS, 1);
    ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
    for (const auto& [name, mode] : {std::pair{"Sig_FR", M::FastFiles}, {"Sig_AL", M::Partitions}}) {
        SCOPED_TRACE(name);
        std::uint32_t version = 0;
        SigRootArray old = SigLists::decodeList(readBytes(SigLists::builtInListPath(name)), nullptr, &version).value();
        for (const auto& category : old) {
            std::erase_if(category->children(), [](const auto& node) { return node->sig()->extension == "indd"; });
            for (const auto& node : category->children())
                if (node->sig()->extension == "pdf") node->selected = 0;
        }
        const auto bytes = SigLists::encodeList(old, version - 1);
        ASSERT_TRUE(bytes);
        testsupport::writeText(data / (std::string(name) + ".dat"), std::string(bytes->begin(), bytes->end()));

        const SigRootArray list = SigLists::loadSigData(mode, 0).value();
        const SigNode* layout = typeNamed(list, "Layout document");
        ASSERT_NE(layout, nullptr);
        EXPECT_EQ(std::tuple(layout->category, layout->selected, layout->sig()->typeOfFile, layout->sig()->header,
                             layout->sig()->headerLength, layout->sig()->extension),
                  std::tuple("Documents"s, 1, 47u, std::uint64_t{0x0606EDF5D81D46E5}, 8, "indd"s));
        EXPECT_EQ(typeNamed(list, "PDF document")->selected, 0);
    }
    ::unsetenv("DRENTIC_RESOURCE_DIR");
    ::unsetenv("DRENTIC_STATE_DIR");
}

// The file and photo lists of version 6 held the Olympus raw row of "IIRO" files with the header "IIRI": a copy
// made from them, in which the user unmarked the row and gave it a size of their own, gets the row's header the
// format gives and keeps the mark and the size.
TEST(SigLists, ACopyFromBeforeTheOlympusHeaderWasMendedGetsItKeepingWhatTheUserDid) {
    const fs::path data = testsupport::makeTempDir("data");
    ::setenv("DRENTIC_RESOURCE_DIR", DRENTIC_BUILT_IN_LISTS, 1);
    ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
    for (const auto& [name, mode] : {std::pair{"Sig_FR", M::FastFiles}, {"Sig_PR", M::FastPhotos}}) {
        SCOPED_TRACE(name);
        SigRootArray old = SigLists::decodeList(readBytes(SigLists::builtInListPath(name))).value();
        int rows = 0;
        for (const auto& category : old)
            for (const auto& node : category->children())
                if (node->sig()->software == "Olympus raw (IIRO)") {
                    node->sig()->header = 0x49495249;
                    node->sig()->userSize = 7;
                    node->selected = 0;
                    ++rows;
                }
        ASSERT_EQ(rows, 1);
        const auto bytes = SigLists::encodeList(old, 6);
        ASSERT_TRUE(bytes);
        testsupport::writeText(data / (std::string(name) + ".dat"), std::string(bytes->begin(), bytes->end()));

        const SigRootArray list = SigLists::loadSigData(mode, 0).value();
        const SigNode* mended = typeNamed(list, "Olympus raw (IIRO)");
        ASSERT_NE(mended, nullptr);
        EXPECT_EQ(
            std::tuple(mended->sig()->header, mended->sig()->headerLength, mended->selected, mended->sig()->userSize),
            std::tuple(std::uint64_t{0x4949524F}, std::uint8_t{4}, std::uint8_t{0}, std::uint64_t{7}));
    }
    ::unsetenv("DRENTIC_RESOURCE_DIR");
    ::unsetenv("DRENTIC_STATE_DIR");
}

// A file list of version 7: the tar, DV, PostScript and script rows took their hits unchecked (DV unmarked), the
// Word row looked for its content types as the first entry, and the rows of PostScript pictures in text and of
// FontType1 fonts were not there. The user unmarked tar archives, gave scripts a size of their own and added a type.
// The next load gives every row its recogniser and header and the new rows, and keeps what the user did.
TEST(SigLists, ACopyFromBeforeTheRecognisersOfRepeatingHeadersGetsThemKeepingWhatTheUserDid) {
    const fs::path data = testsupport::makeTempDir("data");
    ::setenv("DRENTIC_RESOURCE_DIR", DRENTIC_BUILT_IN_LISTS, 1);
    ::setenv("DRENTIC_STATE_DIR", data.c_str(), 1);
    const SigRootArray program = SigLists::decodeList(readBytes(SigLists::builtInListPath("Sig_FR"))).value();
    SigRootArray old = SigLists::decodeList(readBytes(SigLists::builtInListPath("Sig_FR"))).value();
    for (const auto& category : old) {
        std::erase_if(category->children(), [](const auto& node) {
            return node->sig()->software == "EPS image (text)" ||
                   node->sig()->software == "Type 1 font (text, FontType1)";
        });
        for (const auto& node : category->children()) {
            Sig& sig = *node->sig();
            if (sig.typeOfFile >= 57) sig.typeOfFile = 0;
            if (sig.extension == "dv") node->selected = 0, node->markedByDefault = false;
            if (sig.extension == "tar") node->selected = 0;
            if (sig.extension == "sh") sig.header = 0x23212F62696E2F73, sig.headerLength = 8, sig.userSize = 3;
            if (sig.extension == "docx") sig.offset = 30, sig.header = 0x5B436F6E74656E74, sig.headerLength = 8;
        }
    }
    old.push_back(category("Own", {{"My format", 0x1234}}));
    old.back()->children()[0]->sig()->preInstalled = false;
    old.back()->children()[0]->selected = 1;
    const auto bytes = SigLists::encodeList(old, 7);
    ASSERT_TRUE(bytes);
    testsupport::writeText(data / "Sig_FR.dat", std::string(bytes->begin(), bytes->end()));

    const SigRootArray list = SigLists::loadSigData(M::FastFiles, 0).value();
    for (const char* name :
         {"Tar archive", "DV video", "MXF video", "DTS audio", "Virtual PC disk", "Shell script", "PostScript document",
          "Type 1 font (text)", "Office Open XML document", "EPS image (text)", "Type 1 font (text, FontType1)"}) {
        SCOPED_TRACE(name);
        const SigNode* updated = typeNamed(list, name);
        const SigNode* built = typeNamed(program, name);
        ASSERT_TRUE(updated && built);
        EXPECT_EQ(std::tuple(updated->sig()->typeOfFile, updated->sig()->offset, updated->sig()->header,
                             updated->sig()->headerLength),
                  std::tuple(built->sig()->typeOfFile, built->sig()->offset, built->sig()->header,
                             built->sig()->headerLength));
    }
    EXPECT_EQ(typeNamed(list, "Tar archive")->selected, 0);
    EXPECT_EQ(typeNamed(list, "DV video")->selected, 1);
    EXPECT_EQ(typeNamed(list, "Shell script")->sig()->userSize, 3u);
    const SigNode* mine = typeNamed(list, "My format");
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(std::tuple(mine->category, mine->selected, mine->sig()->preInstalled), std::tuple("Own"s, 1, false));
    ::unsetenv("DRENTIC_RESOURCE_DIR");
    ::unsetenv("DRENTIC_STATE_DIR");
}
