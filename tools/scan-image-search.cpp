#include "ScanImageScan.h"
#include "platform/SystemLog.h"
#include "signatures/SigLists.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

std::optional<SigRootArray> builtInList(const std::string& name, std::string* error) {
    const std::string path = SigLists::builtInListPath(name);
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::optional<SigRootArray> root = SigLists::decodeList(bytes, error);
    if (!root) *error = "cannot read the built-in signature list " + platform::escapedText(path) + ": " + *error;
    return root;
}

// Marks the list's types whose extension is wanted (every one with `all`),
// in list order; notes the extensions it marked.
void markFrom(const SigRootArray& list, const std::set<std::string>& wanted, bool all, platform::Array& marked,
              std::set<std::string>& found) {
    for (const auto& category : list)
        for (const auto& node : category->children()) {
            const std::string& extension = node->sig() ? node->sig()->extension : std::string();
            node->selected = all || wanted.count(extension) ? 1 : 0;
            if (!node->selected) continue;
            marked.emplace_back(node);
            found.insert(extension);
        }
}

} // namespace

std::optional<platform::Array> markedSignatureTypes(const std::string& types, std::string* error, bool photoList) {
    std::set<std::string> wanted;
    std::istringstream list(types);
    for (std::string extension; std::getline(list, extension, ',');)
        if (!extension.empty()) wanted.insert(extension);
    const bool all = wanted.count("all") != 0;

    // The lists as the program ships them; the marked file-type nodes in
    // list order, as the wizard hands them over.
    platform::Array marked;
    std::set<std::string> found;
    if (photoList) {
        const std::optional<SigRootArray> photos = builtInList("Sig_PR", error);
        if (!photos) return std::nullopt;
        markFrom(*photos, wanted, all, marked, found);
    }
    std::set<std::string> rest;
    for (const std::string& extension : wanted)
        if (!found.count(extension)) rest.insert(extension);
    if (!photoList || (!all && !rest.empty())) {
        const std::optional<SigRootArray> files = builtInList("Sig_FR", error);
        if (!files) return std::nullopt;
        markFrom(*files, rest, all && !photoList, marked, found);
    }
    for (const std::string& extension : wanted)
        if (extension != "all" && !found.count(extension)) {
            *error = "no built-in file type has the extension " + platform::escapedText(extension);
            return std::nullopt;
        }
    return marked;
}

bool resolveSearchTypes(ScanImageOptions& o) {
    std::string error;
    o.searchTypes = markedSignatureTypes(o.types, &error, !o.carveDriver.empty());
    if (o.searchTypes) return true;
    std::fprintf(stderr, "scan-image: %s\n", error.c_str());
    return false;
}
