#pragma once

// The recognisers of ZIP, RAR, PDF, RTF, OLE2 compound documents and MRW camera raw. Each reads the candidate
// from the sector `block` of the search's numbering through a RecogniserMedium
// and answers as the Recognisers interface describes.

#include <cstdint>

class Sig;
class Volume;

class DocumentRecognisers {
public:
    explicit DocumentRecognisers(Volume& volume) noexcept : volume_(volume) {}

    bool checkZIP_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkRAR_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkPDF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkRTF_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMSOFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkMRWFileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
};
