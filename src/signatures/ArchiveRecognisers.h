#pragma once

// The recognisers of tar archives and of dynamic and differencing Virtual PC disks: files whose own header stands
// again inside them (a tar's every member header, a disk's footer at its end), so that each is measured by its
// records and jumped over whole, and a copy of its header inside it never begins a file of its own. Each reads the
// candidate from the sector `block` of the search's numbering through a RecogniserMedium and answers as
// RecogniserDispatch describes.

#include <cstdint>

class FileStartProbe;
class Sig;
class Volume;

class ArchiveRecognisers {
public:
    explicit ArchiveRecognisers(Volume& volume) noexcept : volume_(volume) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for; none: nothing is offered.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    // A tar archive (GNU, ustar or POSIX pax): its member headers, each held
    // by its checksum, lead by their sizes to the zero blocks that end it.
    bool checkTarFileAtBlock(std::uint64_t block, Sig& sig);
    // A dynamic or differencing Virtual PC disk: the copy of its footer it
    // begins with, its dynamic header and its block table, to the footer
    // after its last block. A fixed disk's footer stands only at its end,
    // where no file begins.
    bool checkVHDFileAtBlock(std::uint64_t block, Sig& sig);

private:
    Volume& volume_;
    FileStartProbe* probe_ = nullptr;
};
