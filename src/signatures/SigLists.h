#pragma once

// The signature list files: which list serves a scan mode, reading it (with
// its "_backup" twin and the built-in list to fall back on), writing it back
// safely, and the list edits of the file-type editor (adding a type of the
// user's own after checking the sheet's texts, deleting one).
//
// The built-in lists in the resources are never written. The user's lists
// live in the data folder and are seeded from the built-in ones the first
// time they are needed, so every edit lands on the user's copy. Each list
// carries the version of the built-in lists it was made from ("listVersion"
// beside the archive's root; lists of earlier programs have none and count
// as 0). When the program's lists are newer, the user's copies are brought
// up to date as they are next loaded, keeping what the user did to them.

#include "platform/ScanMode.h"
#include "signatures/SigNode.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The loaded list: its category nodes in list order.
using SigRootArray = std::vector<std::shared_ptr<SigNode>>;

class SigLists {
public:
    // "Sig_FR" for the file scans, "Sig_PR" for the photo scans, "Sig_AL"
    // for the partition scans; empty for none.
    static std::string listNameForScanMode(platform::ScanMode scanMode);
    // The list's twin: "Sig_FR" -> "Sig_FR_backup".
    static std::string backupName(const std::string& listName);
    // Where the user's copy of a list ("Sig_FR", "Sig_FR_backup") lives;
    // empty when the data folder cannot be made.
    static std::string userListPath(const std::string& name);
    static std::string builtInListPath(const std::string& name);

    // The list of the scan mode: the user's list, or its twin once "Load
    // File Types" was pressed twice (sigDataLoadCount 2 or more). A file that
    // is missing or does not decode to a list falls back to the user's twin,
    // then to the built-in list, with a log line for each step. Parents and
    // containsPreInstalledChildren are set. nullopt when nothing could be read.
    static std::optional<SigRootArray> loadSigData(platform::ScanMode scanMode, int sigDataLoadCount);

    // The list in a keyed archive's bytes, or nullopt (with the reason in
    // *error) when they are not an array of category nodes holding file-type
    // nodes that each have a Sig. Its version goes to *version.
    static std::optional<SigRootArray> decodeList(const std::vector<std::uint8_t>& bytes, std::string* error = nullptr,
                                                  std::uint32_t* version = nullptr);
    // The keyed archive of a list of that version.
    static std::optional<std::vector<std::uint8_t>> encodeList(const SigRootArray& sigRootArray, std::uint32_t version,
                                                               std::string* error = nullptr);

    // A user's copy made from built-in lists of version `copyVersion`,
    // brought up to the program's list `builtIn`: the program's types with
    // the program's values, in its order; of each, the user's own size limit
    // (userSize) and the user's mark where it differs from the mark the
    // copy was made with (every type was marked before version 2); the
    // types the user added, with their marks, at the end of their category
    // (a category of their own at the end where the program has none). The
    // copy's built-in types the program no longer has are left out.
    static SigRootArray bringUpToDate(const SigRootArray& copy, std::uint32_t copyVersion, const SigRootArray& builtIn);

    // Writes the list to the user's file of that name, with the version of
    // the built-in list of that name; false (and a log line) when it could
    // not be written completely. The file on disk is either the old list or
    // the new one, never a mixture.
    static bool writeList(const SigRootArray& sigRootArray, const std::string& name);
    // Writes the list to the scan mode's list file (not the twin).
    static bool saveSigData(const SigRootArray& sigRootArray, platform::ScanMode scanMode);

    // Hex text packed big-endian into 64 bits: "FFD8FF" -> 0xFFD8FF. A
    // trailing odd character is ignored and a character that is not a hex
    // digit counts as 0.
    static std::uint64_t getHeaderFromString(std::string_view text);
    // Every character a hex digit / a decimal digit; true for empty text.
    static bool stringIsHex(std::string_view text);
    static bool stringIsNumeric(std::string_view text);

    // The texts of the add-file-type sheet, as typed.
    struct NewFileTypeTexts {
        std::string category;
        std::string software;
        std::string extension;
        std::string signature;
        std::string offset;
        std::string maxFileSize;
    };
    // What adding a type came to.
    struct AddOutcome {
        // The message of the first check that failed (the list is then
        // unchanged); empty when the type was added.
        std::string message;
        // Whether the list file and its twin were written.
        bool listSaved = false;
        bool backupSaved = false;
    };
    // Checks the texts in order and either reports the first failure or adds
    // the new type to every category of the typed name (a new last category
    // when there is none) and writes the list and its twin.
    static AddOutcome addFileType(const NewFileTypeTexts& texts, SigRootArray& sigRootArray,
                                  platform::ScanMode scanMode);
    // Only the checks: the message of the first that fails, or empty.
    static std::string checkNewFileType(const NewFileTypeTexts& texts, const SigRootArray& sigRootArray);

    enum class RemoveOutcome { Unchanged, Saved, SaveFailed };
    // Deletes the node from the list, a file-type node from the categories
    // of its name, a category node with its name from the root, and writes
    // the list file. With nothing loaded, or a node that is not in the list
    // (the placeholder row), nothing is changed or written.
    static RemoveOutcome removeFileType(SigRootArray* sigRootArray, const SigNode& node, platform::ScanMode scanMode);

    // Sets every file-type node's parent to its category and each category's
    // containsPreInstalledChildren.
    static void linkTree(const SigRootArray& sigRootArray);
};
