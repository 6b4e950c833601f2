#include "support/TestSupport.h"

#include <cstdlib>
#include <mutex>
#include <stdexcept>
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
} // namespace

fs::path testImagesDir() {
    if (const char* e = std::getenv("DRENTIC_TEST_IMAGES")) return e;
    return DRENTIC_TEST_IMAGES_DEFAULT;
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

} // namespace testsupport
