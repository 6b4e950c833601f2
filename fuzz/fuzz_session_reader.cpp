// Opens arbitrary bytes as a recovery-session file, as a file from another
// machine, cut short or damaged, comes to the reader: the head, the settings
// (the volume's archive, the modes, the partition lists, the drive's first
// sectors), the tree and the found files' print, read as the window and
// scan-image read them, and the tree then rebuilt as an opened session's is.
// The first byte chooses what the fuzzer's bytes stand for, so that it does
// not spend its time on the keyed archives before it reaches the records:
//   0  the whole file
//   1  the tree, behind a sound head and sound settings
//   2  everything after a sound head
// Nothing may crash, hang, leak or allocate far past the file's size.

#include "FuzzImage.h"
#include "session/RecoverySessionFile.h"
#include "session/RecoverySessionOpening.h"
#include "volume/Volume.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <vector>

namespace {

struct SoundStart {
    std::vector<std::uint8_t> head;     // a finished head
    std::vector<std::uint8_t> settings; // head and settings, the tree to follow
};

// A small session written the program's way, cut before its tree.
SoundStart soundStart() {
    SoundStart out;
    char path[] = "/tmp/fuzz-session-start-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) std::abort();
    ::close(fd);
    auto volume = std::make_shared<Volume>();
    volume->setPath("/dev/fuzz");
    volume->setU32BytesInSector(512);
    volume->volumeName = "fuzz";
    RecoverySession session;
    session.volume = volume;
    session.scanMode = 4;
    session.rawSearchMode = 4;
    session.isPTListOrPTScanListChosen = 1;
    session.partitionListDictArray = {platform::Dict{{"Path", "/dev/fuzz"}}};
    std::string error;
    auto file = SessionFileOutput::create(path, {}, &error);
    if (!file || !RecoverySessionFile::writeHead(*file, &error) ||
        !RecoverySessionFile::writeSettings(*file, session, &error) ||
        !RecoverySessionFile::writeCompleteHead(*file, &error) || !file->close())
        std::abort();
    std::ifstream in(path, std::ios::binary);
    out.settings.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ::unlink(path);
    out.head.assign(out.settings.begin(), out.settings.begin() + RecoverySessionFile::kHeadBytes);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzImage image("fuzz-session-reader", FuzzImage::Controller::None, FuzzImage::Storage::Memory);
    static const SoundStart start = soundStart();
    if (size == 0) return 0;
    std::vector<std::uint8_t> bytes;
    switch (data[0] % 3) {
    case 1:
        bytes = start.settings;
        break;
    case 2:
        bytes = start.head;
        break;
    default:
        break;
    }
    bytes.insert(bytes.end(), data + 1, data + size);
    if (!image.writeWhole(bytes.data(), bytes.size())) return 0;

    std::string error;
    auto in = SessionFileInput::open(image.path(), &error);
    if (!in) return 0;
    std::string version;
    (void)RecoverySessionFile::readHead(*in, &version);
    RecoverySession session;
    NewDir* root = RecoverySessionFile::readBody(*in, session);
    if (session.first5Sectors.size() > bytes.size()) std::abort();
    if (!root) return 0;
    if (session.print.samples.size() > 64) std::abort();
    auto volume = session.volume->mutableCopy();
    RecoverySessionOpening::setSelectedVolumeDirRoot(*volume, root);
    volume->freeTree();
    return 0;
}
