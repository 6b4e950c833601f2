// Recovery sessions at the size of a big recovery: a found-file tree of
// 1,000,000 files in 10,000 folders (names, dates, one or two extents each,
// a tenth of them deleted) is saved to a session file by the save thread's
// body and opened again by the reading thread's body, which rebuilds the
// tree it shows. Prints the seconds of each and the file's size; the file is
// written in a fresh folder of $TMPDIR and removed afterwards.
//
//   session_bench [FILES]

#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "session/RecoverySessionOpening.h"
#include "session/RecoverySessionSaving.h"
#include "volume/TreeCleanup.h"
#include "volume/Volume.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFilesPerFolder = 100;

double secondsOf(const std::function<void()>& work) {
    const auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Root { dir0 { sub0 { file0 ... } ... } ... }, totals as a scan leaves them.
void buildTree(Volume& v, std::uint64_t files) {
    NewDir* root = v.createRoot();
    const std::uint64_t folders = (files + kFilesPerFolder - 1) / kFilesPerFolder;
    NewDir* top = nullptr;
    for (std::uint64_t f = 0, made = 0; f < folders; ++f) {
        if (f % 100 == 0) {
            top = newdir::allocate();
            top->fileType = NewDir::Folder;
            top->pndirPointer = root;
            newdir::setFileName(top, newdir::utf16("dir" + std::to_string(f / 100)));
            newdir::setPathBelow(top, root);
            newdir::appendChild(root, top);
        }
        NewDir* folder = newdir::allocate();
        folder->fileType = NewDir::Folder;
        folder->pndirPointer = top;
        newdir::setFileName(folder, newdir::utf16("sub" + std::to_string(f)));
        newdir::setPathBelow(folder, top);
        newdir::appendChild(top, folder);
        for (std::uint64_t i = 0; i < kFilesPerFolder && made < files; ++i, ++made) {
            NewDir* file = newdir::allocate();
            file->fileType = NewDir::File;
            file->pndirPointer = folder;
            file->fileSize = 4096 + made % 100000;
            file->createDate = file->modDate = static_cast<std::uint32_t>(3'000'000'000u + made);
            file->fileID = static_cast<std::uint32_t>(100 + made);
            file->sectorsPerBlock = 8;
            file->deleted = made % 10 == 0 ? 1 : 0;
            newdir::setFileName(file, newdir::utf16("photo_" + std::to_string(made) + ".jpg"));
            newdir::appendDataExtent(file, static_cast<std::uint32_t>(made * 3), 2);
            if (made % 4 == 0) newdir::appendDataExtent(file, static_cast<std::uint32_t>(made * 3 + 2), 1);
            newdir::appendChild(folder, file);
        }
    }
    TreeCleanup::rearrangeTreeFromDir(root);
    TreeCleanup::rearrangeDeletedTree(root);
    newdir::fillChildrenDirectArrays(root);
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t files = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    platform::setAppController(&controller);

    const fs::path dir = fs::temp_directory_path() / ("session-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path disk = dir / "disk.img", file = dir / "bench.drs";
    fs::resize_file((std::ofstream(disk), disk), 1 << 20);
    auto volume = Volume::initWithDictionary(platform::Dict{{"Path", disk.string()},
                                                            {"Preferred Block Size", 512},
                                                            {"Volume Start", 0},
                                                            {"Volume Size In Sectors", 2048},
                                                            {"Volume Scan Type", 0},
                                                            {"Content", "Apple_HFS"},
                                                            {"Volume Name", "bench"}});
    buildTree(*volume, files);

    bool saved = false, opened = false;
    RecoverySessionSaving saving({volume, 0, 0, -1, {}, {}, false, {}, {}}, file.string());
    saving.setPanelSettleDelay(std::chrono::milliseconds(0));
    const double saveSeconds = secondsOf([&] { saved = saving.saveScanInfo(); });
    const std::uintmax_t bytes = fs::file_size(file);
    volume->freeTree();

    RecoverySessionOpening opening(file.string());
    std::shared_ptr<Volume> adopted;
    opening.setAdopt([&](const RecoverySession& s) { adopted = s.volume; });
    const double openSeconds = secondsOf([&] { opened = opening.openScanInfo(); });
    const std::uint32_t entries = adopted && adopted->dirRoot ? adopted->dirRoot->childrenCount : 0;
    if (adopted) adopted->freeTree();
    fs::remove_all(dir);
    platform::setAppController(nullptr);

    std::printf("session of %llu files (%u entries): save %.2f s, open %.2f s, file %.1f MB (%llu bytes)\n",
                static_cast<unsigned long long>(files), entries, saveSeconds, openSeconds, bytes / 1e6,
                static_cast<unsigned long long>(bytes));
    return saved && opened ? 0 : 1;
}
