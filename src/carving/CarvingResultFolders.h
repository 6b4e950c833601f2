#pragma once

// The result folder of every selected built-in format of a carving run
// ("JPG Files", "PNG Files", …) and the "RAW Jpg Files" folder for the JPEG
// previews found inside raw photos. A fresh run makes them anew; a resumed
// run takes over those the restored tree already has under the root (its
// carved folders, by exact name), so the files of both runs share one folder and their numbers
// go on. A folder joins the tree only with its first file; those that never
// got one are freed with the run.

#include <string_view>
#include <utility>
#include <vector>

class CarvedFileRecorder;
class CarvingSelection;
class Volume;
struct NewDir;

class CarvingResultFolders {
public:
    static constexpr std::string_view kRawJpgFolder = "RAW Jpg Files";

    CarvingResultFolders(Volume& volume, CarvedFileRecorder& recorder) noexcept
        : volume_(volume), recorder_(recorder) {}
    ~CarvingResultFolders();
    CarvingResultFolders(const CarvingResultFolders&) = delete;
    CarvingResultFolders& operator=(const CarvingResultFolders&) = delete;

    void prepare(const CarvingSelection& selection, bool resumed);

    // The folder of a selected format's key, or null.
    NewDir* folderFor(std::string_view key) const;
    NewDir* rawJpgFolder() const { return rawJpg_; }

private:
    // The root's first child folder of that name in a resumed run, else a
    // new unlinked folder.
    NewDir* folderNamed(std::string_view name, std::string_view extension, bool resumed);

    Volume& volume_;
    CarvedFileRecorder& recorder_;
    std::vector<std::pair<std::string_view, NewDir*>> byKey_;
    NewDir* rawJpg_ = nullptr;
    // Made by this run, to be freed if they never joined the tree.
    std::vector<NewDir*> made_;
};
