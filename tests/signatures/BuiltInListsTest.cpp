#include "platform/KeyedUnarchiver.h"
#include "signatures/FileTypeTable.h"
#include "signatures/SigLists.h"
#include "signatures/SizeCalculatorFormats.h"
#include "support/TestSupport.h"
#include "volume/FileTypeRegistry.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

namespace {

using Table = FileTypeTable;
constexpr Table::List kLists[] = {Table::FR, Table::PR, Table::AL};

std::vector<Table::Row> tableRows(std::uint32_t* version = nullptr) {
    std::string error;
    auto rows = Table::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE), &error, version);
    EXPECT_TRUE(rows) << error;
    return rows.value_or(std::vector<Table::Row>{});
}

std::string listPath(Table::List list, bool backup = false) {
    return std::string(DRENTIC_BUILT_IN_LISTS) + "/" + Table::fileName(list, backup);
}

} // namespace

TEST(BuiltInLists, EachListAndItsBackupAreKeyedArchivesOfTheTreeOfTheTableThatReadBackUnchanged) {
    if (!testsupport::haveTool("plistutil")) GTEST_SKIP() << "plistutil is not installed";
    std::uint32_t version = 0;
    const auto rows = tableRows(&version);
    SigNode::registerArchiveClass();
    for (auto list : kLists) {
        const auto tree = Table::buildList(rows, list);
        for (bool backup : {false, true}) {
            const auto file = testsupport::readBytes(listPath(list, backup));
            std::uint32_t read = 0;
            const auto decoded = SigLists::decodeList(file, nullptr, &read);
            ASSERT_TRUE(decoded) << listPath(list, backup);
            EXPECT_EQ(read, version) << listPath(list, backup);
            EXPECT_TRUE(SigLists::encodeList(*decoded, version) == file) << listPath(list, backup);
            EXPECT_TRUE(SigLists::encodeList(tree, version) == file) << listPath(list, backup);
            // A reader that knows only the root, as the program's earlier versions are, reads it too.
            EXPECT_TRUE(platform::KeyedUnarchiver::unarchiveObjectWithData(file)) << listPath(list, backup);
        }
        // A reader of our own sees the records under the platform's class names.
        const auto xml = testsupport::runCommand("plistutil -i " + testsupport::shellQuote(listPath(list)));
        for (const char* text : {"NSKeyedArchiver", "NSMutableArray", "<string>Sig</string>",
                                 "<string>SigNode</string>", "<key>listVersion</key>"})
            EXPECT_NE(xml.value_or("").find(text), std::string::npos) << listPath(list) << " lacks " << text;
    }
}

TEST(BuiltInLists, RowsKeepTheRulesOfTheSearch) {
    const auto rows = tableRows();
    ASSERT_GT(rows.size(), 200u);
    for (auto list : kLists) {
        std::map<std::tuple<std::uint16_t, std::uint8_t, std::uint64_t>, std::vector<const Table::Row*>> byHeader;
        std::set<std::pair<std::string, std::string>> names;
        for (const auto& row : rows) {
            if (!(row.lists & list)) continue;
            // The table's reader refuses a typeOfFile nothing serves.
            const auto type = row.typeOfFile;
            EXPECT_TRUE(row.offset <= 1024 && row.headerLength >= 1 && row.headerLength <= 8) << "line " << row.line;
            EXPECT_TRUE(row.headerLength == 8 || row.header >> (8 * row.headerLength) == 0) << "line " << row.line;
            byHeader[{row.offset, row.headerLength, row.header}].push_back(&row);
            // A checked type is marked; one taken on a header of under four bytes is not.
            const bool checked = type > 1 || (type == 1 && list == Table::PR);
            EXPECT_TRUE(checked ? row.marked : row.headerLength >= 4 || !row.marked) << "line " << row.line;
            // A newer list finds a type of a user's copy by its name and extension.
            EXPECT_TRUE(names.insert({row.name, row.extension}).second) << "line " << row.line;
        }
        for (const auto& [key, group] : byHeader)
            for (const auto* row : group)
                EXPECT_EQ(row->chained, group.size() > 1) << "line " << row->line << " shares its header on purpose";
    }
    // A row whose number no size calculator or recogniser serves stops the build of the lists.
    std::string error;
    for (const char* type : {"1", "7", "64"})
        EXPECT_FALSE(
            Table::parse("version 1\nImages|Made up|zzz|-|0|FFD8|" + std::string(type) + "|1|FR|-|-|-|no\n", &error))
            << type;
    EXPECT_TRUE(Table::parse("version 1\nImages|Made up|zzz|-|0|FFD8|3|1|FR|-|-|-|no\n", &error)) << error;
    for (auto extension : SizeCalculatorFormats::extensions())
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(),
                                [&](const Table::Row& r) {
                                    return (r.lists & Table::PR) && r.typeOfFile == 1 && r.extension == extension;
                                }))
            << "the photo list does not measure " << extension;
}

// What a photo scan finds of a type its list offers goes through the clean-up that keeps media files only: every
// such type is kept there, and previewed as the kind its category names.
TEST(BuiltInLists, EveryTypeThePhotoListOffersIsKeptByThePhotoScansAsTheKindOfItsCategory) {
    using Kind = FileTypeRegistry::Kind;
    const std::map<std::string, Kind> kinds{
        {"Images", Kind::Picture}, {"Camera Raw", Kind::Picture}, {"Video", Kind::Movie}, {"Audio", Kind::Sound}};
    std::size_t offered = 0;
    for (const auto& row : tableRows()) {
        if (!(row.lists & Table::PR)) continue;
        ++offered;
        const std::u16string extension(row.extension.begin(), row.extension.end());
        EXPECT_TRUE(FileTypeRegistry::isMediaFile(extension)) << "line " << row.line << ": " << row.extension;
        const FileTypeRegistry::Entry* entry = FileTypeRegistry::find(row.extension);
        ASSERT_TRUE(entry && kinds.count(row.category)) << "line " << row.line;
        EXPECT_EQ(entry->kind, kinds.at(row.category)) << "line " << row.line << ": " << row.extension;
    }
    EXPECT_GT(offered, 80u);
}
