#pragma once

// Set-up the scan, saving and result tests share: volumes over image files,
// the xorriso fixture image and its manifest, finding found nodes by path,
// reading a found file back, and a fixture that records what a scan asked of
// its controller and frees what it built.

#include "hfsplus/HFSPlusReaderState.h"
#include "platform/RecordingController.h"
#include "volume/Volume.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

// A volume over an image file as the partition search reports one: from
// sector `start`, `sectors` long (0: to the end of the file).
std::shared_ptr<Volume> volumeOver(const std::filesystem::path& image, std::uint64_t start = 0,
                                   std::uint64_t sectors = 0, std::uint32_t bytesPerSector = 512,
                                   const std::string& content = "Apple_HFS");
// The same volume after a normal tree scan (a controller must be installed).
std::shared_ptr<Volume> scannedVolume(const std::filesystem::path& image, std::uint64_t start = 0);

// The generated xorriso image with the first 512-byte sector of its HFS+
// volume; an empty path when it was not made. Read only: copy it to change it.
struct XorrisoImage {
    std::filesystem::path path;
    std::uint64_t start = 0;
    explicit operator bool() const { return !path.empty(); }
};
XorrisoImage xorrisoImage();
// A small HFS+ volume that xorriso writes into a hybrid image, made once per
// process in a temporary folder: 33 files, three in each of eleven folders
// nested one in the other, and a catalog of 4096-byte nodes whose node 1 is
// the index root above the leaves. Losing a leaf loses folders, so
// files below them are found only as orphans. Empty when xorriso is missing
// or fails. Read only, as the fixture image.
XorrisoImage smallXorrisoImage();
// The first sector of a catalog node of a volume that a normal scan has
// read: the node's place by the catalog geometry the scan left on it.
std::uint64_t catalogNodeSector(Volume& scanned, std::uint32_t node);
// What went into a generated image, by path: size, "file" or "dir", sha256,
// and "live" or "deleted".
struct ManifestEntry {
    std::uint64_t size = 0;
    std::string type, sha256, state;
};
// The manifest of a generated image ("fat16.manifest"), and the xorriso one.
std::map<std::string, ManifestEntry> imageManifest(const std::string& name);
std::map<std::string, ManifestEntry> xorrisoManifest();

