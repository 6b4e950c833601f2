#include "signatures/RecogniserDispatch.h"
#include "signatures/Recognisers.h"
#include "signatures/Sig.h"

#include <gtest/gtest.h>
#include <tuple>

// Each recogniser notes the typeOfFile it serves: the list is the routing
// table the dispatch must follow.
// clang-format off
#define SERVES(type, name) \
    bool name(std::uint64_t at, Sig&) override { servedType = type, block = at, ++calls; return answer; }
struct RecordingRecognisers final : Recognisers {
    std::uint64_t servedType = 0, calls = 0, block = 0;
    bool answer = false;
    SERVES(2, checkBMPFileAtBlock) SERVES(3, checkJPGFileAtBlock) SERVES(4, checkGIFFileAtBlock)
    SERVES(5, checkTIFF_FileAtBlock) SERVES(6, checkPNGFileAtBlock) SERVES(8, checkCR2FileAtBlock)
    SERVES(9, checkNEF_FileAtBlock) SERVES(10, checkSONY_RAWFileAtBlock) SERVES(11, checkMRWFileAtBlock)
    SERVES(12, checkORF_FileAtBlock) SERVES(13, checkWAVFileAtBlock) SERVES(14, checkMIDIFileAtBlock)
    SERVES(15, checkMOVFileAtBlock) SERVES(16, checkMP3FileAtBlock) SERVES(17, checkMP4FileAtBlock)
    SERVES(18, checkAVIFileAtBlock) SERVES(19, checkMPGFileAtBlock) SERVES(20, checkICNS_FileAtBlock)
    SERVES(21, checkZIP_FileAtBlock) SERVES(23, checkRAR_FileAtBlock) SERVES(24, checkPDF_FileAtBlock)
    SERVES(25, checkRTF_FileAtBlock) SERVES(26, check3GPP_FileAtBlock) SERVES(27, check3GPP2_FileAtBlock)
    SERVES(28, checkAIFF_FileAtBlock) SERVES(30, checkMSOFileAtBlock) SERVES(31, checkMTSFileAtBlock)
    SERVES(32, checkOlk14CategoryFileAtBlock) SERVES(33, checkOlk14ContactFileAtBlock)
    SERVES(34, checkOlk14DBHeaderFileAtBlock) SERVES(35, checkOlk14FoldFileAtBlock)
    SERVES(36, checkOlk14FolderFileAtBlock) SERVES(37, checkOlk14MailAccountFileAtBlock)
    SERVES(38, checkOlk14MsgSourceFileAtBlock) SERVES(39, checkOlk14MessageFileAtBlock)
    SERVES(40, checkOlk14PrefFileAtBlock) SERVES(41, checkOlk14RecentFileAtBlock) SERVES(42, checkOlk14RuleFileAtBlock)
    SERVES(43, checkOlk14SearchFileAtBlock) SERVES(44, checkOlk14ScheduleFileAtBlock)
    SERVES(45, checkOlk14SignatureFileAtBlock) SERVES(46, checkOlk14UIDFileAtBlock)
    SERVES(47, checkInddAndOtherSuchFileAtBlock) SERVES(48, checkSGIFileAtBlock) SERVES(49, checkAACFileAtBlock)
    SERVES(50, checkAC3FileAtBlock) SERVES(51, checkCompressFileAtBlock) SERVES(52, checkARJFileAtBlock)
    SERVES(53, checkEXEFileAtBlock)
};
// clang-format on

TEST(RecogniserDispatch, EachNumberRunsItsOwnRecogniserOrPassesUncheckedAndABookTurnsBackToIndd) {
    for (std::uint32_t type = 0; type <= 56; ++type)
        for (std::uint16_t first : {0xFFDF, 0x4945, 0x5248, 0xFFE0, 0x4944, 0x5249}) {
            // MP3 runs only on a frame sync, an ID3 tag or a RIFF start.
            const bool gateOpen = first >= 0xFFE0 || first == 0x4944 || first == 0x5249;
            const bool runs =
                type >= 2 && type <= 53 && type != 7 && type != 22 && type != 29 && (type != 16 || gateOpen);
            RecordingRecognisers recognisers;
            recognisers.answer = (first & 1) != 0; // both answers, gate open or not
            Sig sig;
            sig.typeOfFile = type, sig.extension = "indb";
            bool mp3Ran = false;
            const bool accepted = RecogniserDispatch(recognisers).runCheckForSig(sig, first, mp3Ran, 77);
            EXPECT_EQ(std::make_tuple(accepted, recognisers.calls, recognisers.servedType, recognisers.block, mp3Ran),
                      std::make_tuple(runs ? recognisers.answer : type != 16, runs ? 1u : 0u, runs ? type : 0u,
                                      runs ? 77u : 0u, type == 16 && gateOpen))
                << type << " " << first;
            EXPECT_EQ(sig.extension, "indd");
        }
}
