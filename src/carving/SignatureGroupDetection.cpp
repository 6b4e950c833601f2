#include "carving/SignatureGroupDetection.h"

#include "carving/PictureSize.h"
#include "platform/CheckedMath.h"
#include "platform/Crc32.h"
#include "signatures/BTreeTableClassSig.h"
#include "signatures/RtfGraphics.h"
#include "signatures/Sig.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <span>

namespace {

// "ID": the start of an ID3 tag.
constexpr std::uint64_t kIDKey = 0x4944;
// A picture further than this after its RTF document is not the document's.
constexpr std::uint64_t kRtfPictureReach = 100'000'000;
// Pictures this large are not read to be measured.
constexpr std::uint64_t kRtfPictureLimit = 20'000'000;

} // namespace

SignatureGroupDetection::SignatureGroupDetection(Volume& volume, SignatureSearchState& search,
                                                 CarvedFileRecorder& recorder, AutoRecoveryAppend& fileDesc)
    : volume_(volume), search_(search), recorder_(recorder), fileDesc_(fileDesc), dispatch_(volume, search) {
    dispatch_.setFileStartProbe(this);
    for (platform::Value& value : search.btreeSigArray) {
        const platform::Dict* record = value.dict();
        std::optional<SignatureGroups::Group> group = record ? SignatureGroups::groupOf(*record) : std::nullopt;
        if (!group) continue;
        ItemTypeSig* idItem =
            group->offset == 0 && group->length == 2 ? group->tree->retrieveKeyField(kIDKey) : nullptr;
        Group g{std::move(*group), idItem, {}};
        forEachIndexNode(g.group.tree->root(), [&](NodeTypeSig* node) {
            for (std::int32_t i = 0; i < node->count(); ++i)
                g.firstBytes[node->key(i)->keyField() >> (8 * (g.group.length - 1)) & 0xFF] = true;
        });
        auto at = std::find_if(firstBytesAt_.begin(), firstBytesAt_.end(),
                               [&](const FirstBytesAt& f) { return f.offset == g.group.offset; });
        if (at == firstBytesAt_.end()) at = firstBytesAt_.insert(at, FirstBytesAt{g.group.offset, {}});
        for (std::size_t b = 0; b < g.firstBytes.size(); ++b)
            at->firstBytes[b] = at->firstBytes[b] || g.firstBytes[b];
        groups_.push_back(std::move(g));
    }
    idGroup_ = static_cast<std::size_t>(
        std::find_if(groups_.begin(), groups_.end(), [](const Group& g) { return g.idItem != nullptr; }) -
        groups_.begin());
}

bool SignatureGroupDetection::confirmed(Sig& sig, std::uint16_t firstTwoBytes, bool& mp3Tried, std::uint64_t sector) {
    // Every sector is offered to the MP3 recogniser, which most refuse by
    // their first two bytes.
    if (RecogniserDispatch::refusesAtOnce(sig, firstTwoBytes)) return false;
    sig.foundSize = 0;
    sig.skipSize = 0;
    sig.skipFileSize = false;
    sig.foundCut = false;
    sig.ownThumbnails.clear();
    std::string listed = sig.extension;
    if (!probing_) {
        search_.foundName.clear();
        search_.foundParentPath.clear();
        const bool accepted = dispatch_.runCheckForSig(sig, firstTwoBytes, mp3Tried, sector);
        if (accepted)
            listedExtension_ = std::move(listed);
        else
            sig.extension = std::move(listed);
        return accepted;
    }
    // The search finds the file again at its own sector, and finds what the
    // search keeps as it was: the streams walked, the pictures an RTF
    // package waits for (which no recogniser's answer depends on) and the
    // names found.
    const std::size_t mp3Walked = search_.mp3DoneArray.size(), mpgWalked = search_.mpgDoneArray.size();
    platform::Array pictures = std::move(search_.rtfdArray);
    const bool lookForPictures = search_.lookForRtfAttachments;
    std::string name = std::move(search_.foundName), path = std::move(search_.foundParentPath);
    search_.rtfdArray.clear();
    search_.foundName.clear();
    search_.foundParentPath.clear();
    const bool accepted = dispatch_.runCheckForSig(sig, firstTwoBytes, mp3Tried, sector);
    search_.mp3DoneArray.keepFirst(mp3Walked);
    search_.mpgDoneArray.keepFirst(mpgWalked);
    search_.rtfdArray = std::move(pictures);
    search_.lookForRtfAttachments = lookForPictures;
    search_.foundName = std::move(name);
    search_.foundParentPath = std::move(path);
    sig.extension = std::move(listed);
    return accepted;
}

bool SignatureGroupDetection::firstByteStands(platform::ByteView bytes) const {
    // Every offset is looked at: on data of no pattern, a branch for each
    // would be mispredicted as often as taken.
    bool stands = false;
    for (const FirstBytesAt& f : firstBytesAt_)
        stands |= f.offset < bytes.size() && f.firstBytes[bytes.data()[f.offset]];
    return stands;
}