// A medium whose every byte is known, so a misplaced read shows: the bytes
// from an offset, and a file of `sectors` 512-byte sectors of them.
std::string patternBytes(std::uint64_t offset, std::uint64_t length);
std::filesystem::path patternImage(std::uint64_t sectors);
// Disks that pose as patternImage(sectors): one of that size with other
// bytes throughout, and a twin whose first five sectors are the disk's and
// the rest other bytes, each in a fresh temporary folder.
struct Impostors {
    std::filesystem::path other;
    std::filesystem::path twin;
};
Impostors impostorsOf(const std::filesystem::path& disk, std::uint64_t sectors);
// A writable copy of a file in a fresh temporary folder.
std::filesystem::path copyToTemp(const std::filesystem::path& file);
// A file of `bytes` zeros in a fresh temporary folder.
std::filesystem::path zeroImage(std::uint64_t bytes);
// A disk image of `bytes` bytes (8 MiB by default) in a fresh folder: zeros,
// or a keyed random stream of the sample variant whose pass phrase begins
// `phrase`.
std::filesystem::path filledImage(bool random, const std::string& phrase, std::uint64_t bytes = 8 << 20);
// Overwrites bytes of an existing file.
void writeAt(const std::filesystem::path& file, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
// A disk image of `sectors` zero sectors at `image` holding `file` at `first`
// and every `every` sectors after it: the sectors it was placed at.
std::vector<std::uint64_t> imageWithFileEvery(const std::filesystem::path& image, std::uint64_t sectors,
                                              const std::string& file, std::uint64_t first, std::uint64_t every);
std::vector<std::uint8_t> be16(std::uint16_t v);
std::vector<std::uint8_t> be32(std::uint32_t v);
std::string asString(const std::vector<std::uint8_t>& bytes);
// Media files made by the tools, each with one sector holding what a walk of
// it reads next: a JPEG's header markers, a movie's atoms after its first, a
// PNG's second image data chunk header, the blocks between a GIF's frames.
// `lost` is that sector of the file, `key` the file's extension. Empty (and a
// test failure) when a sample cannot be made.
struct StructureSample {
    const char* name;
    std::string bytes;
    std::string key;
    std::uint64_t lost;
};
std::vector<StructureSample> samplesWithAStructureInOneSector();
// A path in single quotes for the shell.
std::string shellQuoted(const std::filesystem::path& p);

// Every node below root by its path of names ("Docs/a.txt").
std::map<std::string, NewDir*> nodesByPath(const NewDir* root);
// The node at a path of names below root, or nullptr.
NewDir* nodeAt(const NewDir* root, const std::string& path);
// The sector a found file begins at, counted from its volume's start; 0 for
// one without extents.
std::uint64_t firstSector(const NewDir& file);
// A found file's bytes read through its extents, cut to its size.
std::string readThroughExtents(Volume& v, const NewDir& file);

// An 8 MiB exFAT volume that mkfs.exfat made, with six deleted files
// (deleted0.bin ... deleted5.bin, patternBytes(i * 7919, 5000 + i * 3001))
// and a deleted folder written into its root directory as the driver leaves
// them: a file entry, its stream extension (no FAT chain) and its name, the
// data in clusters near the end of the heap: the folder, Old, in the one
// before the last, holding the deleted inside.bin (patternBytes(99991,
// 3000)) two clusters before it, and file i 8 x (i + 1) clusters before it.
// Empty when mkfs.exfat fails.
std::filesystem::path exFATVolumeWithDeletedFiles();
// A FAT volume of `kib` KiB that mkfs.vfat made with `options` in the
// folder, and one of mtools' commands run on it.
std::filesystem::path mkfsVfat(const std::filesystem::path& dir, const std::string& options, const std::string& kib);
void mtools(const std::filesystem::path& image, const std::string& tool, const std::string& arguments);
// A copy of a failing disk that stopped short: a GUID disk of three xorriso
// HFS+ volumes at sectors 2048, 10240 and 18432, each of three ImageMagick
// photos (n/Photos/photoi.jpg in the folder), cut 64 sectors into the second
// (kCutShortDiskBytes), where its last photo ends, or at `bytes` (its photos
// lie at sectors 10268, 10280 and 10292, 12 each). The folder holding
// disk.img and the photos; nothing when the disk could not be made.
constexpr std::uint64_t kCutShortDiskBytes = 10304 * 512;
std::optional<std::filesystem::path> cutShortHfsDisk(std::uint64_t bytes = kCutShortDiskBytes);
// The photo list's types with these extensions, and the file list's types of
// the extensions the photo list lacks, from the file-type table at `table`,
// marked as scan-image marks them.
platform::Array markedTypes(const std::filesystem::path& table, const std::set<std::string>& extensions);
// The file list's types with these extensions, as the plain search is given
// them.
platform::Array fileListTypes(const std::filesystem::path& table, const std::set<std::string>& extensions);

// A recording controller and a log sink installed for the test; volumes kept
// here have their trees, and the HFS+ readers' states made here their parked
// entries, freed at its end. The image of a
// kept volume counts as a present drive, so a failed read is not taken for a
// vanished device.
// A file a search found: its bytes, whether it is marked damaged ("Bad"), and
// its path of names in the results.
struct SearchedFile {
    std::string bytes;
    bool bad = false;
    std::string path{};
};

class ScanFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Frees the kept volumes' trees and forgets the volumes.
    void freeVolumes();
    std::shared_ptr<Volume> keep(std::shared_ptr<Volume> v);
    // The HFS+ readers' state of a kept volume, made at the first call.
    HFSPlusReaderState& hfsState(Volume& v);
    bool logged(const std::string& part);
    // Exactly one final "Tree Complete" post, and it is the last call.
    void expectTreeCompleteLast();
    // The search of a whole disk image for `types`, the plain search (method 0) or the carving (1): the files found by
    // the sector each begins at, each read through its extents as long as its size. The volumes are freed after.
    std::multimap<std::uint64_t, SearchedFile> searchedDisk(const std::filesystem::path& image,
                                                            const platform::Array& types, int method);

    platform::RecordingController controller;
    std::mutex logMutex;
    std::vector<std::string> logs;
    std::vector<std::shared_ptr<Volume>> volumes;
    std::vector<std::unique_ptr<HFSPlusReaderState>> hfsStates;
};

} // namespace testsupport
