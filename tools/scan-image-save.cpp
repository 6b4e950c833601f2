// scan-image save IMAGE DEST [--start SECTOR [--length SECTORS]] [--sector-size N] [--only PATH-PREFIX]
//                            [--mode normal|advanced|deleted] [--types EXT,... [--driver D]]
//
// With --types the scan is the carving of `scan-image carve` (its --driver).
// Scans the image as `scan-image tree` does, marks the whole found tree (or,
// with --only, the node at that path, such as "Root/a_directory", with
// everything below it and the folders above it) and saves the marked files
// and folders into the existing folder DEST with the program's own saving:
// the same checks of the destination, the same save thread, the same names.
// Prints the save's final alert (its title, then its message) on standard
// output; other alerts go to standard error.
//
// Exit status: 0 when the save completed without errors, 1 when it reported
// errors, saved files with sectors it could not read (as zeros), saved
// nothing, was refused by the destination checks, the scan did not
// complete or could not read some sectors, 2 for a usage error, an
// image that cannot be scanned or a path that names nothing in the tree.

#include "ScanImageCommands.h"
#include "ScanImageScan.h"
#include "platform/AppController.h"
#include "platform/RecordingController.h"
#include "results/DataSaving.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

int saveUsage() {
    std::fprintf(stderr, "usage: scan-image save IMAGE DEST [--start SECTOR [--length SECTORS]] [--sector-size N] "
                         "[--only PATH-PREFIX]\n"
                         "                                  [--mode normal|advanced|deleted] [--types EXT,... "
                         "[--driver D]]\n");
    return 2;
}

void markSubtree(NewDir* top) {
    newdir::preOrder(top, newdir::childList, newdir::anyChild, [](NewDir* n) { n->selected = 1; });
}

// Marks every node whose path from the root is prefix or lies below it, and
// the folders above each; the number of nodes the path named.
std::size_t markPath(NewDir* root, const std::string& prefix) {
    std::size_t found = 0;
    std::vector<std::string> paths; // of the node entered last and those above it
    newdir::postOrder(
        root, newdir::childList, newdir::anyChild,
        [&](NewDir* n) {
            const std::string name = newdir::utf8(newdir::fileName(n));
            paths.push_back(paths.empty() ? name : paths.back() + "/" + name);
            const std::string& path = paths.back();
            if (path == prefix) {
                ++found;
                markSubtree(n);
                for (NewDir* a = n->pndirPointer; a; a = a->pndirPointer)
                    a->selected = 1;
                return newdir::Walk::Skip;
            }
            // Only folders on the way to the prefix are worth entering.
            return prefix.compare(0, path.size() + 1, path + "/") == 0 ? newdir::Walk::Into : newdir::Walk::Skip;
        },
        [&](NewDir*) { paths.pop_back(); });
    return found;
}

} // namespace

int saveCommand(const std::vector<std::string>& args) {
    if (args.size() < 2) return saveUsage();
    ScanImageOptions o;
    o.image = args[0];
    const std::string destination = args[1];
    std::string only;
    for (std::size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return saveUsage();
        if (args[i] == "--only")
            only = args[i + 1];
        else if (!parseScanImageOption(args[i], args[i + 1].c_str(), o))
            return saveUsage();
    }

    // Carved files are saved like any other found file.
    if (!o.types.empty()) {
        if (o.carveDriver.empty()) o.carveDriver = "default";
        if (!resolveSearchTypes(o)) return 2;
    } else if (!o.carveDriver.empty()) {
        return saveUsage();
    }
    platform::RecordingController controller;
    ScannedImage scanned = scanImage(o, controller);
    if (!scanned.volume) return 2;
    auto finish = [&](int status) {
        scanned.volume->freeTree();
        platform::setAppController(nullptr);
        return status;
    };
    if (!scanned.completed || !scanned.volume->dirRoot) {
        std::fprintf(stderr, "scan-image: the scan did not complete; nothing is saved\n");
        return finish(1);
    }
    NewDir* root = scanned.volume->dirRoot;
    if (only.empty()) {
        markSubtree(root);
    } else if (markPath(root, only) == 0) {
        std::fprintf(stderr, "scan-image: nothing in the found tree is at %s\n", only.c_str());
        return finish(2);
    }

    auto saving = DataSaving::create(scanned.volume, root, scanned.row);
    saving->setPanelSettleDelay(std::chrono::milliseconds(0));
    saving->setMarkedData(DataSaving::countMarkedToSave(root).bytes);
    const std::size_t alertsBefore = controller.alerts().size();
    const bool started = saving->destinationPanelDidEnd(1, destination);
    if (started) saving->waitUntilFinished(std::chrono::hours(24 * 365));

    const auto alerts = controller.alerts();
    for (std::size_t i = alertsBefore; i < alerts.size(); ++i) {
        const bool last = started && i + 1 == alerts.size();
        std::FILE* out = last ? stdout : stderr;
        std::fprintf(out, last ? "%s\n%s\n" : "alert: %s: %s\n", alerts[i].title.c_str(), alerts[i].message.c_str());
    }
    if (!started) return finish(1);
    return finish(saving->ending() == DataSaving::Ending::Completed ? scanned.exitStatus() : 1);
}
