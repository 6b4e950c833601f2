// The found-file tree at the size of a big recovery, through what the result
// screen does with it: 1,000,000 files in 10,000 folders built as the readers
// build them and cleaned up as a scan's end does, the outline items made,
// the file-types view and the deleted-files view prepared, the totals counted
// after each, and the tree freed; then a folder of 100,000 files expanded in
// the result outline. Medians of several rounds.
//
//   QT_QPA_PLATFORM=offscreen tree_bench [ROUNDS]

#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "results/CheckController.h"
#include "results/DisplayedTree.h"
#include "results/TreeArrangement.h"
#include "results/qt/ResultOutlineModel.h"
#include "volume/NodePool.h"
#include "volume/TreeCleanup.h"
#include "volume/Volume.h"

#include <QApplication>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kTopFolders = 100;
constexpr int kFoldersEach = 100;
constexpr int kFilesEach = 100;
constexpr int kBigFolderFiles = 100000;

double seconds(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::shared_ptr<Volume> emptyVolume() {
    auto v = Volume::initWithDictionary(platform::Dict{{"WhetherVolume", true},
                                                       {"Path", "/dev/null"},
                                                       {"Volume Name", "bench"},
                                                       {"Size", 1ull << 40},
                                                       {"Preferred Block Size", 512},
                                                       {"Content", "Apple_HFS"}});
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    return v;
}

// Attached as the catalog reader attaches entries: indexed by ID, the
// running totals raised along the parents.
NewDir* attach(Volume& v, NewDir* parent, const std::string& name, std::uint16_t type) {
    NewDir* d = newdir::allocate();
    d->fileType = type;
    d->fileID = ++v.maxFileID;
    d->parentID = parent->fileID;
    d->pndirPointer = parent;
    newdir::setFileName(d, newdir::utf16(name));
    if (type == NewDir::Folder) {
        newdir::setPathBelow(d, parent);
        d->childIndex = v.btree.get();
        v.addChildUpdateBTree(d, parent);
    } else {
        newdir::appendChild(parent, d);
    }
    return d;
}

void addFile(Volume& v, NewDir* parent, int n) {
    static const char* const kExtensions[] = {"JPG", "jpg", "png", "mov", "txt", "pdf", "CR2", "mp3", "doc", "zip"};
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%05d.%s", n % 100000, kExtensions[n % 10]);
    NewDir* f = attach(v, parent, name, NewDir::File);
    f->fileSize = 4096u + static_cast<std::uint64_t>(n % 7919);
    f->deleted = n % 10 == 3 ? 1 : 0;
    f->sectorsPerBlock = 8;
    newdir::appendDataExtent(f, static_cast<std::uint64_t>(n) * 2, 2);
    newdir::forEachAncestor(parent, [&](NewDir* a) {
        a->fileSize += f->fileSize;
        ++a->fileCount;
        ++a->childrenCount;
    });
}

void markAll(NewDir* root) {
    CheckController::markAllChildrenDirArray(root->childList, root->childrenArrayCount(), 1);
    root->selected = 1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QApplication app(argc, argv);
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    platform::setAppController(&controller);

    std::map<std::string, std::vector<double>> times;
    std::vector<std::string> order;
    auto timed = [&](const std::string& what, const std::function<void()>& work) {
        if (times.find(what) == times.end()) order.push_back(what);
        times[what].push_back(seconds(work));
    };
    std::size_t bytesPerNode = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::size_t poolBefore = NodePool::shared().bytesInUse();
        auto v = emptyVolume();
        timed("build 1,000,000 files in 10,000 folders", [&] {
            int n = 0;
            for (int t = 0; t < kTopFolders; ++t) {
                NewDir* top = attach(*v, v->dirRoot, "Folder " + std::to_string(t), NewDir::Folder);
                for (int s = 0; s < kFoldersEach; ++s) {
                    NewDir* folder = attach(*v, top, "Sub " + std::to_string(s), NewDir::Folder);
                    for (int f = 0; f < kFilesEach; ++f)
                        addFile(*v, folder, n++);
                }
            }
        });
        timed("clean-up at the scan's end", [&] { TreeCleanup(*v).processDuplicateEntries(); });
        const std::size_t nodes = std::size_t{v->dirRoot->childrenCount} + 1;
        bytesPerNode = (NodePool::shared().bytesInUse() - poolBefore) / nodes;

        DisplayedTree tree;
        tree.setVolume(v);
        tree.showVolumeRoot();
        timed("outline items of every node", [&] { tree.generateViewHelperFor(tree.dirRootTemp(), nullptr); });
        markAll(v->dirRoot);
        auto totals = [&] {
            (void)tree.totalDataText();
            tree.countMarkedDataAndFiles();
        };
        timed("totals of the folder view", totals);
        TreeArrangement arrangement(tree);
        auto toggle = [&](TreeArrangement::Toggle t) { return [&arrangement, t] { arrangement.prepareTree(t); }; };
        timed("deleted view", toggle(TreeArrangement::Toggle::Deleted));
        timed("totals of the deleted view", totals);
        timed("folder view, all files", toggle(TreeArrangement::Toggle::Deleted));
        timed("file-types view (first time: built)", toggle(TreeArrangement::Toggle::FileTypes));
        timed("totals of the file-types view", totals);
        timed("deleted files of the file-types view", toggle(TreeArrangement::Toggle::Deleted));
        timed("folder view, deleted files", toggle(TreeArrangement::Toggle::FileTypes));
        timed("folder view, all files, again", toggle(TreeArrangement::Toggle::Deleted));
        timed("free the tree and its views", [&] { tree.freeTreeNodes(); });
    }

    // A folder of 100,000 files, opened in the result outline.
    auto v = emptyVolume();
    NewDir* big = attach(*v, v->dirRoot, "Big", NewDir::Folder);
    for (int n = 0; n < kBigFolderFiles; ++n)
        addFile(*v, big, n);
    TreeCleanup(*v).processDuplicateEntries();
    DisplayedTree tree;
    tree.setVolume(v);
    tree.showVolumeRoot();
    tree.generateViewHelperFor(tree.dirRootTemp(), nullptr);
    for (int round = 0; round < rounds; ++round) {
        ResultOutlineModel model;
        QTreeView view;
        view.setModel(&model);
        view.resize(1200, 800);
        view.show();
        model.attach(tree.dirRootHelper());
        const QModelIndex rootIndex = model.index(0, 0);
        view.expand(rootIndex);
        QApplication::processEvents();
        const QModelIndex bigIndex = model.index(0, 0, rootIndex);
        timed("expand a folder of 100,000 files in the outline", [&] {
            view.expand(bigIndex);
            view.doItemsLayout();
            QApplication::processEvents();
        });
        timed("read every row of that folder", [&] {
            const int rows = model.rowCount(bigIndex);
            for (int r = 0; r < rows; ++r)
                (void)model.data(model.index(r, ResultOutlineModel::FilesColumn, bigIndex));
        });
    }
    tree.freeTreeNodes();

    std::printf("found-file record %zu bytes; tree of 1,000,000 files: %zu bytes/node (node pool, names included)\n",
                sizeof(NewDir), bytesPerNode);
    for (const std::string& what : order)
        std::printf("%-50s %8.3f s (median of %zu)\n", what.c_str(), median(times[what]), times[what].size());
    platform::setAppController(nullptr);
    return 0;
}
