#pragma once

// The table of built-in file types kept as text in the source tree (see its
// header comment for the columns): read at build time to write the built-in
// signature lists, and by the tests that hold the rows to their rules.

#include "signatures/SigNode.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class FileTypeTable {
public:
    // The built-in lists a row can belong to: file scans, photo scans and
    // the partition scans.
    enum List : unsigned { FR = 1, PR = 2, AL = 4 };

    struct Row {
        int line = 0;
        std::string category;
        std::string name;
        std::string extension;
        std::vector<std::string> variants;
        std::uint16_t offset = 0;
        std::uint8_t headerLength = 0;
        std::uint64_t header = 0;
        std::uint32_t typeOfFile = 0;
        std::uint32_t defaultSize = 0;
        // Lists bits; 0 for a row that serves the extension table only.
        unsigned lists = 0;
        // "picture", "movie", "sound", "other", or empty.
        std::string kind;
        std::vector<std::string> media;
        bool chained = false;
        // Marked in the lists a user gets.
        bool marked = false;
    };

    // The rows in file order, or nullopt with "line N: reason" in *error for
    // the first row that breaks the format (a typeOfFile that no size
    // calculator or recogniser serves included), or for a table without its
    // one "version N" line. The lists' version goes to *version.
    static std::optional<std::vector<Row>> parse(std::string_view text, std::string* error = nullptr,
                                                 std::uint32_t* version = nullptr);

    // One list as its root array: a category node per category in order of
    // first appearance, holding the list's rows as file-type nodes, marked
    // as the table says (a category when one of its types is), every type
    // preinstalled.
    static std::vector<std::shared_ptr<SigNode>> buildList(const std::vector<Row>& rows, List list);

    // The file name of a list ("Sig_FR.dat"), or of its backup twin.
    static std::string fileName(List list, bool backup);
};
