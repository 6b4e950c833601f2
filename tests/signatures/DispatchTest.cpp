#include "RecogniserFixture.h"
#include "signatures/RecogniserDispatch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using DispatchTest = RecogniserFixture;

// The recognisers' numbers are the lists' typeOfFile values; the others (0,
// 1, the gaps and the user's own) pass unchecked, and MP3 runs only where a
// frame sync, an ID3 tag or a RIFF wrapper can start.
TEST_F(DispatchTest, EachRecogniserHasItsNumberOthersPassUncheckedAndMp3RunsOnlyOnItsStarts) {
    for (std::uint32_t type = 0; type <= 64; ++type)
        EXPECT_EQ(RecogniserDispatch::hasRecogniser(type),
                  type >= 2 && type <= 55 && type != 7 && type != 22 && type != 29)
            << type;
    Volume& zeros = volumeOver(testsupport::zeroImage(64 * 512));
    for (std::uint32_t type : {0u, 1u, 7u, 22u, 29u, 56u, 1000u}) {
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
