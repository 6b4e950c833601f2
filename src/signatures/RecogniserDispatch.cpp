#include "signatures/RecogniserDispatch.h"

#include "signatures/Sig.h"

#include <algorithm>
#include <array>

namespace {

// Two random bytes often look like a frame of MPEG audio, so the MP3
// recogniser (which walks frames a long way) runs only on starts that can
// begin such a file: a frame sync (0xFF, then three set bits), an ID3 tag
// ("ID") or a RIFF wrapper ("RI").
bool mayStartMP3(std::uint16_t firstTwoBytes) {
    return firstTwoBytes >= 0xFFE0 || firstTwoBytes == 0x4944 || firstTwoBytes == 0x5249;
}

// A header that holds this many bytes that are not zero begins one sector of
// random or compressed data in 2^40 by chance, once in hundreds of terabytes;
// zeros do not count, as the sparse data of a photo's later scans is mostly
// zeros.
constexpr int kChanceFreeHeaderBytes = 5;

template <class> struct FamilyOf;
template <class F> struct FamilyOf<bool (F::*)(std::uint64_t, Sig&)> { using type = F; };

} // namespace

struct RecogniserDispatch::Row {
    std::uint32_t typeOfFile;
    bool (*check)(RecogniserDispatch& dispatch, std::uint64_t block, Sig& sig);
    // Runs only on the starts mayStartMP3 lets through, and tells the
    // caller when it ran.
    bool mp3Gate = false;
};

template <auto Check> bool RecogniserDispatch::run(RecogniserDispatch& dispatch, std::uint64_t block, Sig& sig) {
    using Family = typename FamilyOf<decltype(Check)>::type;
    return (std::get<Family>(dispatch.families_).*Check)(block, sig);
}

const RecogniserDispatch::Row* RecogniserDispatch::rowOf(std::uint32_t typeOfFile) {
    // clang-format off
    static constexpr Row kRows[] = {
        {2,  run<&ImageRecognisers::checkBMPFileAtBlock>},                   // BMP bitmap
        {3,  run<&ImageRecognisers::checkJPGFileAtBlock>},                   // JPEG
        {4,  run<&ImageRecognisers::checkGIFFileAtBlock>},                   // GIF
        {5,  run<&TiffRecognisers::checkTIFF_FileAtBlock>},                  // TIFF
        {6,  run<&ImageRecognisers::checkPNGFileAtBlock>},                   // PNG
        {8,  run<&CameraRawRecognisers::checkCR2FileAtBlock>},               // Canon CR2
        {9,  run<&CameraRawRecognisers::checkNEF_FileAtBlock>},              // Nikon NEF
        {10, run<&CameraRawRecognisers::checkSONY_RAWFileAtBlock>},          // Sony raw
        {11, run<&DocumentRecognisers::checkMRWFileAtBlock>},                // MRW camera raw
        {12, run<&CameraRawRecognisers::checkORF_FileAtBlock>},              // Olympus ORF
        {13, run<&AudioVideoRecognisers::checkWAVFileAtBlock>},              // RIFF WAVE
        {14, run<&AudioVideoRecognisers::checkMIDIFileAtBlock>},             // Standard MIDI file
        {15, run<&AudioVideoRecognisers::checkMOVFileAtBlock>},              // QuickTime movie
        {16, run<&AudioVideoRecognisers::checkMP3FileAtBlock>, true},        // MPEG audio
        {17, run<&AudioVideoRecognisers::checkMP4FileAtBlock>},              // MPEG-4 (ISO base media)
        {18, run<&AudioVideoRecognisers::checkAVIFileAtBlock>},              // RIFF AVI
        {19, run<&AudioVideoRecognisers::checkMPGFileAtBlock>},              // MPEG program or video stream
        {20, run<&ImageRecognisers::checkICNS_FileAtBlock>},                 // Apple icon file
        {21, run<&DocumentRecognisers::checkZIP_FileAtBlock>},               // ZIP archive
        {23, run<&DocumentRecognisers::checkRAR_FileAtBlock>},               // RAR archive
        {24, run<&DocumentRecognisers::checkPDF_FileAtBlock>},               // PDF
        {25, run<&DocumentRecognisers::checkRTF_FileAtBlock>},               // RTF
        {26, run<&AudioVideoRecognisers::check3GPP_FileAtBlock>},            // 3GPP
        {27, run<&AudioVideoRecognisers::check3GPP2_FileAtBlock>},           // 3GPP2
        {28, run<&AudioVideoRecognisers::checkAIFF_FileAtBlock>},            // AIFF
        {30, run<&DocumentRecognisers::checkMSOFileAtBlock>},                // OLE2 compound document
        {31, run<&AudioVideoRecognisers::checkMTSFileAtBlock>},              // MPEG transport stream
        {32, run<&DatabaseRecordRecognisers::checkOlk14CategoryFileAtBlock>},    // mail record: category
        {33, run<&DatabaseRecordRecognisers::checkOlk14ContactFileAtBlock>},     // mail record: contact
        {34, run<&DatabaseRecordRecognisers::checkOlk14DBHeaderFileAtBlock>},    // mail record: database header
        {35, run<&DatabaseRecordRecognisers::checkOlk14FoldFileAtBlock>},        // mail record: fold
        {36, run<&DatabaseRecordRecognisers::checkOlk14FolderFileAtBlock>},      // mail record: folder
        {37, run<&DatabaseRecordRecognisers::checkOlk14MailAccountFileAtBlock>}, // mail record: mail account
        {38, run<&DatabaseRecordRecognisers::checkOlk14MsgSourceFileAtBlock>},   // mail record: message source
        {39, run<&DatabaseRecordRecognisers::checkOlk14MessageFileAtBlock>},     // mail record: message
        {40, run<&DatabaseRecordRecognisers::checkOlk14PrefFileAtBlock>},        // mail record: preferences
        {41, run<&DatabaseRecordRecognisers::checkOlk14RecentFileAtBlock>},      // mail record: recent
        {42, run<&DatabaseRecordRecognisers::checkOlk14RuleFileAtBlock>},        // mail record: rule
        {43, run<&DatabaseRecordRecognisers::checkOlk14SearchFileAtBlock>},      // mail record: search
        {44, run<&DatabaseRecordRecognisers::checkOlk14ScheduleFileAtBlock>},    // mail record: schedule
        {45, run<&DatabaseRecordRecognisers::checkOlk14SignatureFileAtBlock>},   // mail record: signature
        {46, run<&DatabaseRecordRecognisers::checkOlk14UIDFileAtBlock>},         // mail record: UID
        {47, run<&DatabaseRecordRecognisers::checkInddAndOtherSuchFileAtBlock>}, // layout-document database
        {48, run<&ImageRecognisers::checkSGIFileAtBlock>},                   // SGI image
        {49, run<&AudioVideoRecognisers::checkAACFileAtBlock>},              // AAC audio (ADTS)
        {50, run<&AudioVideoRecognisers::checkAC3FileAtBlock>},              // AC-3 audio
        {51, run<&DocumentRecognisers::checkCompressFileAtBlock>},           // compress archive
        {52, run<&DocumentRecognisers::checkARJFileAtBlock>},                // ARJ archive
        {53, run<&DocumentRecognisers::checkEXEFileAtBlock>},                // Windows program
        {54, run<&ImageRecognisers::checkICOFileAtBlock>},                   // Windows icon or cursor
        {55, run<&ImageRecognisers::checkWebPFileAtBlock>},                  // WebP
        {56, run<&AudioVideoRecognisers::checkHEIF_FileAtBlock>},            // HEIF or AVIF image
        {57, run<&ArchiveRecognisers::checkTarFileAtBlock>},                 // tar archive
        {58, run<&FramedMediaRecognisers::checkDTSFileAtBlock>},             // DTS audio
        {59, run<&FramedMediaRecognisers::checkDVFileAtBlock>},              // DV video
        {60, run<&FramedMediaRecognisers::checkMXFFileAtBlock>},             // MXF video
        {61, run<&ArchiveRecognisers::checkVHDFileAtBlock>},                 // Virtual PC disk
        {62, run<&TextRecognisers::checkPostScriptFileAtBlock>},             // PostScript, EPS or Type 1 font
        {63, run<&TextRecognisers::checkScriptFileAtBlock>},                 // script
    };
    // clang-format on
    // The rows by number, looked up for every hit; two rows of one number
    // stop the build.
    static constexpr auto kByType = [] {
        std::array<const Row*, 64> byType{};
        for (const Row& row : kRows) {
            if (row.typeOfFile >= byType.size() || byType[row.typeOfFile] != nullptr) throw "one row per number";
            byType[row.typeOfFile] = &row;
        }
        return byType;
    }();
    return typeOfFile < kByType.size() ? kByType[typeOfFile] : nullptr;
}

