#include "carving/CarvingResultFolders.h"

#include "carving/CarvedFileRecorder.h"
#include "carving/CarvingSelection.h"
#include "formats/CarvingFormat.h"
#include "volume/Volume.h"

#include <algorithm>

CarvingResultFolders::~CarvingResultFolders() {
    for (NewDir* folder : made_)
        if (folder->childList.empty()) newdir::freeNDir(folder);
}

NewDir* CarvingResultFolders::folderNamed(std::string_view name, std::string_view extension, bool resumed) {
    NewDir* root = volume_.dirRoot;
    if (resumed && root) {
        const std::u16string wanted = newdir::utf16(name);
        for (NewDir* child : root->childList) {
            // Only the search's own folder, never one of the volume's.
            if (!child || !child->foundBySignature || newdir::fileName(child) != wanted) continue;
            child->firstSectorOffset = 0;
            // A restored tree carries no extensions.
            if (!extension.empty()) newdir::setExtension(child, newdir::utf16(extension.substr(1)));
            return child;
        }
    }
    NewDir* folder = newdir::allocate();
    recorder_.createSignatureSearchFolderNode(folder, std::string(name), extension);
    made_.push_back(folder);
    return folder;
}

void CarvingResultFolders::prepare(const CarvingSelection& selection, bool resumed) {
    for (const CarvingFormat& row : CarvingFormat::table()) {
        if (selection.selected(row)) {
            const std::string extension = "." + std::string(row.folderExtension);
            byKey_.emplace_back(row.key, folderNamed(row.resultFolder, extension, resumed));
        }
        if (row.key == "crw" && selection.needsRawJpgFolder()) rawJpg_ = folderNamed(kRawJpgFolder, {}, resumed);
    }
}

NewDir* CarvingResultFolders::folderFor(std::string_view key) const {
    const auto it = std::find_if(byKey_.begin(), byKey_.end(), [&](const auto& e) { return e.first == key; });
    return it == byKey_.end() ? nullptr : it->second;
}
