#include "signatures/SigLists.h"

#include "platform/Format.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "platform/Paths.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kListType = ".dat";
// The largest value the maximum-size field takes, in MB.
constexpr std::uint64_t kMaxFileSizeMB = 50000;
constexpr std::uint64_t kMaxOffset = 1024;
constexpr std::size_t kMaxHeaderDigits = 16;
// A list of a few hundred types is tens of kilobytes; anything far larger is
// not a list and is not read into memory.
constexpr std::size_t kMaxListBytes = 16u << 20;
// Beside the archive's root: the version of the built-in lists a list was made from.
constexpr const char* kVersionKey = "listVersion";
// Before it, every type of the built-in lists came marked.
constexpr std::uint32_t kFirstVersionWithDefaultMarks = 2;

std::string errorText(int error) {
    return std::strerror(error);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errorText(errno);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxListBytes) {
        *error = "not a list file of a plausible size";
        ::close(fd);
        return std::nullopt;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errorText(errno) : std::string("the file became shorter while it was read");
            ::close(fd);
            return std::nullopt;
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return bytes;
}

bool writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside the old one, made durable, then renamed over it: a crash
// or a full disk leaves the old list in place rather than half a new one.
bool writeFileSafely(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* error) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = errorText(errno);
        return false;
    }
    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        *error = errorText(savedErrno);
        return false;
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Some file systems cannot sync a folder (EINVAL); the rename stands.
    if (dirFd < 0 || (::fsync(dirFd) != 0 && errno != EINVAL)) {
        *error = "the folder could not be synced: " + errorText(errno);
        if (dirFd >= 0) ::close(dirFd);
        return false;
    }
    ::close(dirFd);
    return true;
}

std::optional<SigRootArray> readList(const std::string& path, std::string* error, std::uint32_t* version = nullptr) {
    if (path.empty()) {
        *error = "the data folder could not be made";
        return std::nullopt;
    }
    auto bytes = readWholeFile(path, error);
    if (!bytes) return std::nullopt;
    return SigLists::decodeList(*bytes, error, version);
}

// The version of the program's list of that name; 0 when it cannot be read.
std::uint32_t builtInVersion(const std::string& name) {
    std::string error;
    std::uint32_t version = 0;
    return readList(SigLists::builtInListPath(name), &error, &version) ? version : 0;
}

bool writeListFile(const SigRootArray& sigRootArray, std::uint32_t version, const std::string& path,
                   std::string* error) {
    const auto bytes = SigLists::encodeList(sigRootArray, version, error);
    return bytes && writeFileSafely(path, *bytes, error);
}

// A user's copy made from older built-in lists is brought up to date with
// the program's list of the same name. A copy that cannot be read is left
// to the loader, which falls back to the twin or the program's list.
void bringUpToDate(const std::string& name, const std::string& user) {
    std::string error;
    std::uint32_t newVersion = 0, copyVersion = 0;
    const auto builtIn = readList(SigLists::builtInListPath(name), &error, &newVersion);
    if (!builtIn) return;
    const auto copy = readList(user, &error, &copyVersion);
    if (!copy || copyVersion >= newVersion) return;
    if (!writeListFile(SigLists::bringUpToDate(*copy, copyVersion, *builtIn), newVersion, user, &error)) {
        platform::logFormat("Could not bring the file-type list %@ up to date: %@", user, error);
        return;
    }
    platform::logFormat("The file-type list %@ was brought up to date with the program's (version %@ to %@)", user,
                        std::to_string(copyVersion), std::to_string(newVersion));
}

// The user's copies start as the built-in ones. Each file is copied only
// while the user has none, so a twin that holds added types is kept; a copy
// that there is follows the program's newer lists.
void seedUserLists(const std::string& listName) {
    for (const std::string& name : {listName, SigLists::backupName(listName)}) {
        const std::string user = SigLists::userListPath(name);
        if (user.empty()) continue;
        if (fileExists(user)) {
            bringUpToDate(name, user);
            continue;
        }
        const std::string builtIn = SigLists::builtInListPath(name);
        if (!fileExists(builtIn)) continue;
        std::string error;
        auto bytes = readWholeFile(builtIn, &error);
        if (!bytes || !writeFileSafely(user, *bytes, &error))
            platform::logFormat("Could not copy the file-type list %@ to %@: %@", builtIn, user, error);
    }
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

// The value of decimal text, held at limit + 1 once it passes the limit, so
// that a long run of digits cannot wrap round to a small number.
std::uint64_t decimalValue(std::string_view digits, std::uint64_t limit) {
    std::uint64_t v = 0;
    for (char c : digits) {
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > limit) return limit + 1;
    }
    return v;
}

