#pragma once

// The per-format recognisers that confirm a signature hit before it is
// recorded. Each reads the candidate file from the sector `block` (counted
// from the start of the search's sector numbering) on, answers whether a file
// of its format starts there and, when it can, sets the record's foundSize,
// skipSize and skipFileSize (which the caller reset). A recogniser never
// writes to the medium and may rewrite the record's extension to name the
// sub-format it found. Beside each: the typeOfFile that selects it, and its
// format.

#include <cstdint>

class Sig;

class Recognisers {
public:
    virtual ~Recognisers() = default;

    virtual bool checkBMPFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 2: BMP bitmap
    virtual bool checkJPGFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 3: JPEG
    virtual bool checkGIFFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 4: GIF
    virtual bool checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig) = 0;         // 5: TIFF
    virtual bool checkPNGFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 6: PNG
    virtual bool checkCR2FileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 8: Canon CR2
    virtual bool checkNEF_FileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 9: Nikon NEF
    virtual bool checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig) = 0;      // 10: Sony raw
    virtual bool checkMRWFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 11: MRW camera raw
    virtual bool checkORF_FileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 12: Olympus ORF
    virtual bool checkWAVFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 13: RIFF WAVE
    virtual bool checkMIDIFileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 14: Standard MIDI file
    virtual bool checkMOVFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 15: QuickTime movie
    virtual bool checkMP3FileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 16: MPEG audio
    virtual bool checkMP4FileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 17: MPEG-4 (ISO base media)
    virtual bool checkAVIFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 18: RIFF AVI
    virtual bool checkMPGFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 19: MPEG program or video stream
    virtual bool checkICNS_FileAtBlock(std::uint64_t block, Sig& sig) = 0;         // 20: Apple icon file
    virtual bool checkZIP_FileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 21: ZIP archive
    virtual bool checkRAR_FileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 23: RAR archive
    virtual bool checkPDF_FileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 24: PDF
    virtual bool checkRTF_FileAtBlock(std::uint64_t block, Sig& sig) = 0;          // 25: RTF
    virtual bool check3GPP_FileAtBlock(std::uint64_t block, Sig& sig) = 0;         // 26: 3GPP
    virtual bool check3GPP2_FileAtBlock(std::uint64_t block, Sig& sig) = 0;        // 27: 3GPP2
    virtual bool checkAIFF_FileAtBlock(std::uint64_t block, Sig& sig) = 0;         // 28: AIFF
    virtual bool checkMSOFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 30: OLE2 compound document
    virtual bool checkMTSFileAtBlock(std::uint64_t block, Sig& sig) = 0;           // 31: MPEG transport stream
    virtual bool checkOlk14CategoryFileAtBlock(std::uint64_t block, Sig& sig) = 0; // 32: mail record: category
    virtual bool checkOlk14ContactFileAtBlock(std::uint64_t block, Sig& sig) = 0;  // 33: mail record: contact
    virtual bool checkOlk14DBHeaderFileAtBlock(std::uint64_t block, Sig& sig) = 0; // 34: mail record: database header
    virtual bool checkOlk14FoldFileAtBlock(std::uint64_t block, Sig& sig) = 0;     // 35: mail record: fold
    virtual bool checkOlk14FolderFileAtBlock(std::uint64_t block, Sig& sig) = 0;   // 36: mail record: folder
    virtual bool checkOlk14MailAccountFileAtBlock(std::uint64_t block, Sig& sig) = 0; // 37: mail record: mail account
    virtual bool checkOlk14MsgSourceFileAtBlock(std::uint64_t block, Sig& sig) = 0;   // 38: mail record: message source
    virtual bool checkOlk14MessageFileAtBlock(std::uint64_t block, Sig& sig) = 0;     // 39: mail record: message
    virtual bool checkOlk14PrefFileAtBlock(std::uint64_t block, Sig& sig) = 0;        // 40: mail record: preferences
    virtual bool checkOlk14RecentFileAtBlock(std::uint64_t block, Sig& sig) = 0;      // 41: mail record: recent
    virtual bool checkOlk14RuleFileAtBlock(std::uint64_t block, Sig& sig) = 0;        // 42: mail record: rule
    virtual bool checkOlk14SearchFileAtBlock(std::uint64_t block, Sig& sig) = 0;      // 43: mail record: search
    virtual bool checkOlk14ScheduleFileAtBlock(std::uint64_t block, Sig& sig) = 0;    // 44: mail record: schedule
    virtual bool checkOlk14SignatureFileAtBlock(std::uint64_t block, Sig& sig) = 0;   // 45: mail record: signature
    virtual bool checkOlk14UIDFileAtBlock(std::uint64_t block, Sig& sig) = 0;         // 46: mail record: UID
    virtual bool checkInddAndOtherSuchFileAtBlock(std::uint64_t block, Sig& sig) = 0; // 47: layout-document database
    virtual bool checkSGIFileAtBlock(std::uint64_t block, Sig& sig) = 0;              // 48: SGI image
    virtual bool checkAACFileAtBlock(std::uint64_t block, Sig& sig) = 0;              // 49: AAC audio (ADTS)
    virtual bool checkAC3FileAtBlock(std::uint64_t block, Sig& sig) = 0;              // 50: AC-3 audio
    virtual bool checkCompressFileAtBlock(std::uint64_t block, Sig& sig) = 0;         // 51: compress archive
    virtual bool checkARJFileAtBlock(std::uint64_t block, Sig& sig) = 0;              // 52: ARJ archive
    virtual bool checkEXEFileAtBlock(std::uint64_t block, Sig& sig) = 0;              // 53: Windows program
};
