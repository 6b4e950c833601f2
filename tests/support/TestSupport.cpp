#include "support/TestSupport.h"

#include "support/LoopDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace testsupport {

namespace {
std::mutex gMutex;
std::vector<fs::path> gTempDirs;

struct Cleanup {
    ~Cleanup() {
        for (const auto& d : gTempDirs) {
            std::error_code ec;
            fs::remove_all(d, ec);
        }
    }
} gCleanup;

// ImageMagick's threads, each with its own random numbers where a seed does not make it keep to one, are part of how
// a sample is made: one, on any machine (as sample-variant.sh sets for the fixture scripts; ffmpeg is given
// -threads 1 in each command).
struct OneToolThread {
    OneToolThread() { ::setenv("MAGICK_THREAD_LIMIT", "1", 1); }
} gOneToolThread;
} // namespace

int sampleVariant() {
    static const int variant = [] {
        const char* text = std::getenv("DRENTIC_SAMPLE_VARIANT");
        if (!text || !*text) return 0;
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        // A variant that is no number would run the default's samples unnoticed.
        if (*end || value < 0 || value > 1000000) throw std::runtime_error("DRENTIC_SAMPLE_VARIANT is no variant");
        return static_cast<int>(value);
    }();
    return variant;
}

std::string sampleSeed(unsigned seed) {
    return std::to_string(seed + static_cast<unsigned>(sampleVariant()) * 1000);
}

std::string sampleTone(unsigned hertz) {
    return std::to_string(hertz + static_cast<unsigned>(sampleVariant()) * 37);
}

std::string sampleVideo(const std::string& options) {
    static const char* const patterns[][2] = {{"testsrc", ""},
                                              {"testsrc2", ""},
                                              {"smptebars", ",noise=alls=5:allf=t"},
                                              {"rgbtestsrc", ",noise=alls=5:allf=t"}};
    const auto& pattern = patterns[sampleVariant() == 0 ? 0 : (sampleVariant() - 1) % 3 + 1];
    return std::string(pattern[0]) + "=" + options + pattern[1];
}

fs::path testImagesDir() {
    const char* e = std::getenv("DRENTIC_TEST_IMAGES");
    const std::string base = e ? e : DRENTIC_TEST_IMAGES_DEFAULT;
    return sampleVariant() == 0 ? base : base + "-variant-" + std::to_string(sampleVariant());
}

fs::path testImage(const std::string& name) {
    fs::path p = testImagesDir() / name;
    return fs::exists(p) ? p : fs::path();
}

fs::path readyImagesDir() {
    return fs::path(DRENTIC_SOURCE_DIR) / "tests" / "data";
}

fs::path makeTempDir(const std::string& tag) {
    std::string tmpl = (fs::temp_directory_path() / ("drentic-" + tag + "-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    fs::path p(buf.data());
    std::lock_guard lock(gMutex);
    gTempDirs.push_back(p);
    return p;
}

fs::path copyOfReadyImage(const std::string& name) {
    fs::path src = readyImagesDir() / name;
    // The ready images are part of the repository: one missing is a broken
    // checkout, never a reason to skip.
    if (!fs::exists(src)) throw std::runtime_error("ready image missing: " + src.string());
    fs::path dst = makeTempDir("fixture") / name;
    fs::copy_file(src, dst);
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    return dst;
}

CommandRun runCommandWithStatus(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        run.out.append(chunk, n);
    const int waited = ::pclose(pipe);
    if (waited != -1 && WIFEXITED(waited)) run.status = WEXITSTATUS(waited);
    return run;
}

std::optional<std::string> runCommand(const std::string& command) {
    CommandRun run = runCommandWithStatus(command);
    if (run.status != 0) return std::nullopt;
    return std::move(run.out);
}

bool haveTool(const std::string& name) {
    return runCommand("command -v " + name + " >/dev/null 2>&1").has_value();
}

std::string toolSample(const std::string& command, const std::string& extension) {
    const fs::path out = makeTempDir("sample") / ("sample." + extension);
    if (!runCommand("OUT=" + shellQuote(out.string()) + "; " + command + " >/dev/null 2>&1") || !fs::exists(out)) {
        ADD_FAILURE() << "could not make the sample: " << command;
        return {};
    }
    const auto bytes = readBytes(out);
    return std::string(bytes.begin(), bytes.end());
}

std::string textDocument(const std::string& extension) {
    const std::string line = "Line $i of a plain report, seed " + sampleSeed(71) + ".";
    if (extension == "pdf") {
        const std::string show = "72 $((780 - i * 18)) moveto (" + line + ") show";
        const std::string page = "{ echo '/Helvetica findfont 12 scalefont setfont'; for i in $(seq 40); do echo \"" +
                                 show + "\"; done; echo showpage; } >\"$OUT.ps\"";
        return toolSample(page + " && gs -q -sDEVICE=pdfwrite -dCompressPages=false -dEmbedAllFonts=false "
                                 "-dSubsetFonts=false -o \"$OUT\" \"$OUT.ps\"",
                          "pdf");
    }
    const std::string text =
        "cd \"$(dirname \"$OUT\")\" && for i in $(seq 60); do echo \"" + line + "\"; done >report.txt";
    return toolSample(text + " && soffice -env:UserInstallation=file://$PWD/lo --headless --convert-to " + extension +
                          " report.txt && mv report." + extension + " \"$OUT\"",
                      extension);
}

fs::path imageWith(const std::string& bytes, std::uint64_t sector, std::uint64_t tailSectors,
                   std::uint32_t bytesPerSector) {
    const fs::path image = makeTempDir("carve") / "disk.img";
    const std::uint64_t sectors = sector + (bytes.size() + bytesPerSector - 1) / bytesPerSector + tailSectors;
    zeroFile(image, sectors * bytesPerSector);
    writeBytesAt(image, sector * bytesPerSector, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    return image;
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

fs::path zeroFile(const fs::path& path, std::uint64_t size) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc).close();
    fs::resize_file(path, size);
    return path;
}

std::vector<std::uint8_t> readBytesAt(const fs::path& path, std::uint64_t offset, std::size_t length) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> out(length);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(length));
    out.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return out;
}