std::string withoutSpaces(std::string_view text) {
    std::string out;
    for (char c : text)
        if (c != ' ') out += c;
    return out;
}

} // namespace

std::string SigLists::listNameForScanMode(platform::ScanMode scanMode) {
    if (platform::isFileScan(scanMode)) return "Sig_FR";
    if (platform::isPhotoScan(scanMode)) return "Sig_PR";
    if (platform::isPartitionScan(scanMode)) return "Sig_AL";
    return {};
}

std::string SigLists::backupName(const std::string& listName) {
    return listName + "_backup";
}

std::string SigLists::userListPath(const std::string& name) {
    const std::string dir = platform::dataDir();
    return dir.empty() ? std::string() : dir + "/" + name + kListType;
}

std::string SigLists::builtInListPath(const std::string& name) {
    return platform::resourcePath(name + kListType);
}

std::optional<SigRootArray> SigLists::decodeList(const std::vector<std::uint8_t>& bytes, std::string* error,
                                                 std::uint32_t* version) {
    std::string ignored;
    if (!error) error = &ignored;
    SigNode::registerArchiveClass();
    platform::KeyedUnarchiver::TopIntegers top;
    const auto root = platform::KeyedUnarchiver::unarchiveObjectWithData(bytes, error, {}, &top);
    if (!root) return std::nullopt;
    if (!root->isArray()) {
        *error = "the archive's root is not an array";
        return std::nullopt;
    }
    if (version) {
        const auto it = top.find(kVersionKey);
        *version = it == top.end() ? 0 : static_cast<std::uint32_t>(std::min<std::int64_t>(it->second, UINT32_MAX));
    }
    // Everything that reads the list relies on two levels: category nodes,
    // and below them file-type nodes that each hold a record.
    SigRootArray list;
    for (const platform::Value& v : root->arrayValue()) {
        auto category = v.isObject() ? std::dynamic_pointer_cast<SigNode>(v.object()) : nullptr;
        if (!category || category->fileTypeSigNode != SigNode::Category) {
            *error = "an entry of the root is not a category node";
            return std::nullopt;
        }
        for (const auto& child : category->children()) {
            if (!child || child->fileTypeSigNode != SigNode::FileType || !child->sig() || !child->children().empty()) {
                *error = "a child of category \"" + category->category + "\" is not a file-type node with a record";
                return std::nullopt;
            }
        }
        list.push_back(std::move(category));
    }
    return list;
}

std::optional<std::vector<std::uint8_t>> SigLists::encodeList(const SigRootArray& sigRootArray, std::uint32_t version,
                                                              std::string* error) {
    platform::Array root(sigRootArray.begin(), sigRootArray.end());
    return platform::KeyedArchiver::archivedDataWithRootObject(root, error, {{kVersionKey, version}});
}

SigRootArray SigLists::bringUpToDate(const SigRootArray& copy, std::uint32_t copyVersion, const SigRootArray& builtIn) {
    // A program's type is known in the copy by its name and extension.
    const auto key = [](const SigNode& node) { return std::pair(node.sig()->software, node.sig()->extension); };
    std::map<std::pair<std::string, std::string>, const SigNode*> copied;
    for (const auto& category : copy)
        for (const auto& node : category->children())
            if (node->sig()->preInstalled) copied.emplace(key(*node), node.get());

    SigRootArray updated;
    const auto categoryNamed = [&](const std::string& name) {
        for (const auto& category : updated)
            if (category->category == name) return category;
        auto category = std::make_shared<SigNode>();
        category->fileTypeSigNode = SigNode::Category;
        category->category = name;
        updated.push_back(category);
        return category;
    };
    for (const auto& programCategory : builtIn) {
        const auto category = categoryNamed(programCategory->category);
        for (const auto& type : programCategory->children()) {
            const auto sig = type->sig()->mutableCopy();
            std::uint8_t mark = type->selected;
            if (const auto it = copied.find(key(*type)); it != copied.end()) {
                const SigNode& old = *it->second;
                sig->userSize = old.sig()->userSize;
                const bool markedThen = copyVersion < kFirstVersionWithDefaultMarks || old.markedByDefault;
                if ((old.selected == 1) != markedThen) mark = old.selected;
            }
            SigNode::addFileType(category, *sig, mark)->markedByDefault = type->markedByDefault;
        }
    }
    for (const auto& userCategory : copy) {
        const auto& nodes = userCategory->children();
        const bool own = std::any_of(nodes.begin(), nodes.end(), [](const auto& n) { return !n->sig()->preInstalled; });
        // Only the user makes an empty category: the program's hold its types.
        if (!own && !nodes.empty()) continue;
        const auto category = categoryNamed(userCategory->category);
        for (const auto& node : nodes)
            if (!node->sig()->preInstalled)
                SigNode::addFileType(category, *node->sig(), node->selected)->markedByDefault = node->markedByDefault;
    }
    for (const auto& category : updated)
        category->selected = category->childrenSelected() != 0 ? 1 : 0;
    linkTree(updated);
    return updated;
}

