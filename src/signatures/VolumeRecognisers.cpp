#include "signatures/VolumeRecognisers.h"

bool VolumeRecognisers::checkBMPFileAtBlock(std::uint64_t block, Sig& sig) {
    return images_.checkBMPFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkJPGFileAtBlock(std::uint64_t block, Sig& sig) {
    return images_.checkJPGFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkGIFFileAtBlock(std::uint64_t block, Sig& sig) {
    return images_.checkGIFFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig) {
    return tiff_.checkTIFF_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkPNGFileAtBlock(std::uint64_t block, Sig& sig) {
    return images_.checkPNGFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkCR2FileAtBlock(std::uint64_t block, Sig& sig) {
    return raw_.checkCR2FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkNEF_FileAtBlock(std::uint64_t block, Sig& sig) {
    return raw_.checkNEF_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig) {
    return raw_.checkSONY_RAWFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMRWFileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkMRWFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkORF_FileAtBlock(std::uint64_t block, Sig& sig) {
    return raw_.checkORF_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkWAVFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkWAVFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMIDIFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkMIDIFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMOVFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkMOVFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMP3FileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkMP3FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMP4FileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkMP4FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkAVIFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkAVIFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMPGFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkMPGFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkICNS_FileAtBlock(std::uint64_t block, Sig& sig) {
    return images_.checkICNS_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkZIP_FileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkZIP_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkRAR_FileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkRAR_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkPDF_FileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkPDF_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkRTF_FileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkRTF_FileAtBlock(block, sig);
}
bool VolumeRecognisers::check3GPP_FileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.check3GPP_FileAtBlock(block, sig);
}
bool VolumeRecognisers::check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.check3GPP2_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkAIFF_FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMSOFileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkMSOFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkMTSFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkMTSFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14CategoryFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14CategoryFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14ContactFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14ContactFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14DBHeaderFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14DBHeaderFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14FoldFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14FoldFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14FolderFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14FolderFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14MailAccountFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14MailAccountFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14MsgSourceFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14MsgSourceFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14MessageFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14MessageFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14PrefFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14PrefFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14RecentFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14RecentFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14RuleFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14RuleFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14SearchFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14SearchFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14ScheduleFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14ScheduleFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14SignatureFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14SignatureFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkOlk14UIDFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkOlk14UIDFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkInddAndOtherSuchFileAtBlock(std::uint64_t block, Sig& sig) {
    return records_.checkInddAndOtherSuchFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkSGIFileAtBlock(std::uint64_t block, Sig& sig) {
    return images_.checkSGIFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkAACFileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkAACFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkAC3FileAtBlock(std::uint64_t block, Sig& sig) {
    return audioVideo_.checkAC3FileAtBlock(block, sig);
}
bool VolumeRecognisers::checkCompressFileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkCompressFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkARJFileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkARJFileAtBlock(block, sig);
}
bool VolumeRecognisers::checkEXEFileAtBlock(std::uint64_t block, Sig& sig) {
    return documents_.checkEXEFileAtBlock(block, sig);
}
