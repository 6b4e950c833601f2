// Writes the built-in signature lists, each with its backup twin, from the
// file-type table: make-signature-lists TABLE OUTPUT-FOLDER.

#include "signatures/FileTypeTable.h"
#include "signatures/SigLists.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "make-signature-lists: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: make-signature-lists TABLE OUTPUT-FOLDER");
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) return fail(std::string("cannot read ") + argv[1]);
    std::stringstream text;
    text << in.rdbuf();

    std::string error;
    std::uint32_t version = 0;
    const auto rows = FileTypeTable::parse(text.str(), &error, &version);
    if (!rows) return fail(std::string(argv[1]) + ": " + error);

    for (auto list : {FileTypeTable::FR, FileTypeTable::PR, FileTypeTable::AL}) {
        const auto data = SigLists::encodeList(FileTypeTable::buildList(*rows, list), version, &error);
        if (!data) return fail(FileTypeTable::fileName(list, false) + ": " + error);
        for (bool backup : {false, true}) {
            const std::string path = std::string(argv[2]) + "/" + FileTypeTable::fileName(list, backup);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data->data()), static_cast<std::streamsize>(data->size()));
            if (!out.flush()) return fail("cannot write " + path);
        }
    }
    return 0;
}
