#pragma once

// Helpers the tests share: where the generated test images are, and copies of
// the ready-made images of tests/data (never used in place: tests must not
// write to them).

#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// The variant of the samples the tools make (DRENTIC_SAMPLE_VARIANT; 0 when
// unset, the default, whose samples keep the bytes they always had). Another
// variant makes every sample of the same kind, role and order of size from
// other incidental choices, so a test that holds only for one tool version's
// bytes fails under it. tests/fixtures/sample-variant.sh makes the same
// choices for the fixture scripts (and the keyed random streams' pass
// phrases).
int sampleVariant();
// An ImageMagick seed and a tone's frequency in hertz of the variant, as the
// tools' command lines take them; a script that counts its seeds itself adds
// sampleSeed(0) to each.
std::string sampleSeed(unsigned seed);
std::string sampleTone(unsigned hertz);
// ffmpeg's moving test pattern of the variant with the source options given
// ("size=64x48:rate=25:duration=1"), for its lavfi input: testsrc for the
// default. Still patterns move by a little noise in every frame, so that the
// videos made of them are of the default's order of size.
std::string sampleVideo(const std::string& options);

// The folder the fixture scripts fill at test time, one for each variant.
std::filesystem::path testImagesDir();
// A generated image by name; empty when it was not made.
std::filesystem::path testImage(const std::string& name);
// tests/data, the ready-made images kept in the repository.
std::filesystem::path readyImagesDir();
// A private copy of a ready-made image in a fresh temporary folder.
std::filesystem::path copyOfReadyImage(const std::string& name);
// A fresh, empty temporary folder removed at process exit.
std::filesystem::path makeTempDir(const std::string& tag = "t");

// What a shell command printed on its standard output; nothing when it could
// not run or exited with a failure.
std::optional<std::string> runCommand(const std::string& command);
// What a shell command printed on its standard output and how it ended: its
// exit status, or -1 where it could not be started or was ended by a signal.
struct CommandRun {
    std::string out;
    int status = -1;
};
CommandRun runCommandWithStatus(const std::string& command);
// Whether a program is on the PATH.
bool haveTool(const std::string& name);
// The bytes of a sample file that `command` writes to "$OUT" (a fresh file
// named sample.<extension>); a test failure and an empty string when the
// command fails or writes nothing.
std::string toolSample(const std::string& command, const std::string& extension);
// A document of plain text that holds no 0xFF byte: a PDF ghostscript writes
// without compression or embedded fonts ("pdf"), or a file of that extension
// LibreOffice writes of a text file (HTML, RTF and others).
std::string textDocument(const std::string& extension);
// An image of `bytesPerSector`-byte sectors in a fresh folder, zero but for
// `bytes` at `sector`, long enough to hold them and `tailSectors` more.
std::filesystem::path imageWith(const std::string& bytes, std::uint64_t sector, std::uint64_t tailSectors = 64,
                                std::uint32_t bytesPerSector = 512);
// A file's bytes (empty when it cannot be read).
std::vector<std::uint8_t> readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
// Writes text to a file, making its folders.
void writeText(const std::filesystem::path& path, const std::string& text);
// A file of `size` zero bytes (sparse), making its folders.
std::filesystem::path zeroFile(const std::filesystem::path& path, std::uint64_t size);
// Bytes of a file from an offset (fewer at its end).
std::vector<std::uint8_t> readBytesAt(const std::filesystem::path& path, std::uint64_t offset, std::size_t length);
// Overwrites bytes of an existing file in place.
void writeBytesAt(const std::filesystem::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
// An unsigned integer of `width` bytes written into bytes at an offset, most
// significant byte first (big-endian) or last (little-endian).
void putBE(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, int width);
void putLE(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, int width);
// A path or argument in single quotes for the shell.
std::string shellQuote(const std::string& text);
// A fax written to `file`: three pages of 1728 x 1100 dots that ImageMagick
// codes as G4 and tiffcp joins, the first a black box from dot (100, 100) to
// (799, 399) on white, the others black all over. False when the tools fail.
bool writeFax(const std::filesystem::path& file);
// An exFAT volume of `size` (as truncate takes it: "64M") made by
// mkfs.exfat as `image` and filled through exfat-fuse, which as root takes
// only block devices: mounted at `mount` from a loop device over the image
// (LoopDevice), while `fill` runs in bash -e in the image's folder. False
// where a step failed.
bool exfatFilledThroughFuse(const std::filesystem::path& image, const std::string& size,
                            const std::filesystem::path& mount, const std::string& fill);
// A bare HFS+ volume, as a disk without partitions holds one: the one xorriso
// writes into a hybrid image (ten files in two folders), cut out of the image
// at its Apple partition, alternate header and all. Made once per process;
// empty when xorriso is missing or fails. Read only: copy it to change it.
std::filesystem::path bareXorrisoHfsVolume();

// The log lines written while it lives; none reach the console.
struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        platform::setLogSink([this](const std::string& line) { lines.push_back(line); });
    }
    ~LogCapture() { platform::setLogSink(nullptr); }
};

// A recording controller installed as the application controller while it lives.
struct ControllerScope {
    platform::RecordingController controller;
    ControllerScope() { platform::setAppController(&controller); }
    ~ControllerScope() { platform::setAppController(nullptr); }
};

} // namespace testsupport
