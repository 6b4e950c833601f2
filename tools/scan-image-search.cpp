#include "ScanImageScan.h"
#include "platform/SystemLog.h"
#include "signatures/SigLists.h"

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

std::optional<platform::Array> markedSignatureTypes(const std::string& types, std::string* error) {
    std::set<std::string> wanted;
    std::istringstream list(types);
    for (std::string extension; std::getline(list, extension, ',');)
        if (!extension.empty()) wanted.insert(extension);
    const bool all = wanted.count("all") != 0;

    // The list of the file scans, as the program ships it.
    const std::string path = SigLists::builtInListPath("Sig_FR");
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::optional<SigRootArray> root = SigLists::decodeList(bytes, error);
    if (!root) {
        *error = "cannot read the built-in signature list " + platform::escapedText(path) + ": " + *error;
        return std::nullopt;
    }
    // The marked file-type nodes in list order, as the wizard hands them over.
    platform::Array marked;
    std::set<std::string> found;
    for (const auto& category : *root)
        for (const auto& node : category->children()) {
            const std::string& extension = node->sig() ? node->sig()->extension : std::string();
            node->selected = all || wanted.count(extension) ? 1 : 0;
            if (!node->selected) continue;
            marked.emplace_back(node);
            found.insert(extension);
        }
    for (const std::string& extension : wanted)
        if (extension != "all" && !found.count(extension)) {
            *error = "no built-in file type has the extension " + platform::escapedText(extension);
            return std::nullopt;
        }
    return marked;
}
