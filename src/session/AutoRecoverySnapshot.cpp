#include "session/AutoRecoverySnapshot.h"

#include "session/RecoverySessionOpening.h"
#include "session/SessionFileInput.h"
#include "session/SessionFileItems.h"
#include "session/SessionFileOutput.h"
#include "session/TreeRecordReader.h"
#include "session/TreeRecordWriter.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/BTreeTableClassUInt64_NDIR.h"
#include "volume/Volume.h"

#include <sys/stat.h>
#include <unistd.h>

using platform::Value;

namespace {

constexpr std::uint64_t kEmptyKey = UINT64_MAX;
constexpr std::uint32_t kIdentityBytes = 16;
// A medium's sampled sectors: the first five, 32 between and the last, with
// room to spare.
constexpr std::uint32_t kMostIdentitySamples = 64;
constexpr std::uint64_t kIdentitySampleBytes = 8 + 1 + 8;

// Only a regular file is ever removed: whatever else carries a pair's name
// is nothing this program made.
void removeRegularFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
}

bool writeList(SessionFileOutput& out, const DoneSectorList& list, std::string* error) {
    if (list.size() > UINT32_MAX) {
        if (error) *error = "a list of handled sectors is too long for the file";
        return false;
    }
    out.writeBE32(static_cast<std::uint32_t>(list.size()));
    for (std::uint64_t sector : list.inOrder())
        out.writeBE64(sector);
    return out.sync();
}

// A u32 count of u64 sectors; false when the file cannot hold them.
bool readList(SessionFileInput& in, DoneSectorList& list) {
    std::uint32_t count = 0;
    if (!in.readBE32(count) || count > in.left() / 8) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint64_t sector = 0;
        if (!in.readBE64(sector)) return false;
        list.add(sector);
    }
    return true;
}

// The Info file as the snapshot leaves it: no checkpoint yet, what the scan
// lost before (a resumed one), and the medium's identity sector by sector.
void writeInfo(SessionFileOutput& out, const Volume& volume, const std::optional<MediumIdentity>& medium) {
    const Volume::LostBeforeResume lost = volume.lostBeforeResume.value_or(Volume::LostBeforeResume{});
    AutoRecoverySnapshot::writeCheckpoint(out, 0, lost.sector, lost.count, std::nullopt);
    if (!medium || medium->samples.size() > kMostIdentitySamples) return;
    out.writeBE64(medium->bytes);
    out.writeBE32(static_cast<std::uint32_t>(medium->samples.size()));
    for (const MediumIdentity::Sample& sample : medium->samples) {
        const std::uint8_t read = sample.digest ? 1 : 0;
        out.writeBE64(sample.sector);
        out.write(&read, 1);
        out.writeBE64(sample.digest.value_or(0));
    }
}

std::optional<MediumIdentity> readIdentity(SessionFileInput& in) {
    MediumIdentity medium;
    std::uint32_t count = 0;
    if (!in.readBE64(medium.bytes) || !in.readBE32(count) || count > kMostIdentitySamples ||
        in.left() < count * kIdentitySampleBytes)
        return std::nullopt;
    for (std::uint32_t i = 0; i < count; ++i) {
        MediumIdentity::Sample sample;
        std::uint8_t read = 0;
        std::uint64_t digest = 0;
        if (!in.readBE64(sample.sector) || !in.read(&read, 1) || read > 1 || !in.readBE64(digest)) return std::nullopt;
        if (read == 1) sample.digest = digest;
        medium.samples.push_back(sample);
    }
    return medium;
}

// What the Info file holds; each part nothing where the file ends before it
// (a file of an earlier time, or no file: no checkpoint either).
struct InfoRead {
    std::optional<std::uint64_t> checkpoint;
    std::optional<Volume::LostBeforeResume> lost;
    std::optional<std::uint64_t> heldFile;
    std::optional<MediumIdentity> medium;
};

InfoRead readInfo(const std::string& path) {
    InfoRead info;
    std::unique_ptr<SessionFileInput> in = SessionFileInput::open(path, nullptr);
    if (!in) return info;
    std::uint64_t position = 0;
    // A search that had not reached its first checkpoint starts at the start.
    info.checkpoint = in->readBE64(position) ? position : 0;
    Volume::LostBeforeResume lost;
    if (!in->readBE64(lost.sector) || !in->readBE64(lost.count)) return info;
    // There are no more sectors below a place than its number.
    lost.count = std::min(lost.count, lost.sector);
    info.lost = lost;
    // An Info file of an earlier time goes on with the identity.
    const std::uint64_t identityAt = in->position();
    std::uint64_t tag = 0, held = 0;
    if (in->readBE64(tag) && tag == AutoRecoverySnapshot::kHeldFileTag) {
        if (!in->readBE64(held)) return info;
        if (held != AutoRecoverySnapshot::kNoHeldFile) info.heldFile = held;
    } else if (!in->seek(identityAt)) {
        return info;
    }
    info.medium = readIdentity(*in);
    return info;
}