void writeBytesAt(const fs::path& path, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path.string());
}

void putBE(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

void putLE(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool writeFax(const std::filesystem::path& file) {
    const std::string page = "convert -size 1728x1100 xc:white -fill black -compress Group4 -draw ";
    const std::string box = shellQuote(file.string() + ".box.tif"), black = shellQuote(file.string() + ".black.tif");
    return runCommand(page + "'rectangle 100,100 799,399' " + box + " && " + page + "'rectangle 0,0 1727,1099' " +
                      black + " && tiffcp " + box + " " + black + " " + black + " " + shellQuote(file.string()) +
                      " && rm " + box + " " + black)
        .has_value();
}

bool exfatFilledThroughFuse(const fs::path& image, const std::string& size, const fs::path& mount,
                            const std::string& fill) {
    const std::string at = shellQuote(mount.string());
    if (!runCommand("truncate -s " + size + " " + shellQuote(image.string()) + " && mkfs.exfat " +
                    shellQuote(image.string()) + " >/dev/null 2>&1 && mkdir -p " + at))
        return false;
    LoopDevice loop(image);
    if (loop.path().empty() || !runCommand("mount.exfat-fuse " + loop.path() + " " + at + " 2>/dev/null")) return false;
    const bool filled = runCommand("cd " + shellQuote(image.parent_path().string()) + " && bash -ec " +
                                   shellQuote(fill) + " >/dev/null 2>&1")
                            .has_value();
    return runCommand("umount " + at).has_value() && filled;
}

std::filesystem::path bareXorrisoHfsVolume() {
    static const std::filesystem::path made = []() -> std::filesystem::path {
        if (!haveTool("xorriso")) return {};
        const std::filesystem::path dir = makeTempDir("bare-hfs"), tree = dir / "tree";
        for (int i = 0; i < 10; ++i)
            writeText(tree / (i < 5 ? "Photos" : "Notes") / ("file" + std::to_string(i) + ".txt"),
                      std::string(std::size_t(700 + 1300 * i), static_cast<char>('a' + i)));
        const std::filesystem::path iso = dir / "hybrid.iso", volume = dir / "hfs.img";
        if (!runCommand("SOURCE_DATE_EPOCH=1700000000 xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -V "
                        "BARE -o " +
                        shellQuote(iso.string()) + " " + shellQuote(tree.string()) + " 2>/dev/null"))
            return {};
        // The Apple partition map, in 512-byte blocks, names the HFS+ volume
        // (start at byte 8, length at byte 12 of its entry).
        for (std::uint64_t entry = 1; entry <= 8; ++entry) {
            const std::vector<std::uint8_t> e = readBytesAt(iso, entry * 512, 512);
            if (e.size() != 512 || std::string(e.begin() + 48, e.begin() + 57) != "Apple_HFS") continue;
            const auto be32 = [&](std::size_t at) {
                return std::uint64_t(e[at]) << 24 | std::uint64_t(e[at + 1]) << 16 | std::uint64_t(e[at + 2]) << 8 |
                       e[at + 3];
            };
            if (!runCommand("dd if=" + shellQuote(iso.string()) + " of=" + shellQuote(volume.string()) +
                            " bs=512 skip=" + std::to_string(be32(8)) + " count=" + std::to_string(be32(12)) +
                            " status=none"))
                return {};
            return volume;
        }
        return {};
    }();
    return made;
}

} // namespace testsupport