void SigLists::linkTree(const SigRootArray& sigRootArray) {
    for (const auto& category : sigRootArray) {
        bool preInstalled = false;
        for (const auto& child : category->children()) {
            child->setParent(category);
            if (child->sig() && child->sig()->preInstalled) preInstalled = true;
        }
        category->containsPreInstalledChildren = preInstalled;
    }
}

std::optional<SigRootArray> SigLists::loadSigData(platform::ScanMode scanMode, int sigDataLoadCount) {
    const std::string listName = listNameForScanMode(scanMode);
    if (listName.empty()) return std::nullopt;
    seedUserLists(listName);

    const std::string chosen = sigDataLoadCount >= 2 ? backupName(listName) : listName;
    std::vector<std::string> paths{userListPath(chosen)};
    if (chosen == listName) paths.push_back(userListPath(backupName(listName)));
    paths.push_back(builtInListPath(listName));

    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string error;
        auto list = readList(paths[i], &error);
        if (list) {
            linkTree(*list);
            return list;
        }
        const std::string shown = paths[i].empty() ? chosen : paths[i];
        if (i + 1 < paths.size())
            platform::logFormat("The file-type list %@ could not be read (%@); reading %@ instead", shown, error,
                                paths[i + 1].empty() ? std::string("the user's copy") : paths[i + 1]);
        else
            platform::logFormat("The file-type list %@ could not be read (%@); no file types are shown", shown, error);
    }
    return std::nullopt;
}

bool SigLists::writeList(const SigRootArray& sigRootArray, const std::string& name) {
    const std::string path = userListPath(name);
    if (path.empty()) {
        platform::logFormat("Could not write the file-type list %@: the data folder could not be made", name);
        return false;
    }
    std::string error;
    if (!writeListFile(sigRootArray, builtInVersion(name), path, &error)) {
        platform::logFormat("Could not write the file-type list %@: %@", path, error);
        return false;
    }
    return true;
}

bool SigLists::saveSigData(const SigRootArray& sigRootArray, platform::ScanMode scanMode) {
    const std::string listName = listNameForScanMode(scanMode);
    return !listName.empty() && writeList(sigRootArray, listName);
}

std::uint64_t SigLists::getHeaderFromString(std::string_view text) {
    std::uint64_t header = 0;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        header = (header << 8) | (hexValue(text[i]) << 4) | hexValue(text[i + 1]);
    return header;
}

bool SigLists::stringIsHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isHexDigit);
}

