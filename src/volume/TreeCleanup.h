#pragma once

// The clean-up passes over a finished found-file tree, which every scan runs
// at its end: non-media files go when the user asked for media only, empty
// and hidden system folders go, the folders' totals are summed again, the
// deleted entries are listed apart, nameless entries are named, the direct
// arrays are built and the helper indexes released. Every file that lies on
// sectors the scan could not read is marked "Bad", whatever found it.
//
// Each pass walks with an explicit list, so a medium's folder chain hundreds
// of thousands deep costs no stack; the passes that take nodes out lower the
// totals above them without walking up once per node.

#include <string_view>

class Volume;
struct NewDir;

class TreeCleanup {
public:
    explicit TreeCleanup(Volume& volume) noexcept;

    // Every pass over the volume's tree in order, with progress and log
    // lines, then the release of the volume's helper indexes.
    // filterTreeForMedia (the photo scans) also takes out every file that is
    // no media file.
    void processDuplicateEntries(bool filterTreeForMedia = false);
    // Marks damaged ("Bad") every file whose bytes meet a sector the medium's
    // map holds as unreadable, of any kind; nothing to walk on a medium that
    // lost none.
    void markFilesOnUnreadableSectors();

    // The single passes, on the tree below a folder.
    static void removeNonMediaFilesAndFolders(NewDir* folder);
    static bool isMediaFile(std::u16string_view extension);
    static void removeZeroSizeFolders(NewDir* folder);
    static void rearrangeTreeFromDir(NewDir* folder);
    static void rearrangeDeletedTree(NewDir* folder);
    static void fixNilFileNames(NewDir* folder);
    static void fixPathNames(NewDir* folder);

private:
    Volume& volume_;
};
