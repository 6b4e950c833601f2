#include "RecogniserFixture.h"

#include "signatures/FileStartProbe.h"
#include "signatures/RecogniserDispatch.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <vector>

namespace {
// Finds a file at the sectors it was told of, counted from the candidate's.
class PlantedStarts final : public FileStartProbe {
public:
    PlantedStarts(std::uint64_t candidate, const std::set<std::uint64_t>& sectors)
        : candidate_(candidate), sectors_(sectors) {}
    bool startsFile(std::uint64_t sector, platform::ByteView) override {
        return sector >= candidate_ && sectors_.contains(sector - candidate_);
    }

private:
    std::uint64_t candidate_;
    const std::set<std::uint64_t>& sectors_;
};
} // namespace

std::ostream& operator<<(std::ostream& out, const Verdict& v) {
    return out << "{accepted " << v.accepted << ", foundSize " << v.foundSize << ", skipSize " << v.skipSize
               << ", skipFileSize " << v.skipFileSize << ", extension \"" << v.extension << "\", foundCut "
               << v.foundCut << "}";
}

Sig RecogniserFixture::sigOf(std::uint32_t typeOfFile, const std::string& extension, std::uint32_t defaultSizeMB) {
    Sig sig;
    sig.typeOfFile = typeOfFile;
    sig.extension = extension;
    sig.defaultSize = defaultSizeMB;
    return sig;
}

Volume& RecogniserFixture::volumeOver(const std::filesystem::path& image, std::uint32_t bytesPerSector) {
    auto v = keep(testsupport::volumeOver(image, 0, 0, bytesPerSector, ""));
    v->setBlockSize(1);
    v->setTotalBlocks(std::filesystem::file_size(image) / bytesPerSector);
    return *v;
}

Verdict RecogniserFixture::recognise(Volume& volume, Sig& sig, std::uint64_t sector) {
    sig.foundSize = 0, sig.skipSize = 0, sig.skipFileSize = false, sig.foundCut = false;
    SignatureSearchState& search = searchOf(volume);
    search.foundName.clear(), search.foundParentPath.clear();
    std::vector<std::uint8_t> first(volume.u32BytesInSector());
    volume.readSector(volume.HPlusVolStart() + volume.blocksStartsAtSector + sector, 1, first.data());
    const auto wHeaderForMP3 = static_cast<std::uint16_t>(first[0] << 8 | first[1]);
    bool mp3Ran = false;
    RecogniserDispatch dispatch(volume, search);
    std::optional<PlantedStarts> lookup;
    if (lookupFinds_) dispatch.setFileStartProbe(&lookup.emplace(sector, *lookupFinds_));
    const bool accepted = dispatch.runCheckForSig(sig, wHeaderForMP3, mp3Ran, sector);
    return {accepted, sig.foundSize, sig.skipSize, sig.skipFileSize, sig.extension, sig.foundCut};
}

Verdict RecogniserFixture::recogniseBytes(const std::string& bytes, Sig sig, std::uint64_t tailSectors) {
    return recognise(volumeOver(testsupport::imageWith(bytes, kSector, tailSectors)), sig);
}
