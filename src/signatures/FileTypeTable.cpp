#include "signatures/FileTypeTable.h"

#include "signatures/RecogniserDispatch.h"
#include "signatures/SigLists.h"
#include "signatures/SizeCalculatorFormats.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr std::size_t kColumns = 13;
constexpr std::string_view kVersionWord = "version ";

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

std::vector<std::string_view> split(std::string_view s, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = s.find(separator);
        parts.push_back(trimmed(s.substr(0, at)));
        if (at == std::string_view::npos) return parts;
        s.remove_prefix(at + 1);
    }
}

bool isEmpty(std::string_view field) {
    return field.empty() || field == "-";
}

std::vector<std::string> names(std::string_view field) {
    std::vector<std::string> out;
    if (isEmpty(field)) return out;
    for (auto part : split(field, ','))
        out.emplace_back(part);
    return out;
}

template <class T> bool number(std::string_view field, T& value) {
    const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
    return ec == std::errc() && end == field.data() + field.size();
}

// The header bytes packed big-endian into the low bytes, as a Sig holds them.
// The table is stricter than the editor: upper-case hex only.
bool hexHeader(std::string_view hex, std::uint8_t& length, std::uint64_t& value) {
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 16 || !SigLists::stringIsHex(hex)) return false;
    if (std::any_of(hex.begin(), hex.end(), [](char c) { return c >= 'a' && c <= 'f'; })) return false;
    value = SigLists::getHeaderFromString(hex);
    length = static_cast<std::uint8_t>(hex.size() / 2);
    return true;
}

bool lists(std::string_view field, unsigned& bits) {
    bits = 0;
    if (isEmpty(field)) return true;
    for (auto name : split(field, ',')) {
        if (name == "FR")
            bits |= FileTypeTable::FR;
        else if (name == "PR")
            bits |= FileTypeTable::PR;
        else if (name == "AL")
            bits |= FileTypeTable::AL;
        else
            return false;
    }
    return true;
}

// The reason a row is refused, or empty.
std::string readRow(const std::vector<std::string_view>& f, FileTypeTable::Row& row) {
    if (f.size() != kColumns) return "expected " + std::to_string(kColumns) + " fields";
    row.category = std::string(f[0]);
    row.name = std::string(f[1]);
    row.extension = std::string(f[2]);
    if (row.category.empty() || row.name.empty() || isEmpty(f[2])) return "category, name and extension are needed";
    row.variants = names(f[3]);
    if (!lists(f[8], row.lists)) return "unknown list in \"" + std::string(f[8]) + "\"";
    if (row.lists == 0) {
        if (!isEmpty(f[4]) || !isEmpty(f[5]) || !isEmpty(f[6]) || !isEmpty(f[7]) || !isEmpty(f[12]))
            return "a row in no list has no signature and no mark";
    } else {
        unsigned offset = 0;
        if (!number(f[4], offset) || offset > 1024) return "offset must be 0 to 1024";
        row.offset = static_cast<std::uint16_t>(offset);
        if (!hexHeader(f[5], row.headerLength, row.header)) return "header must be 1 to 8 bytes in upper-case hex";
        if (!number(f[6], row.typeOfFile)) return "bad typeOfFile";
        // The number names what serves the type, so the lists and the
        // program cannot disagree about it.
        if (row.typeOfFile == 1 && !SizeCalculatorFormats::has(row.extension))
            return "typeOfFile 1 needs the extension a carving-table row is selected by";
        if (row.typeOfFile > 1 && !RecogniserDispatch::hasRecogniser(row.typeOfFile))
            return "no recogniser has typeOfFile " + std::to_string(row.typeOfFile);
        if (!number(f[7], row.defaultSize)) return "bad default size";
        if (f[12] != "yes" && f[12] != "no") return "marked is \"yes\" or \"no\"";
        row.marked = f[12] == "yes";
    }
    row.kind = isEmpty(f[9]) ? std::string() : std::string(f[9]);
    if (!row.kind.empty() && row.kind != "picture" && row.kind != "movie" && row.kind != "sound" && row.kind != "other")
        return "unknown kind \"" + row.kind + "\"";
    row.media = names(f[10]);
    if (f[11] != "yes" && f[11] != "-") return "chained is \"yes\" or \"-\"";
    row.chained = f[11] == "yes";
    return {};
}

} // namespace

std::optional<std::vector<FileTypeTable::Row>> FileTypeTable::parse(std::string_view text, std::string* error,
                                                                    std::uint32_t* version) {
    std::vector<Row> rows;
    std::optional<std::uint32_t> listVersion;
    int lineNumber = 0;
    const auto refuse = [&](const std::string& reason) {
        if (error) *error = "line " + std::to_string(lineNumber) + ": " + reason;
        return std::nullopt;
    };
    while (!text.empty()) {
        ++lineNumber;
        const auto end = text.find('\n');
        const auto line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.starts_with(kVersionWord)) {
            std::uint32_t v = 0;
            if (listVersion || !number(trimmed(line.substr(kVersionWord.size())), v) || v == 0)
                return refuse("one \"version N\" line, N a whole number from 1");
            listVersion = v;
            continue;
        }
        Row row;
        row.line = lineNumber;
        if (auto reason = readRow(split(line, '|'), row); !reason.empty()) return refuse(reason);
        rows.push_back(std::move(row));
    }
    if (!listVersion) return refuse("the table has no \"version N\" line");
    if (version) *version = *listVersion;
    return rows;
}

std::vector<std::shared_ptr<SigNode>> FileTypeTable::buildList(const std::vector<Row>& rows, List list) {
    std::vector<std::shared_ptr<SigNode>> roots;
    std::vector<std::string> categories; // every category of the table, numbered in order
    for (const Row& row : rows) {
        auto known = std::find(categories.begin(), categories.end(), row.category);
        if (known == categories.end()) known = categories.insert(categories.end(), row.category);
        if (!(row.lists & list)) continue;

        std::shared_ptr<SigNode> parent;
        for (const auto& root : roots)
            if (root->category == row.category) parent = root;
        if (!parent) {
            parent = std::make_shared<SigNode>();
            parent->fileTypeSigNode = SigNode::Category;
            parent->category = row.category;
            roots.push_back(parent);
        }

        Sig sig;
        sig.preInstalled = true;
        sig.categoryID = static_cast<std::uint8_t>(known - categories.begin() + 1);
        sig.category = row.category;
        sig.typeOfFile = row.typeOfFile;
        sig.software = row.name;
        sig.extension = row.extension;
        sig.offset = row.offset;
        sig.headerLength = row.headerLength;
        sig.header = row.header;
        sig.defaultSize = row.defaultSize;

        SigNode::addFileType(parent, sig, row.marked ? 1 : 0);
        if (row.marked) parent->selected = 1;
    }
    return roots;
}

std::string FileTypeTable::fileName(List list, bool backup) {
    // The scan modes the lists serve: files, photos, partitions.
    using platform::ScanMode;
    const std::string name = SigLists::listNameForScanMode(list == FR   ? ScanMode::FastFiles
                                                           : list == PR ? ScanMode::FastPhotos
                                                                        : ScanMode::Partitions);
    return (backup ? SigLists::backupName(name) : name) + ".dat";
}