Sig* SignatureGroupDetection::recognised(std::uint64_t sector, platform::ByteView bytes, bool anyFirstByte,
                                         bool& primary) {
    std::span<Group> asked(groups_);
    if (!anyFirstByte) asked = idGroup_ < groups_.size() ? asked.subspan(idGroup_, 1) : std::span<Group>();
    bool idProbed = false;
    bool mp3Tried = false;
    const std::uint16_t firstTwoBytes = bytes.be16(0);
    for (Group& g : asked) {
        // A second pass of a group only when the "ID" probe took the first
        // and the MP3 recogniser never ran on the sector's own bytes.
        for (bool again = true; again;) {
            again = false;
            if (volume_.stopTreeThread()) return nullptr;
            // Most sectors begin with none of a group's first bytes: the
            // key is read only for those that do.
            bool probedNow = false;
            if (!(g.idItem && !idProbed) && (!bytes.has(g.group.offset, 1) || !g.firstBytes[bytes.u8(g.group.offset)]))
                break;
            const std::optional<std::uint64_t> key = SignatureGroups::keyAt(bytes, g.group.offset, g.group.length);
            if (!key) break;
            if (g.idItem && !idProbed) idProbed = probedNow = true;
            ItemTypeSig* item = probedNow ? g.idItem : g.group.tree->retrieveKeyField(*key);
            if (!item || !item->sig()) break;
            Sig& sig = *item->sig();
            primary = true;
            if (confirmed(sig, firstTwoBytes, mp3Tried, sector)) {
                confirmedBytes_ = bytes;
                return &sig;
            }
            // The types that share the header come next; when none takes
            // the hit, another header of the sector may still be a file's (a
            // RIFF file's form type is read further on: "WEBP").
            if (!sig.extraExts().empty()) {
                primary = false;
                for (const auto& extra : sig.extraExts())
                    if (extra && confirmed(*extra, firstTwoBytes, mp3Tried, sector)) {
                        confirmedBytes_ = bytes;
                        return extra.get();
                    }
                break;
            }
            again = probedNow && sig.extension == "mp3" && !mp3Tried;
        }
    }
    return nullptr;
}

void SignatureGroupDetection::passOver(std::uint64_t fileSector, const std::vector<std::uint64_t>& parts) {
    if (parts.empty()) return;
    for (const std::uint64_t part : parts)
        passedOver_.push_back(platform::saturatingAdd(fileSector, part));
    std::sort(passedOver_.begin(), passedOver_.end(), std::greater<>());
    nextPassedOver_ = passedOver_.back();
}

bool SignatureGroupDetection::reachedPassedOver(std::uint64_t sector) {
    // The search goes forward: the parts it has passed are dropped.
    while (!passedOver_.empty() && passedOver_.back() < sector)
        passedOver_.pop_back();
    nextPassedOver_ = passedOver_.empty() ? UINT64_MAX : passedOver_.back();
    return nextPassedOver_ == sector;
}

BlockSearchEngine::Skip SignatureGroupDetection::examineSector(std::uint64_t sector, platform::ByteView bytes) {
    recordedAKnownStart_ = false;
    if (passesOver(sector)) return {};
    if (search_.rtfdArray.empty()) search_.lookForRtfAttachments = false;
    const bool anyFirstByte = firstByteStands(bytes);
    if (!anyFirstByte && idGroup_ >= groups_.size()) return {};
    bool primary = false;
    Sig* sig = recognised(sector, bytes, anyFirstByte, primary);
    if (!sig) return {};
    return recordConfirmed(*sig, sector, !primary || skipsAfterPrimaryHits_);
}

BlockSearchEngine::Skip SignatureGroupDetection::recordConfirmed(Sig& sig, std::uint64_t sector, bool skips) {
    const BlockSearchEngine::Skip skip = record(sig, sector, confirmedBytes_, skips);
    sig.extension = std::move(listedExtension_);
    return skip;
}

bool SignatureGroupDetection::startsFile(std::uint64_t sector, platform::ByteView bytes) {
    if (probing_) return false;
    const bool anyFirstByte = firstByteStands(bytes);
    if (!anyFirstByte && idGroup_ >= groups_.size()) return false;
    // The recognisers this lookup runs have none of their own to offer a
    // file's sectors to: what lies past a file they find there is nothing
    // this answer depends on.
    probing_ = true;
    dispatch_.setFileStartProbe(nullptr);
    bool primary = false;
    Sig* sig = recognised(sector, bytes, anyFirstByte, primary);
    dispatch_.setFileStartProbe(lookup_);
    probing_ = false;
    return sig && RecogniserDispatch::vouchesForStart(*sig) && recorder_.fitsRecord(sector, *sig) &&
           !repeatsListedHeader(*sig, sector, bytes);
}

