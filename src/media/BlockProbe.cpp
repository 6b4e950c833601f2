#include "media/BlockProbe.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#ifdef DRENTIC_HAVE_BLKID
#include <blkid/blkid.h>
#endif

namespace {

// Labels and type names come from the medium: keep them short and printable.
constexpr std::size_t kMaxText = 256;

std::string boundedText(const char* s) {
    if (!s) return {};
    std::string t(s, strnlen(s, kMaxText));
    for (char& c : t)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    return t;
}

} // namespace

#ifdef DRENTIC_HAVE_BLKID

bool BlockProbe::available() {
    return true;
}

BlockProbe::PartitionTable BlockProbe::partitionTable(const std::string& deviceNode) {
    PartitionTable table;
    blkid_probe pr = blkid_new_probe_from_filename(deviceNode.c_str());
    if (!pr) return table;
    blkid_probe_enable_superblocks(pr, 0);
    blkid_probe_enable_partitions(pr, 1);
    blkid_probe_set_partitions_flags(pr, BLKID_PARTS_ENTRY_DETAILS);
    // No list and no error: no table.
    errno = 0;
    blkid_partlist list = blkid_probe_get_partitions(pr);
    table.failed = !list && errno != 0;
    if (list) {
        if (blkid_parttable root = blkid_partlist_get_table(list))
            table.scheme = boundedText(blkid_parttable_get_type(root));
        int n = blkid_partlist_numof_partitions(list);
        // A table cannot hold more entries than this in any scheme we read;
        // the bound guards against a probe that answers nonsense.
        n = std::clamp(n, 0, 4096);
        for (int i = 0; i < n; ++i) {
            blkid_partition par = blkid_partlist_get_partition(list, i);
            if (!par) continue;
            PartitionEntry e;
            int number = blkid_partition_get_partno(par);
            if (number <= 0) continue;
            e.number = static_cast<std::uint32_t>(number);
            e.typeString = boundedText(blkid_partition_get_type_string(par));
            blkid_parttable t = blkid_partition_get_table(par);
            std::string scheme = t ? boundedText(blkid_parttable_get_type(t)) : std::string();
            if (scheme == "dos") e.typeByte = blkid_partition_get_type(par) & 0xff;
            if (scheme == "gpt")
                std::transform(e.typeString.begin(), e.typeString.end(), e.typeString.begin(),
                               [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            table.partitions.push_back(std::move(e));
        }
    }
    blkid_free_probe(pr);
    return table;
}

BlockProbe::FileSystem BlockProbe::fileSystem(const std::string& deviceNode) {
    FileSystem result;
    blkid_probe pr = blkid_new_probe_from_filename(deviceNode.c_str());
    if (!pr) return result;
    blkid_probe_enable_partitions(pr, 0);
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
    const int found = blkid_do_safeprobe(pr);
    // -2 is a device that holds more than one; other negative answers are
    // errors.
    result.failed = found < 0 && found != -2;
    if (found == 0) {
        const char* value = nullptr;
        if (blkid_probe_lookup_value(pr, "TYPE", &value, nullptr) == 0) result.type = boundedText(value);
        if (blkid_probe_lookup_value(pr, "LABEL", &value, nullptr) == 0) result.label = boundedText(value);
    }
    blkid_free_probe(pr);
    return result;
}

#else

bool BlockProbe::available() {
    return false;
}
BlockProbe::PartitionTable BlockProbe::partitionTable(const std::string&) {
    return {};
}
BlockProbe::FileSystem BlockProbe::fileSystem(const std::string&) {
    return {};
}

#endif