struct FreeNode {
    void operator()(NewDir* n) const { newdir::freeNDir(n); }
};

} // namespace

std::string AutoRecoverySnapshot::dataPath(const std::string& folder) {
    return folder + "/" + kDataFile;
}

std::string AutoRecoverySnapshot::infoPath(const std::string& folder) {
    return folder + "/" + kInfoFile;
}

bool AutoRecoverySnapshot::writeCheckpoint(SessionFileOutput& info, std::uint64_t unit, std::uint64_t sector,
                                           std::uint64_t lostBelow, std::optional<std::uint64_t> heldFile) {
    // A sector no medium has stands for none; no file is held from there.
    const std::uint64_t held = heldFile.value_or(kNoHeldFile);
    return info.writeBE64(unit) && info.writeBE64(sector) && info.writeBE64(lostBelow) &&
           info.writeBE64(kHeldFileTag) && info.writeBE64(held);
}

bool AutoRecoverySnapshot::pairExists(const std::string& folder) {
    if (folder.empty()) return false;
    struct stat st {};
    return ::stat(dataPath(folder).c_str(), &st) == 0 && ::stat(infoPath(folder).c_str(), &st) == 0;
}

void AutoRecoverySnapshot::deletePair(const std::string& folder) {
    if (folder.empty()) return;
    removeRegularFile(dataPath(folder));
    removeRegularFile(infoPath(folder));
}

std::uint64_t AutoRecoverySnapshot::enumerateBTreeUInt32StartNode(const NodeTypeUInt32* node,
                                                                  SessionFileOutput& fileDesc) {
    std::uint64_t written = 0;
    forEachIndexNode(node, [&](const NodeTypeUInt32* n) {
        for (std::int32_t i = 0; i < n->count(); ++i) {
            const std::uint64_t key = n->key(i)->keyField();
            if (key == kEmptyKey) continue;
            fileDesc.writeBE64(key);
            ++written;
        }
    });
    return written;
}

AutoRecoverySnapshot::Saved AutoRecoverySnapshot::saveScanInfoAutoRecovery(const std::string& folder,
                                                                           const AutoRecoveryState& state,
                                                                           const std::vector<std::string>& media,
                                                                           std::string* error) {
    // No state folder (it could not be made): never the file system's root.
    if (folder.empty()) {
        if (error) *error = "there is no folder for the program's state";
        return Saved::CannotCreate;
    }
    const std::string data = dataPath(folder), info = infoPath(folder);
    // Checked before anything is removed: a medium that happens to carry a
    // pair's name is neither emptied nor deleted.
    for (const std::string& path : {data, info})
        if (SessionFileOutput::isMedium(path, media)) {
            if (error) *error = path + " is a medium being recovered or not a regular file";
            return Saved::CannotCreate;
        }
    deletePair(folder);
    auto failed = [&](Saved why, const std::string& reason) {
        deletePair(folder);
        if (error) *error = reason;
        return why;
    };
    const Volume* volume = state.volume.get();
    if (!volume || !volume->dirRoot) return failed(Saved::WriteFailed, "there is no found-file tree to keep");

    std::string why;
    std::unique_ptr<SessionFileOutput> out = SessionFileOutput::create(data, media, &why);
    if (!out) return failed(Saved::CannotCreate, data + " cannot be created: " + why);
    std::unique_ptr<SessionFileOutput> infoFile = SessionFileOutput::create(info, media, &why);
    if (!infoFile) return failed(Saved::CannotCreate, info + " cannot be created: " + why);
    // Sector by sector, those the device would not give marked: a failing
    // disk is still known again, by the sectors it gives.
    const std::optional<MediumIdentity> medium =
        state.medium ? state.medium
                     : SessionMediumCheck::readMediumIdentity(SessionMediumCheck::identityDevice(*volume),
                                                              volume->u32BytesInSector());
    writeInfo(*infoFile, *volume, medium);
    if (!infoFile->sync() || !infoFile->close()) return failed(Saved::WriteFailed, info + ": " + infoFile->reason());

    // Every step stops at the first failure; what failed is out's reason
    // unless a value could not be archived.
    why.clear();
    auto written = [&]() -> bool {
        if (!SessionFileItems::writeArchive(*out, Value(state.volume), &why) ||
            !SessionFileItems::writeArchive(*out, Value(state.mainScanStatus), &why))
            return false;
        for (std::int32_t mode :
             {state.treeScanMode, state.scanMode, state.rawSearchMode, state.isPTListOrPTScanListChosen})
            out->writeBE32(static_cast<std::uint32_t>(mode));
        if (!SessionFileItems::writePartitionLists(*out, state.rawSearchMode, state.isPTListOrPTScanListChosen,
                                                   state.partitionListDictArray, state.partitionScanListDictArray,
                                                   &why) ||
            !out->sync())
            return false;

        if (state.autoRecSigExtArray.size() > UINT32_MAX) {
            why = "too many marked types for the file";
            return false;
        }
        out->writeBE32(static_cast<std::uint32_t>(state.autoRecSigExtArray.size()));
        for (const std::string& extension : state.autoRecSigExtArray)
            if (!SessionFileItems::writeArchive(*out, Value(extension), &why)) return false;
        if (!out->sync()) return false;

        // The count goes in front of the keys, known only once they are out.
        const std::uint64_t countAt = out->position();
        out->writeBE64(0);
        const BTreeTableClassUInt32* index = volume->btreeFirstFileBlock.get();
        if (index && index->numItems() != 0) {
            const std::uint64_t keys = enumerateBTreeUInt32StartNode(index->root(), *out);
            const std::uint64_t end = out->position();
            if (!out->seek(countAt) || !out->writeBE64(keys) || !out->sync() || !out->seek(end)) return false;
        }

        if (!writeList(*out, state.mp3DoneArray, &why) || !writeList(*out, state.mpgDoneArray, &why)) return false;
        // The whole digest too, which is all readers of an earlier time know.
        const bool whole = medium && medium->wholeDigest;
        out->writeBE32(whole ? kIdentityBytes : 0);
        if (whole) {
            out->writeBE64(medium->bytes);
            out->writeBE64(*medium->wholeDigest);
        }
        TreeRecordWriter writer;
        return writer.writeDir(volume->dirRoot, *out, false) && out->sync() && out->close();
    };
    if (!written()) return failed(Saved::WriteFailed, data + ": " + (why.empty() ? out->reason() : why));
    return Saved::Written;
}