RecogniserDispatch::RecogniserDispatch(Volume& volume, SignatureSearchState& search)
    : families_(ImageRecognisers(volume), AudioVideoRecognisers(volume, search), DocumentRecognisers(volume, search),
                DatabaseRecordRecognisers(volume, search), TiffRecognisers(volume), CameraRawRecognisers(volume),
                ArchiveRecognisers(volume), FramedMediaRecognisers(volume), TextRecognisers(volume)) {}

bool RecogniserDispatch::hasRecogniser(std::uint32_t typeOfFile) {
    return rowOf(typeOfFile) != nullptr;
}

bool RecogniserDispatch::vouchesForStart(const Sig& sig) {
    if (hasRecogniser(sig.typeOfFile)) return !sig.foundOnHeaderAlone;
    int standing = 0;
    for (int i = 0; i < std::min<int>(sig.headerLength, 8); ++i)
        standing += (sig.header >> (8 * i) & 0xFF) != 0;
    return standing >= kChanceFreeHeaderBytes;
}

bool RecogniserDispatch::refusesAtOnce(const Sig& sig, std::uint16_t firstTwoBytes) {
    const Row* row = rowOf(sig.typeOfFile);
    return row && row->mp3Gate && !mayStartMP3(firstTwoBytes);
}

bool RecogniserDispatch::runCheckForSig(Sig& sig, std::uint16_t wHeaderForMP3, bool& bMP3SkippedOnce,
                                        std::uint64_t atBlock) {
    // The layout-document recogniser files a book as "indb"; the record goes
    // back to "indd" before the next hit, whatever its type.
    if (sig.extension == "indb") sig.extension = "indd";
    const Row* row = rowOf(sig.typeOfFile);
    if (!row) return true;
    if (row->mp3Gate) {
        if (!mayStartMP3(wHeaderForMP3)) return false;
        bMP3SkippedOnce = true;
    }
    // Until its answer says how far its walk read, a hit vouches for nothing.
    sig.foundOnHeaderAlone = true;
    return row->check(*this, atBlock, sig);
}