bool SignatureGroupDetection::repeatsListedHeader(const Sig& sig, std::uint64_t sector,
                                                  platform::ByteView bytes) const {
    const auto listed = listedSpans_.find(&sig);
    if (listed == listedSpans_.end() || sector <= listed->second.first || sector >= listed->second.end) return false;
    const std::size_t compared = std::min(bytes.size(), kHeaderCopyBytes);
    return std::equal(bytes.data(), bytes.data() + compared, listed->second.head.data()) &&
           firstSectorCrc(bytes) != listed->second.sectorCrc;
}

std::uint32_t SignatureGroupDetection::firstSectorCrc(platform::ByteView bytes) const {
    return platform::crc32(bytes.sub(0, std::min<std::size_t>(bytes.size(), volume_.u32BytesInSector())));
}

void SignatureGroupDetection::noteListed(const Sig& sig, std::uint64_t sector, platform::ByteView bytes) {
    if (RecogniserDispatch::hasRecogniser(sig.typeOfFile)) return;
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint64_t size = recorder_.carvedSize(sig, sector);
    ListedSpan& span = listedSpans_[&sig];
    span.first = sector;
    span.end = platform::saturatingAdd(sector, bps != 0 ? size / bps + (size % bps != 0) : 0);
    span.head.fill(0);
    bytes.copyTo(0, span.head.data(), std::min(bytes.size(), kHeaderCopyBytes));
    span.sectorCrc = firstSectorCrc(bytes);
}

BlockSearchEngine::Skip SignatureGroupDetection::record(Sig& sig, std::uint64_t sector, platform::ByteView bytes,
                                                        bool skips) {
    if (!recorder_.fitsRecord(sector, sig)) return {};
    const BlockSearchEngine::Skip skip{skips && sig.skipFileSize ? sig.skipSize : 0};
    // Found again by a resumed search: recorded already, jumped alike.
    if (recorder_.recordedBefore(sector)) {
        noteListed(sig, sector, bytes);
        return skip;
    }
    if (!RecogniserDispatch::hasRecogniser(sig.typeOfFile) && repeatsListedHeader(sig, sector, bytes)) return {};
    ++volume_.fileCount;
    ++volume_.entryCount;
    recordedAKnownStart_ = RecogniserDispatch::vouchesForStart(sig);
    const bool picture = search_.lookForRtfAttachments && !search_.rtfdArray.empty() && recordRtfGraphic(sig, sector);
    if (!picture) recorder_.addFileToListAtBlock(sector, sig, fileDesc_);
    noteListed(sig, sector, bytes);
    fileDesc_.recordsWritten();
    passOver(sector, sig.ownThumbnails);
    return skip;
}

bool SignatureGroupDetection::recordRtfGraphic(Sig& sig, std::uint64_t sector) {
    platform::Array& pending = search_.rtfdArray;
    const platform::Dict* wrapper = pending.back().dict();
    std::uint64_t distance = 0;
    if (wrapper && wrapper->contains("RTF Graphics Wrapper Block Number")) {
        const std::uint64_t documentSector = wrapper->get("RTF Graphics Wrapper Block Number").uint64Value();
        distance = sector >= documentSector
                       ? platform::saturatingMul(sector - documentSector, volume_.u32BytesInSector())
                       : std::numeric_limits<std::uint64_t>::max();
    }
    if (distance > kRtfPictureReach) {
        search_.lookForRtfAttachments = false;
        pending.clear();
        return false;
    }
    if (!RtfGraphics::isSupportedRTFGraphic(sig.extension)) return false;
    std::optional<std::optional<PictureSize::Size>> measured;
    for (std::size_t i = 0; i + 1 < pending.size(); ++i) {
        const platform::Dict* entry = pending[i].dict();
        if (!entry) continue;
        const std::string name = entry->get("RTF Graphics Object Filename").stringValue();
        const auto dot = name.rfind('.');
        if (dot == std::string::npos) continue;
        if (RtfGraphics::standardSigExtensionForExtension(std::string_view(name).substr(dot + 1)) != sig.extension)
            continue;
        if (sig.foundSize == 0 || sig.foundSize >= kRtfPictureLimit) continue;
        if (!measured) {
            std::vector<std::uint8_t> data;
            recorder_.fillDataFromBlock(sector, sig.foundSize, data);
            measured = PictureSize::of(data);
        }
        const std::optional<PictureSize::Size>& size = *measured;
        if (!size || std::int64_t(size->width) != entry->get("RTF Graphics Object Width").int64Value() ||
            std::int64_t(size->height) != entry->get("RTF Graphics Object Height").int64Value())
            continue;
        recorder_.addRtfGraphicToListAtBlock(sector, sig, name, fileDesc_);
        pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
        return true;
    }
    return false;
}