bool SigLists::stringIsNumeric(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string SigLists::checkNewFileType(const NewFileTypeTexts& texts, const SigRootArray& sigRootArray) {
    const std::string signature = withoutSpaces(texts.signature);
    if (texts.category.empty()) return "Category cannot be nil";
    if (texts.software.empty()) return "File Type Name cannot be nil";
    if (texts.extension.empty()) return "Extension cannot be nil";
    // A signature of spaces alone would become a type with no header bytes.
    if (signature.empty()) return "Signature cannot be nil";
    if (texts.offset.empty()) return "Offset cannot be nil";
    if (texts.maxFileSize.empty() || !stringIsNumeric(texts.maxFileSize) ||
        decimalValue(texts.maxFileSize, kMaxFileSizeMB) > kMaxFileSizeMB)
        return "Maximum File Size to recover has to be in range of 1 to 50000.";
    if (decimalValue(texts.maxFileSize, kMaxFileSizeMB) == 0) return "Maximum File Size to recover cannot be nil";
    if (texts.extension.front() == '.') return "Please remove dot \".\" from the beginning of the extension";
    if (!stringIsHex(signature)) return "Please enter correct signature: A-F, a-f, 0-9";
    if (signature.size() % 2 != 0) return "Incorrect signature: enter even number of characters";
    if (signature.size() > kMaxHeaderDigits) return "Incorrect signature: enter only a maximum of 8 bytes";
    if (!stringIsNumeric(texts.offset)) return "Please enter numeric value in offset";
    const std::uint64_t offset = decimalValue(texts.offset, kMaxOffset);
    if (offset > kMaxOffset) return "Offset cannot be more then 1024";

    for (const auto& category : sigRootArray) {
        if (category->category != texts.category) continue;
        for (const auto& child : category->children())
            if (child->sig() && child->sig()->software == texts.software)
                return platform::format(
                    "File Type \"%@\" under category \"%@\" already exists. Please enter different names",
                    texts.software, texts.category);
    }
    // Packed values alone are compared, so 00 FF D8 is taken by FF D8.
    const std::uint64_t header = getHeaderFromString(signature);
    for (const auto& category : sigRootArray)
        for (const auto& child : category->children())
            if (child->sig() && child->sig()->header == header && child->sig()->offset == offset)
                return platform::format("This signature/offset pair already exists in file type \"%@\" under "
                                        "category \"%@\".",
                                        child->sig()->software, child->category);
    return {};
}

SigLists::AddOutcome SigLists::addFileType(const NewFileTypeTexts& texts, SigRootArray& sigRootArray,
                                           platform::ScanMode scanMode) {
    AddOutcome outcome;
    outcome.message = checkNewFileType(texts, sigRootArray);
    if (!outcome.message.empty()) return outcome;

    const std::string signature = withoutSpaces(texts.signature);
    Sig sig;
    sig.category = texts.category;
    sig.extension = texts.extension;
    sig.header = getHeaderFromString(signature);
    sig.headerLength = static_cast<std::uint8_t>(signature.size() / 2);
    sig.offset = static_cast<std::uint16_t>(decimalValue(texts.offset, kMaxOffset));
    sig.preInstalled = false;
    sig.software = texts.software;
    sig.typeOfFile = 0;
    sig.userSize = decimalValue(texts.maxFileSize, kMaxFileSizeMB);

    auto newFileType = [&](const std::shared_ptr<SigNode>& category) { SigNode::addFileType(category, sig, 0); };
    bool matched = false;
    for (const auto& category : sigRootArray) {
        if (category->category != texts.category) continue;
        newFileType(category);
        matched = true;
    }
    if (!matched) {
        auto category = std::make_shared<SigNode>();
        category->fileTypeSigNode = SigNode::Category;
        category->category = texts.category;
        newFileType(category);
        sigRootArray.push_back(category);
    }

    const std::string listName = listNameForScanMode(scanMode);
    outcome.listSaved = !listName.empty() && writeList(sigRootArray, listName);
    outcome.backupSaved = !listName.empty() && writeList(sigRootArray, backupName(listName));
    return outcome;
}

SigLists::RemoveOutcome SigLists::removeFileType(SigRootArray* sigRootArray, const SigNode& node,
                                                 platform::ScanMode scanMode) {
    if (!sigRootArray) return RemoveOutcome::Unchanged;
    bool removed = false;
    // Categories go by name; a file type by its very record.
    for (std::size_t i = 0; i < sigRootArray->size(); ++i) {
        const auto category = (*sigRootArray)[i];
        if (category->category != node.category) continue;
        if (node.sig()) {
            auto& children = category->children();
            const auto it = std::find_if(children.begin(), children.end(),
                                         [&](const auto& child) { return child->sig() == node.sig(); });
            if (it != children.end()) {
                children.erase(it);
                removed = true;
            }
        } else {
            sigRootArray->erase(sigRootArray->begin() + static_cast<std::ptrdiff_t>(i));
            removed = true;
        }
    }
    if (!removed) return RemoveOutcome::Unchanged;
    return saveSigData(*sigRootArray, scanMode) ? RemoveOutcome::Saved : RemoveOutcome::SaveFailed;
}
