// Reads arbitrary bytes as the auto-recovery pair of an interrupted scan,
// as a program cut off in the middle of a write, or a damaged disk, leaves
// it: the snapshot (the volume's archive, the modes, the lists, the tree and
// the records a search appended) and the Info file (the checkpoint, the
// sectors lost below it, the file the carving held open across it and the
// medium's sampled sectors).
//   byte 0  mod 3: 0 the rest is the whole snapshot; 1 a sound snapshot's
//           first n bytes come before the rest, n from bytes 2-3 (big-endian,
//           modulo the snapshot's size + 1), so the fuzzer reaches the tree
//           and the appended records without rebuilding keyed archives
//   byte 1  255: no Info file; else three times as many bytes of the Info
//           file taken from the input's end (enough for a whole identity)
// Nothing may crash, hang, leak or allocate far past the files' size.

#include "platform/SystemLog.h"
#include "session/AutoRecoverySnapshot.h"
#include "session/TreeRecordWriter.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/Volume.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The pair's folder for the whole run, removed with what is in it at exit.
struct PairFolder {
    std::string path;
    PairFolder() {
        char name[] = "/tmp/fuzz-snapshot-XXXXXX";
        if (!::mkdtemp(name)) std::abort();
        path = name;
        platform::setLogSink([](const std::string&) {});
    }
    ~PairFolder() {
        AutoRecoverySnapshot::deletePair(path);
        ::rmdir(path.c_str());
    }
};

NewDir* addNode(NewDir* parent, const char16_t* name, std::uint16_t kind, std::uint64_t size) {
    NewDir* n = newdir::allocate();
    n->fileType = kind, n->fileSize = size, n->pndirPointer = parent, n->sectorsPerBlock = 1;
    newdir::setFileName(n, name);
    if (kind == NewDir::Folder) newdir::setPathBelow(n, parent);
    if (size) newdir::appendDataExtent(n, 7, 2);
    newdir::appendChild(parent, n);
    return n;
}

// A small snapshot written the program's way, with two appended records.
std::vector<std::uint8_t> soundSnapshot(const std::string& folder) {
    auto volume = std::make_shared<Volume>();
    volume->setPath("/dev/fuzz");
    volume->setU32BytesInSector(512);
    NewDir* root = volume->createRoot();
    addNode(addNode(root, u"Docs", NewDir::Folder, 0), u"a.txt", NewDir::File, 700);
    volume->btreeFirstFileBlock = std::make_unique<BTreeTableClassUInt32>();
    for (std::uint64_t key = 1; key <= 9; ++key)
        volume->btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(key));
    AutoRecoveryState state{volume, "fuzz",  0,  2,  4,  1, {platform::Dict{{"Path", "/dev/fuzz"}}},
                            {},     {"jpg"}, {}, {}, {}, {}};
    state.mp3DoneArray.add(5);
    state.mpgDoneArray.add(6);
    std::string error;
    if (AutoRecoverySnapshot::saveScanInfoAutoRecovery(folder, state, {}, &error) !=
        AutoRecoverySnapshot::Saved::Written)
        std::abort();
    {
        auto out = SessionFileOutput::openForAppend(AutoRecoverySnapshot::dataPath(folder), {}, &error);
        NewDir* found = addNode(root, u"JPG Files", NewDir::Folder, 0);
        if (!out || !TreeRecordWriter::writeDir(found, *out) ||
            !TreeRecordWriter::writeDir(addNode(found, u"File1.jpg", NewDir::File, 900), *out) || !out->close())
            std::abort();
    }
    volume->freeTree();
    std::ifstream in(AutoRecoverySnapshot::dataPath(folder), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeWhole(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const PairFolder pair;
    const std::string& folder = pair.path;
    static const std::vector<std::uint8_t> sound = soundSnapshot(folder);
    if (size < 4) return 0;
    std::vector<std::uint8_t> bytes;
    if (data[0] % 3 == 1) {
        const std::size_t keep = ((std::size_t{data[2]} << 8) | data[3]) % (sound.size() + 1);
        bytes.assign(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(keep));
    }
    const bool noInfo = data[1] == 255;
    const std::size_t infoBytes = std::size_t{data[1]} * 3;
    std::size_t end = size;
    const std::string info = AutoRecoverySnapshot::infoPath(folder);
    if (noInfo) {
        ::unlink(info.c_str());
    } else {
        const std::size_t n = std::min(infoBytes, size - 4);
        end -= n;
        writeWhole(info, data + end, n);
    }
    bytes.insert(bytes.end(), data + 4, data + end);
    writeWhole(AutoRecoverySnapshot::dataPath(folder), bytes.data(), bytes.size());

    std::string error;
    std::optional<AutoRecoveryState> state = AutoRecoverySnapshot::openScanInfoAutoRecovery(folder, &error);
    if (!state) return 0;
    if (!state->volume || !state->volume->dirRoot) std::abort();
    if (state->autoRecSigExtArray.size() > bytes.size() / 4) std::abort();
    // Without an Info file the only checkpoint is the one a cut record sends
    // the search back with.
    if (noInfo && state->autoRecBeginSize && *state->autoRecBeginSize != AutoRecoveryState::kRecordsCut) std::abort();
    if (state->medium && state->medium->samples.size() > 64) std::abort();
    if (const auto& lost = state->volume->lostBeforeResume; lost && lost->count > lost->sector) std::abort();
    state->volume->freeTree();
    return 0;
}
