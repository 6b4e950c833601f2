#include "RecogniserFixture.h"
#include "signatures/FileTypeTable.h"
#include "signatures/RecogniserDispatch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

using DispatchTest = RecogniserFixture;

// The recognisers' numbers are the lists' typeOfFile values; the others (0,
// 1, the gaps and the user's own) pass unchecked, and MP3 runs only where a
// frame sync, an ID3 tag or a RIFF wrapper can start.
TEST_F(DispatchTest, EachRecogniserHasItsNumberOthersPassUncheckedAndMp3RunsOnlyOnItsStarts) {
    for (std::uint32_t type = 0; type <= 64; ++type)
        EXPECT_EQ(RecogniserDispatch::hasRecogniser(type),
                  type >= 2 && type <= 63 && type != 7 && type != 22 && type != 29)
            << type;
    Volume& zeros = volumeOver(testsupport::zeroImage(64 * 512));
    for (std::uint32_t type : {0u, 1u, 7u, 22u, 29u, 64u, 1000u}) {
        Sig sig = sigOf(type, "indb");
        EXPECT_EQ(recognise(zeros, sig), (Verdict{true, 0, 0, false, "indd"})) << type;
    }
    for (const auto& [firstTwoBytes, runs] :
         {std::pair{0x0000, false}, {0xFFDF, false}, {0xFFE0, true}, {0x4944, true}, {0x5249, true}, {0x4945, false}}) {
        Sig sig = sigOf(16, "mp3");
        bool mp3Ran = false;
        EXPECT_FALSE(RecogniserDispatch(zeros, searchOf(zeros)).runCheckForSig(sig, firstTwoBytes, mp3Ran, kSector));
        EXPECT_EQ(mp3Ran, runs) << firstTwoBytes;
    }
}

// A hit vouches for a file's start when its recogniser checked it past its header, however short the header (a
// bitmap's "BM", a transport stream's sync byte), or when its header alone holds five bytes that are not zero (a web
// page's "<!DOCTYP", an XML document's "<?xml "); the short headers that compressed data begins sectors with by chance
// do not, nor a font's 00 01 00 00 00 or the "II*\0" of a raw type the plain search takes unchecked.
TEST_F(DispatchTest, AHitVouchesForAFilesStartWhenCheckedPastItsHeaderOrItsHeaderHoldsFiveStandingBytes) {
    const std::map<std::string, bool> vouches = {
        {"bmp", true},  {"mts", true},  {"jpg", true},  {"pdf", true},  {"rtf", true},  {"html", true},
        {"xml", true},  {"7z", true},   {"pcx", false}, {"ppm", false}, {"pgm", false}, {"pbm", false},
        {"cdr", false}, {"dpx", false}, {"exr", false}, {"ras", false}, {"qoi", false}, {"eps", false},
        {"j2k", false}, {"ttf", false}, {"dng", false}, {"kdc", false}, {"cab", false}, {"wk1", false}};
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
    std::set<std::string> seen;
    for (const auto& row : rows) {
        const auto expected = vouches.find(row.extension);
        // The text EPS row's recogniser reads its first line: it vouches as every checked type does.
        if (expected == vouches.end() || !(row.lists & FileTypeTable::FR) ||
            (!expected->second && RecogniserDispatch::hasRecogniser(row.typeOfFile)))
            continue;
        Sig sig = sigOf(row.typeOfFile, row.extension);
        sig.header = row.header;
        sig.headerLength = row.headerLength;
        EXPECT_EQ(RecogniserDispatch::vouchesForStart(sig), expected->second) << row.extension << " line " << row.line;
        seen.insert(row.extension);
    }
    EXPECT_EQ(seen.size(), vouches.size());
}
