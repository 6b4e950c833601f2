#pragma once

// The recognisers of ZIP, RAR, PDF, RTF, OLE2 compound documents and MRW camera raw, and of the archives and
// programs whose two-byte headers alone would be no test (compress, ARJ, Windows programs). Each reads the candidate
// from the sector `block` of the search's numbering through a RecogniserMedium
// and answers as RecogniserDispatch describes.

#include <cstdint>
#include <string>

class RecogniserMedium;
class FileStartProbe;
class Sig;
class SignatureSearchState;
class Volume;

class DocumentRecognisers {
public:
    DocumentRecognisers(Volume& volume, SignatureSearchState& search) noexcept : volume_(volume), search_(search) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for; none: nothing is offered.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    bool checkZIP_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkRAR_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkPDF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkRTF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMSOFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMRWFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkCompressFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkARJFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkEXEFileAtBlock(std::uint64_t block, Sig& sig);

private:
    // The pictures a document package's RTF text names, left in the
    // search's rtfdArray for the search to pick up.
    bool listRtfPictures(const std::string& text);

    Volume& volume_;
    SignatureSearchState& search_;
    FileStartProbe* probe_ = nullptr;
};
