#pragma once

// The recognisers of JPEG, PNG, GIF, BMP, SGI, WebP, Apple icon and Windows
// icon and cursor files. Each reads the candidate
// from the sector `block` of the search's numbering through a RecogniserMedium
// and answers as RecogniserDispatch describes.

#include "walks/SteppedBodies.h"

#include <array>
#include <cstdint>
#include <optional>

class FileStartProbe;
class RecogniserMedium;
class Sig;
class Volume;

class ImageRecognisers {
public:
    explicit ImageRecognisers(Volume& volume) noexcept : volume_(volume) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for, and asked of the sectors a JPEG's scan data runs
    // over; none: nothing is asked.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    bool checkJPGFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkPNGFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkGIFFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkBMPFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkICNS_FileAtBlock(std::uint64_t block, Sig& sig);
    bool checkSGIFileAtBlock(std::uint64_t block, Sig& sig);
    // A Windows icon or cursor: its four fixed bytes are mostly zeros, so
    // the directory and the head of every image it lists are checked.
    bool checkICOFileAtBlock(std::uint64_t block, Sig& sig);
    // A WebP image: the length its RIFF header gives, where its chunks lead.
    bool checkWebPFileAtBlock(std::uint64_t block, Sig& sig);

    // One chunk header of a PNG file, at `position` from the file's start;
    // `total` counts the length field, the type, the data and the CRC.
    struct PNGChunk {
        std::uint32_t length = 0;
        std::array<std::uint8_t, 4> type{};
        std::uint64_t position = 0;
        std::uint64_t total = 0;
    };
    // Whether the header can start a chunk: a length PNG allows and a type of
    // four ASCII letters. CRCs are not tested.
    static bool checkPNG_Chunk(const PNGChunk& chunk);

private:
    // Where a JPEG's entropy-coded data begins; or, broken, where a segment
    // before the first scan ran into bytes that are no marker.
    struct JPEGScanStart {
        std::uint64_t position = 0;
        bool broken = false;
        // The walk chained the segments to a frame header: the image's
        // start is more than chance bytes.
        bool frameSeen = false;
        // The data of the first APP1 segment that holds an EXIF block, and
        // its length (0: none).
        std::uint64_t exifAt = 0;
        std::uint64_t exifLength = 0;
    };
    // The marker walk from the first segment's marker at `position` on
    // (its last 0xFF, after any fill bytes); nothing when the first segment,
    // of a kind images do not open with, already runs into bytes that are no
    // marker.
    static std::optional<JPEGScanStart> walkJPEGSegments(RecogniserMedium& medium, std::uint64_t position);
    // Walks the image's markers from the scan start to its end-of-image
    // marker, or to a marker that cuts it, and sets the record's length from
    // it; without either as far as can be read, the length looked through,
    // marked cut.
    void measureJPEG(RecogniserMedium& medium, const JPEGScanStart& scan, Sig& sig);
    // The position after the GIF's last block, from the global colour table
    // at `table` and the first block after it: after the trailer, or where
    // the walk met something else (`cut`: bytes that are no block); how far
    // the blocks it walked hold together as one file's; and what it stepped
    // over by a length (colour tables, the data sub-blocks).
    struct GIFWalk {
        std::uint64_t end = 0;
        std::uint64_t checked = 0;
        bool cut = false;
        SteppedBodies bodies{0};
    };
    static GIFWalk walkGIFBlocks(RecogniserMedium& medium, std::uint64_t table, std::uint64_t tableBytes);

    Volume& volume_;
    FileStartProbe* probe_ = nullptr;
};
