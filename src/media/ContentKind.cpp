#include "media/ContentKind.h"

#include <iterator>

namespace {

struct Name {
    ContentKind kind;
    const char* content;
};

constexpr Name kNames[] = {
    {ContentKind::HFSPlus, "Apple_HFS"}, {ContentKind::HFSX, "Apple_HFSX"},
    {ContentKind::FAT12, "FAT12"},       {ContentKind::FAT16, "FAT16"},
    {ContentKind::FAT32, "FAT32"},       {ContentKind::ExFAT, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"},
    {ContentKind::APFS, "APFS"},         {ContentKind::APFSContainer, "41504653-0000-11AA-AA11-00306543ECAC"},
};

} // namespace

ContentKind contentKindOf(std::string_view content) {
    for (const Name& n : kNames)
        if (content == n.content) return n.kind;
    return ContentKind::None;
}

const char* contentString(ContentKind kind) {
    for (const Name& n : kNames)
        if (kind == n.kind) return n.content;
    return "-";
}
