#pragma once

// Files the signature search confirmed become nodes of the found-file tree:
// a folder per type ("jpg files") under the root, or the folder path a
// recogniser found inside the record, the file with its size and its one data
// extent, and for an RTF document that names pictures a package folder
// ("File1.rtfd") holding the document as "TXT.rtf", into which the pictures
// found after it go. The volume's counters and the folders above each file
// grow with it, and every new node's record goes to the auto-recovery file
// as soon as it is complete, a folder before anything inside it.
//
// Carved nodes are sector-addressed: one sector a block, counted from the
// search's sector numbering (the volume's start plus blocksStartsAtSector),
// so the preview and the save read them like any other found file.

#include "carving/AutoRecoveryAppend.h"
#include "platform/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class Sig;
class SignatureSearchState;
class Volume;
struct NewDir;

class CarvedFileRecorder {
public:
    // A recorder of a resumed search (the volume's autoCrashRecovery) first
    // notes where the files of the restored tree begin.
    // `search` holds the names a recogniser found and the pending RTF
    // packages.
    CarvedFileRecorder(Volume& volume, SignatureSearchState& search);

    // A resumed search goes over the stretch between its checkpoint and the
    // interruption again: a hit at a sector where a restored file begins was
    // recorded before and is not recorded twice.
    bool recordedBefore(std::uint64_t block) const;
    // The furthest sector at which a restored file begins: the last position
    // the records of the interrupted search vouch for.
    std::optional<std::uint64_t> lastRecordedBlock() const;

    // A carved file's length: the measured one when it lies inside the
    // volume, else the type's size limit (the user's, else the default),
    // never past the volume's end from `block`.
    std::uint64_t carvedSize(const Sig& sig, std::uint64_t block) const;
    // The bytes from `block` to the volume's end: no carved file reaches
    // into what follows the volume.
    std::uint64_t bytesLeftFrom(std::uint64_t block) const;
    // Whether a file of this type found at `block` fits the tree's record,
    // whose start sector and sector count are 32 bits wide. A file that does
    // not is never recorded at a cut position: false, with a log line.
    bool fitsRecord(std::uint64_t block, const Sig& sig) const;

    // Records the confirmed hit at `block` (the search's sector numbering)
    // in the type folder, or the recogniser's folder path, appending the new
    // nodes' records to fileDesc. The search counts the file itself.
    void addFileToListAtBlock(std::uint64_t block, Sig& sig, AutoRecoveryAppend& fileDesc);
    // Records a picture that the last RTF package on the pending list named,
    // under fileName, inside that package's folder.
    void addRtfGraphicToListAtBlock(std::uint64_t block, const Sig& sig, const std::string& fileName,
                                    AutoRecoveryAppend& fileDesc);
    // The built-in formats' result folders ("JPG Files"): `node`, zeroed,
    // becomes a folder under the root named `fileName` whose files take the
    // extension (given with its dot). It joins the tree, and the
    // auto-recovery file, only with its first file.
    void createSignatureSearchFolderNode(NewDir* node, const std::string& fileName, std::string_view andExtension);
    // Whether a file of `size` bytes found at `block`, `extraBytes` into its
    // first sector, fits the record's 32-bit sector fields; logged when not.
    bool fitsRecord(std::uint64_t block, std::uint64_t size, std::uint32_t extraBytes = 0) const;
    // Whether a result folder is under the root already: once it holds a
    // file, and a resumed search's restored folder may hold none (its first
    // file was held open, unrecorded, when the scan was cut off).
    bool linkedUnderRoot(const NewDir* folder) const;
    // A file a size calculator measured, found at `andBlockNumber`, as the
    // next "fileN.<extension>" of its result folder; the folder is linked
    // under the root and written before its first file. The detection counts
    // the file and its data. A file another file's bytes `cut` is marked
    // damaged. With `holdRecord` the file's own record is left for the
    // caller to write. The file's node; nullptr when nothing was recorded.
    NewDir* addDetailsToNdir(NewDir* folder, std::uint64_t andFileSize, std::uint64_t andBlockNumber,
                             AutoRecoveryAppend& fileDesc, bool cut = false, bool holdRecord = false);
    // A file addDetailsToNdir recorded turned out to hold another's first
    // sector: it keeps no more than its first `size` bytes, is marked
    // damaged, and its folder and the root count only those. The detection
    // counts the volume's data.
    void cutCarvedFile(NewDir* file, std::uint64_t size);
    // A JPEG preview found inside a raw photo, `extraBytesToMove` bytes into
    // the sector `sectorNumber`, as "file - Raw JpgN.jpg" of the folder.
    void addDetailsOfRawJpgFile(NewDir* folder, std::uint64_t sectorNumber, std::uint64_t fileSize,
                                std::uint32_t extraBytesToMove, AutoRecoveryAppend& fileDesc);

    // Appends the first `size` bytes of the medium from `block` to intoData,
    // eight sectors a read through the preview reader; a failed read or the
    // user's stop ends it with what was read.
    void fillDataFromBlock(std::uint64_t block, std::uint64_t size, std::vector<std::uint8_t>& intoData);

private:
    // How the entries-below counts of the folders above a new file grow.
    enum class Entries { EveryFolderAbove, NoneAbove };

    // A zeroed node of the kind named `name` under `parent`, with the next
    // file ID and the carved and found-by-signature flags; not yet linked.
    NewDir* newCarvedNode(NewDir* parent, std::uint16_t kind, const std::string& name);
    // The "<extension> files" folder a search made under the root, or null.
    NewDir* ownTypeFolder(const Sig& sig) const;
    // A new "<extension> files" folder under the root, linked and written.
    NewDir* typeFolder(const Sig& sig, AutoRecoveryAppend& fileDesc);
    // The folders of foundParentPath below the root, made where missing.
    NewDir* pathFolders(AutoRecoveryAppend& fileDesc);
    // The file named `name` (or its RTF package) in `folder`, with the
    // counts of the folders above it.
    void recordFile(NewDir* folder, const std::string& name, std::uint64_t block, const Sig& sig, Entries entries,
                    platform::Dict* pairing, AutoRecoveryAppend& fileDesc);
    void setSizeAndExtent(NewDir* node, std::uint64_t block, std::uint64_t size);
    // The extent of `sectors` sectors from `block` in the recorder's numbering.
    void setExtent(NewDir* node, std::uint64_t block, std::uint64_t sectors);
    // Files `file` (named, sized) as the next of a built-in result folder;
    // its record is written unless `holdRecord`.
    void addToResultFolder(NewDir* folder, NewDir* file, bool countInRootSize, AutoRecoveryAppend& fileDesc,
                           bool holdRecord = false);
    // A carved file under `parent`, sized and given its extent, linked and
    // written to the auto-recovery file.
    NewDir* addCarvedFile(NewDir* parent, const std::string& name, std::uint64_t block, const Sig& sig,
                          AutoRecoveryAppend& fileDesc);

    Volume& volume_;
    SignatureSearchState& search_;
    // Sorted first sectors of the restored carved files.
    std::vector<std::uint64_t> restoredStarts_;
};