std::optional<AutoRecoveryHead> AutoRecoverySnapshot::readHead(const std::string& folder) {
    if (folder.empty()) return std::nullopt;
    std::unique_ptr<SessionFileInput> in = SessionFileInput::open(dataPath(folder), nullptr);
    if (!in) return std::nullopt;
    const std::optional<Value> volume = SessionFileItems::readArchive(*in);
    const std::optional<Value> status = volume ? SessionFileItems::readArchive(*in) : std::nullopt;
    AutoRecoveryHead head{volume ? volume->objectAs<Volume>() : nullptr, {}};
    if (!head.volume || !status || !status->isString()) return std::nullopt;
    head.mainScanStatus = status->stringValue();
    return head;
}

std::optional<AutoRecoveryState> AutoRecoverySnapshot::openScanInfoAutoRecovery(const std::string& folder,
                                                                                std::string* error) {
    const std::string data = dataPath(folder);
    auto failed = [&](const std::string& reason) -> std::optional<AutoRecoveryState> {
        if (error) *error = reason;
        return std::nullopt;
    };
    if (folder.empty()) return failed("there is no folder for the program's state");
    std::string why;
    std::unique_ptr<SessionFileInput> in = SessionFileInput::open(data, &why);
    if (!in) return failed(data + " cannot be read: " + why);
    if (in->size() == 0) return failed(data + " is empty");
    auto damaged = [&] {
        return failed(in->failed() ? data + " cannot be read: " + in->reason() : data + " is damaged");
    };

    AutoRecoveryState state;
    InfoRead info = readInfo(infoPath(folder));
    state.autoRecBeginSize = info.checkpoint;
    const std::optional<Value> volumeRead = SessionFileItems::readArchive(*in);
    const std::shared_ptr<Volume> read = volumeRead ? volumeRead->objectAs<Volume>() : nullptr;
    if (!read) return damaged();
    const std::optional<Value> status = SessionFileItems::readArchive(*in);
    if (!status || !status->isString()) return damaged();
    state.mainScanStatus = status->stringValue();

    std::uint32_t modes[4] = {};
    for (std::uint32_t& m : modes)
        if (!in->readBE32(m)) return damaged();
    state.treeScanMode = SessionFileItems::inRange(modes[0], 0, 1);
    state.scanMode = SessionFileItems::inRange(modes[1], 0, 5);
    state.rawSearchMode = SessionFileItems::inRange(modes[2], 0, 5);
    state.isPTListOrPTScanListChosen = SessionFileItems::inRange(modes[3], 0, 1);
    if (!SessionFileItems::readPartitionLists(*in, state.rawSearchMode, state.isPTListOrPTScanListChosen,
                                              state.partitionListDictArray, state.partitionScanListDictArray))
        return damaged();

    // Every archive takes at least its length's four bytes.
    std::uint32_t types = 0;
    if (!in->readBE32(types) || types > in->left() / 4) return damaged();
    for (std::uint32_t i = 0; i < types; ++i) {
        const std::optional<Value> extension = SessionFileItems::readArchive(*in);
        if (!extension || !extension->isString()) return damaged();
        state.autoRecSigExtArray.push_back(extension->stringValue());
    }

    std::uint64_t keys = 0;
    if (!in->readBE64(keys) || keys > in->left() / 8) return damaged();
    auto firstBlocks = std::make_unique<BTreeTableClassUInt32>();
    for (std::uint64_t i = 0; i < keys; ++i) {
        std::uint64_t key = 0;
        if (!in->readBE64(key)) return damaged();
        firstBlocks->insert(std::make_unique<ItemTypeUInt32>(key));
    }
    if (!readList(*in, state.mp3DoneArray) || !readList(*in, state.mpgDoneArray)) return damaged();
    std::uint32_t identityLength = 0;
    if (!in->readBE32(identityLength) || (identityLength != 0 && identityLength != kIdentityBytes)) return damaged();
    if (identityLength != 0) {
        MediumIdentity medium;
        std::uint64_t digest = 0;
        if (!in->readBE64(medium.bytes) || !in->readBE64(digest)) return damaged();
        medium.wholeDigest = digest;
        state.medium = medium;
    }
    // Sector by sector where the Info file holds them.
    if (info.medium) state.medium = std::move(info.medium);

    // The snapshot's tree, its folders indexed by the identities the
    // appended records name as their parents.
    TreeRecordReader reader;
    std::uint32_t children = 0;
    std::uint64_t identity = 0;
    std::unique_ptr<NewDir, FreeNode> root(reader.readDir(*in, children, &identity));
    if (!root) return damaged();
    BTreeTableClassUInt64_NDIR folders;
    folders.insert(std::make_unique<ItemTypeUInt64_NDIR>(identity, root.get()));
    reader.scanInfoEntryCount = 0;
    if (!reader.readToDir(root.get(), children, *in, &folders)) return damaged();

    // What the search appended until it was cut off. A record the file no
    // longer holds whole ends the part; only records that find their folder
    // are attached and counted.
    std::uint32_t files = 0, foldersAdded = 0, entries = 0;
    std::uint64_t dataSize = 0;
    bool cut = false;
    while (in->left() >= HFSPlusDir::kSize) {
        std::uint64_t parentIdentity = 0;
        bool extentsCut = false;
        NewDir* node = reader.readAppendedDir(*in, identity, parentIdentity, extentsCut);
        if (!node) {
            cut = true;
            break;
        }
        // A carved file is one extent: cut inside it, it has no data to
        // show, and the resumed search finds it again.
        if (extentsCut) {
            newdir::freeNDir(node);
            cut = true;
            break;
        }
        ItemTypeUInt64_NDIR* parent = folders.retrieveKeyField(parentIdentity);
        if (!parent) {
            newdir::freeNDir(node);
            continue;
        }
        node->pndirPointer = parent->dir();
        newdir::appendChild(parent->dir(), node);
        if (node->isFolder()) {
            ++foldersAdded;
            ++entries;
            folders.insert(std::make_unique<ItemTypeUInt64_NDIR>(identity, node));
        } else if (node->fileType == NewDir::File) {
            ++files;
            ++entries;
            dataSize += node->fileSize;
        }
    }

    // Records cut off (the file ends inside one) may have taken files found
    // before the checkpoint with them: the search must go back to where the
    // records that are whole end.
    if (cut || in->left() != 0) state.autoRecBeginSize = AutoRecoveryState::kRecordsCut;

    // A plain volume as a session's, but not marked as opened from one: the
    // resumed search reads its device.
    std::shared_ptr<Volume> volume = read->mutableCopy();
    volume->btreeFirstFileBlock = std::move(firstBlocks);
    volume->fileCount += files;
    volume->folderCount += foldersAdded;
    volume->entryCount += entries;
    volume->dataSize += dataSize;
    volume->lostBeforeResume = info.lost;
    volume->heldFileBeforeResume = info.heldFile;
    RecoverySessionOpening::setSelectedVolumeDirRoot(*volume, root.release(), false);
    state.volume = std::move(volume);
    return state;
}
