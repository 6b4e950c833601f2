#pragma once

// The recognisers the signature search runs on the scanned volume, one family
// of formats per class; this only routes the interface to them.

#include "signatures/AudioVideoRecognisers.h"
#include "signatures/CameraRawRecognisers.h"
#include "signatures/DatabaseRecordRecognisers.h"
#include "signatures/DocumentRecognisers.h"
#include "signatures/ImageRecognisers.h"
#include "signatures/Recognisers.h"
#include "signatures/TiffRecognisers.h"

class VolumeRecognisers final : public Recognisers {
public:
    explicit VolumeRecognisers(Volume& volume) noexcept
        : images_(volume), audioVideo_(volume), documents_(volume), records_(volume), tiff_(volume), raw_(volume) {}

    bool checkBMPFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkJPGFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkGIFFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkPNGFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkCR2FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkNEF_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMRWFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkORF_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkWAVFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMIDIFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMOVFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMP3FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMP4FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkAVIFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMPGFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkICNS_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkZIP_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkRAR_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkPDF_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkRTF_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool check3GPP_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMSOFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkMTSFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14CategoryFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14ContactFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14DBHeaderFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14FoldFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14FolderFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14MailAccountFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14MsgSourceFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14MessageFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14PrefFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14RecentFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14RuleFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14SearchFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14ScheduleFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14SignatureFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkOlk14UIDFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkInddAndOtherSuchFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkSGIFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkAACFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkAC3FileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkCompressFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkARJFileAtBlock(std::uint64_t block, Sig& sig) override;
    bool checkEXEFileAtBlock(std::uint64_t block, Sig& sig) override;

private:
    ImageRecognisers images_;
    AudioVideoRecognisers audioVideo_;
    DocumentRecognisers documents_;
    DatabaseRecordRecognisers records_;
    TiffRecognisers tiff_;
    CameraRawRecognisers raw_;
};
