#pragma once

// The scan the tree and save subcommands share: the image is taken as a
// volume the partition search found on a disk (starting at a given sector,
// in sectors of a given size) and scanned by the program's own scan thread,
// on the calling thread, with alerts answered by their default button.

#include "media/DMedia.h"
#include "platform/RecordingController.h"
#include "platform/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class Volume;
struct NewDir;

struct ScanImageOptions {
    std::string image;
    std::uint64_t start = 0;
    // Sectors of the volume from start; without it, the length of the
    // partition the image's partition table has at start, or the rest of
    // the image.
    std::optional<std::uint64_t> length;
    std::uint32_t sectorSize = 512;
    std::string content;
    // Empty: the scan the content calls for ("deleted" for exFAT, else
    // "normal").
    std::string mode;
    // The file types marked for a plain signature search (SigNode objects);
    // none: no search. The search is the deleted-file scan's of the volume's
    // content, or the whole-disk search when there is no content.
    std::optional<platform::Array> searchTypes;
    // With searchTypes: the carving driver to run instead of the plain search
    // (volume, disk, hfs-free, fat-free, exfat, apfs; "default" for the
    // deleted-file scan's own of the content, or the disk's without one).
    std::string carveDriver;
    // --types as given, resolved by resolveSearchTypes.
    std::string types;
    // What every byte of the scanned volume is read through (see
    // DMedia::setRawRead); pread when unset. Only tests set it, to give the
    // scan a medium with sectors that fail.
    DMedia::RawRead rawRead;
};

// The file-type nodes of the built-in list of the file scans whose
// extension is one of `types` (comma separated; "all" marks every one), in
// list order; nothing, with the reason, when the list cannot be read or an
// extension names no type.
// With photoList, the photo scans' list is searched first (it holds the
// formats the carving measures) and the file scans' one for the extensions
// it lacks; "all" then marks every type of the photo scans' list.
std::optional<platform::Array> markedSignatureTypes(const std::string& types, std::string* error,
                                                    bool photoList = false);
// Sets o.searchTypes from o.types; false, with the reason on standard
// error, when an extension names no type.
bool resolveSearchTypes(ScanImageOptions& o);

// The scan the program runs on a volume of this content, by the scan thread's
// table: the tree scan ("normal"), or "deleted" for a content that only the
// deleted-file scan recovers (exFAT).
std::string defaultScanMode(const std::string& content);

// Reads one of the scan's options (--start, --length, --sector-size,
// --content, --mode, --types, --driver) with its value into o; false when flag is not one of them or the
// value does not fit it.
bool parseScanImageOption(const std::string& flag, const char* value, ScanImageOptions& o);

struct ScannedImage {
    std::shared_ptr<Volume> volume;
    // The volume dictionary the volume was made from.
    platform::Dict row;
    // The scan ran to its final "Tree Complete" without giving up, found a
    // volume it could read, and its medium kept answering.
    bool completed = false;
    // Sectors the scan could not read and took as zeros: the tree may lack
    // what lay on them.
    std::uint64_t unreadableSectors = 0;

    // The exit status of a command that scanned, whatever else it did: 0
    // only when the scan completed and read every sector it asked for, so
    // a tree built over sectors that failed never passes for the whole of
    // the medium; 1 otherwise, with what it found printed all the same.
    int exitStatus() const { return completed && unreadableSectors == 0 ? 0 : 1; }
};

// Scans the image (or block device) with o. The controller becomes the
// process's application controller (and stays so) with the image in its
// drive list, so a failed read is reported rather than taken for a vanished
// drive. Alerts of the scan, a scan that found no volume it could read and
// sectors that could not be read (with a word on the advanced scan when a
// normal scan lost catalog nodes) go to standard error. An empty volume,
// after a message on standard error, when the image cannot be scanned.
ScannedImage scanImage(const ScanImageOptions& o, platform::RecordingController& controller);

// Writes the scanned volume's recovery session to path as the program's
// Save Recovery Session does; false, with the reason on standard error, when
// it could not be written.
bool saveScanSession(const ScannedImage& scanned, const ScanImageOptions& o, const std::string& path,
                     platform::RecordingController& controller);

// The tree `tree` prints: one node a line from the volume's root, tab-separated
// path, file ID, parent ID, kind, size, deleted, complete and extents.
void printTree(const Volume& v);
std::string pathOf(const NewDir* node);
