#pragma once

// One file type the signature search can look for: the header bytes that
// start such a file, where in a sector they stand, which recogniser confirms
// the format, and the sizes that bound a carved file. The lists store it in
// keyed archives under the class name "Sig"; a search writes the per-hit
// fields (foundSize, skipSize, skipFileSize) of the very records of the
// marked list nodes.

#include "platform/Archivable.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Sig : public platform::Archivable {
public:
    Sig() = default;
    ~Sig() override;

    // A type that came with the list; only the user's own can be deleted.
    bool preInstalled = false;
    // Archived and copied; nothing reads it.
    std::uint8_t categoryID = 0;
    std::string category;
    // The recogniser number the dispatch switches on; 0 for the user's own
    // types, 1 for the types the carving measures with a size calculator.
    std::uint32_t typeOfFile = 0;
    // The file-type name shown in the list.
    std::string software;
    // Without a leading dot; names the result folder.
    std::string extension;
    // Byte offset of the header in a sector, 0 to 1024.
    std::uint16_t offset = 0;
    // 1 to 8 header bytes, packed big-endian into the low bytes of header.
    std::uint8_t headerLength = 0;
    std::uint64_t header = 0;
    // Megabytes a carved file gets when nothing measured it and the user set
    // no userSize.
    std::uint32_t defaultSize = 0;
    std::uint64_t userSize = 0;
    // Per hit: the measured length in bytes, the sectors the search may jump
    // and whether it does.
    std::uint64_t foundSize = 0;
    std::uint64_t skipSize = 0;
    bool skipFileSize = false;
    // Per hit: the walk found the file broken off by bytes that are not its
    // own (another file written over its later sectors, or its next fragment
    // elsewhere); what it holds up to there is recorded and marked damaged.
    // Neither archived nor copied.
    bool foundCut = false;
    // Per hit: the recogniser's walk read nothing of the file past the header
    // the search matched, so the hit does not vouch that a file begins there
    // (RecogniserDispatch::vouchesForStart). Neither archived nor copied.
    bool foundOnHeaderAlone = false;
    // Per hit: the file's sectors (counted from its first) where a thumbnail
    // its own metadata places begins (ExifThumbnail): its own part, at which
    // the search lists no file. Neither archived nor copied.
    std::vector<std::uint64_t> ownThumbnails;

    // Further types with the same offset, length and header, chained when a
    // search's lookup trees are built. Neither archived nor copied.
    const std::vector<std::shared_ptr<Sig>>& extraExts() const { return extraExts_; }
    // Chains a copy of sig, never sig itself.
    void addToExtraExts(const Sig& sig);
    // Other spellings of the extension for the file-type find; nothing fills
    // it, so it stays empty.
    const std::vector<std::string>& arrayExtNameVariations() const { return arrayExtNameVariations_; }

    // A new record with the archived fields; no chained records.
    std::shared_ptr<Sig> mutableCopy() const;

    // The limit a carved file of this type is cut to when nothing measured
    // it, in bytes: userSize MB, else defaultSize MB, saturating.
    std::uint64_t sizeLimitBytes() const;

    std::string className() const override { return "Sig"; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    // A missing key reads as 0, NO or empty; offset, headerLength and
    // categoryID keep the low bits of what was stored.
    static std::shared_ptr<Sig> initWithCoder(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();

private:
    std::vector<std::shared_ptr<Sig>> extraExts_;
    std::vector<std::string> arrayExtNameVariations_;
};
