#include "media/MountTable.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A mount table of a few thousand entries is a few hundred kilobytes; the
// bound only keeps a runaway file from taking all memory.
constexpr std::size_t kMaxMountInfo = 64u << 20;

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        if (i >= line.size()) break;
        std::size_t e = line.find(' ', i);
        if (e == std::string_view::npos) e = line.size();
        fields.push_back(line.substr(i, e - i));
        i = e;
    }
    return fields;
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

} // namespace

unsigned MountTable::Entry::major() const {
    unsigned v = 0;
    auto colon = majorMinor.find(':');
    if (colon == std::string::npos) return 0;
    std::from_chars(majorMinor.data(), majorMinor.data() + colon, v);
    return v;
}

std::string MountTable::unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out.push_back(static_cast<char>(v & 0xff));
            i += 3;
        } else {
            out.push_back(field[i]);
        }
    }
    return out;
}

bool MountTable::parseLine(std::string_view line, Entry& out) {
    // id parent major:minor root mount-point options [optional fields...] -
    // fs-type source super-options
    std::vector<std::string_view> f = splitFields(line);
    if (f.size() < 10) return false;
    std::size_t dash = 6;
    while (dash < f.size() && f[dash] != "-")
        ++dash;
    if (dash + 2 >= f.size()) return false;
    out.majorMinor = std::string(f[2]);
    out.root = unescape(f[3]);
    out.mountPoint = unescape(f[4]);
    out.fsType = unescape(f[dash + 1]);
    out.source = unescape(f[dash + 2]);
    return !out.mountPoint.empty();
}

std::vector<MountTable::Entry> MountTable::parse(std::string_view text) {
    std::vector<Entry> entries;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t e = text.find('\n', i);
        if (e == std::string_view::npos) e = text.size();
        Entry entry;
        if (parseLine(text.substr(i, e - i), entry)) entries.push_back(std::move(entry));
        i = e + 1;
    }
    return entries;
}

std::vector<MountTable::Entry> MountTable::read(const std::string& mountInfoPath) {
    int fd = ::open(mountInfoPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (text.size() + static_cast<std::size_t>(n) > kMaxMountInfo) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return parse(text);
}
