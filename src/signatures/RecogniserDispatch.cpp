#include "signatures/RecogniserDispatch.h"

#include "signatures/Recognisers.h"
#include "signatures/Sig.h"

namespace {

// Two random bytes often look like a frame of MPEG audio, so the MP3
// recogniser (which walks frames a long way) runs only on starts that can
// begin such a file: a frame sync (0xFF, then three set bits), an ID3 tag
// ("ID") or a RIFF wrapper ("RI").
bool mayStartMP3(std::uint16_t firstTwoBytes) {
    return firstTwoBytes >= 0xFFE0 || firstTwoBytes == 0x4944 || firstTwoBytes == 0x5249;
}

} // namespace

bool RecogniserDispatch::runCheckForSig(Sig& sig, std::uint16_t wHeaderForMP3, bool& bMP3SkippedOnce,
                                        std::uint64_t atBlock) {
    // The layout-document recogniser files a book as "indb"; the record goes
    // back to "indd" before the next hit, whatever its type.
    if (sig.extension == "indb") sig.extension = "indd";
    switch (sig.typeOfFile) {
    case 2:
        return recognisers_.checkBMPFileAtBlock(atBlock, sig);
    case 3:
        return recognisers_.checkJPGFileAtBlock(atBlock, sig);
    case 4:
        return recognisers_.checkGIFFileAtBlock(atBlock, sig);
    case 5:
        return recognisers_.checkTIFF_FileAtBlock(atBlock, sig);
    case 6:
        return recognisers_.checkPNGFileAtBlock(atBlock, sig);
    case 8:
        return recognisers_.checkCR2FileAtBlock(atBlock, sig);
    case 9:
        return recognisers_.checkNEF_FileAtBlock(atBlock, sig);
    case 10:
        return recognisers_.checkSONY_RAWFileAtBlock(atBlock, sig);
    case 11:
        return recognisers_.checkMRWFileAtBlock(atBlock, sig);
    case 12:
        return recognisers_.checkORF_FileAtBlock(atBlock, sig);
    case 13:
        return recognisers_.checkWAVFileAtBlock(atBlock, sig);
    case 14:
        return recognisers_.checkMIDIFileAtBlock(atBlock, sig);
    case 15:
        return recognisers_.checkMOVFileAtBlock(atBlock, sig);
    case 17:
        return recognisers_.checkMP4FileAtBlock(atBlock, sig);
    case 18:
        return recognisers_.checkAVIFileAtBlock(atBlock, sig);
    case 19:
        return recognisers_.checkMPGFileAtBlock(atBlock, sig);
    case 20:
        return recognisers_.checkICNS_FileAtBlock(atBlock, sig);
    case 21:
        return recognisers_.checkZIP_FileAtBlock(atBlock, sig);
    case 23:
        return recognisers_.checkRAR_FileAtBlock(atBlock, sig);
    case 24:
        return recognisers_.checkPDF_FileAtBlock(atBlock, sig);
    case 25:
        return recognisers_.checkRTF_FileAtBlock(atBlock, sig);
    case 26:
        return recognisers_.check3GPP_FileAtBlock(atBlock, sig);
    case 27:
        return recognisers_.check3GPP2_FileAtBlock(atBlock, sig);
    case 28:
        return recognisers_.checkAIFF_FileAtBlock(atBlock, sig);
    case 30:
        return recognisers_.checkMSOFileAtBlock(atBlock, sig);
    case 31:
        return recognisers_.checkMTSFileAtBlock(atBlock, sig);
    case 32:
        return recognisers_.checkOlk14CategoryFileAtBlock(atBlock, sig);
    case 33:
        return recognisers_.checkOlk14ContactFileAtBlock(atBlock, sig);
    case 34:
        return recognisers_.checkOlk14DBHeaderFileAtBlock(atBlock, sig);
    case 35:
        return recognisers_.checkOlk14FoldFileAtBlock(atBlock, sig);
    case 36:
        return recognisers_.checkOlk14FolderFileAtBlock(atBlock, sig);
    case 37:
        return recognisers_.checkOlk14MailAccountFileAtBlock(atBlock, sig);
    case 38:
        return recognisers_.checkOlk14MsgSourceFileAtBlock(atBlock, sig);
    case 39:
        return recognisers_.checkOlk14MessageFileAtBlock(atBlock, sig);
    case 40:
        return recognisers_.checkOlk14PrefFileAtBlock(atBlock, sig);
    case 41:
        return recognisers_.checkOlk14RecentFileAtBlock(atBlock, sig);
    case 42:
        return recognisers_.checkOlk14RuleFileAtBlock(atBlock, sig);
    case 43:
        return recognisers_.checkOlk14SearchFileAtBlock(atBlock, sig);
    case 44:
        return recognisers_.checkOlk14ScheduleFileAtBlock(atBlock, sig);
    case 45:
        return recognisers_.checkOlk14SignatureFileAtBlock(atBlock, sig);
    case 46:
        return recognisers_.checkOlk14UIDFileAtBlock(atBlock, sig);
    case 47:
        return recognisers_.checkInddAndOtherSuchFileAtBlock(atBlock, sig);
    case 48:
        return recognisers_.checkSGIFileAtBlock(atBlock, sig);
    case 49:
        return recognisers_.checkAACFileAtBlock(atBlock, sig);
    case 50:
        return recognisers_.checkAC3FileAtBlock(atBlock, sig);
    case 51:
        return recognisers_.checkCompressFileAtBlock(atBlock, sig);
    case 52:
        return recognisers_.checkARJFileAtBlock(atBlock, sig);
    case 53:
        return recognisers_.checkEXEFileAtBlock(atBlock, sig);
    case 16:
        if (!mayStartMP3(wHeaderForMP3)) return false;
        bMP3SkippedOnce = true;
        return recognisers_.checkMP3FileAtBlock(atBlock, sig);
    default:
        return true;
    }
}
