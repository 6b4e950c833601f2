#include "signatures/TextRecognisers.h"

#include "RecogniserFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <random>

using namespace testsupport;
using namespace std::string_literals;
using TextRecognisersTest = RecogniserFixture;

namespace {

const std::string kGhostscript = "gs -q -dSAFER -dBATCH -dNOPAUSE ";
const std::string kPage = " -c '/Helvetica findfont 20 scalefont setfont 72 700 moveto (Page) show showpage'";

std::string randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& b : bytes)
        b = static_cast<char>(generator());
    return bytes;
}

} // namespace

// A first line names the kind: any version of the document conventions a document, an EPSF one after them a picture,
// a font's own first line a font; what only begins alike is none.
TEST(TextRecognisers, FirstLinesNameTheKindOfPostScriptAndTheInterpreterOfAScript) {
    for (const auto& [line, kind] :
         std::vector<std::pair<std::string, std::string>>{{"%!PS-Adobe-3.0", "ps"},
                                                          {"%!PS-Adobe-2.0", "ps"},
                                                          {"%!PS", "ps"},
                                                          {"%!PS-Adobe-3.0 EPSF-3.0", "eps"},
                                                          {"%!PS-Adobe-2.0 EPSF-1.2", "eps"},
                                                          {"%!PS-AdobeFont-1.0: Sample 001.000", "pfa"},
                                                          {"%!FontType1-1.0: Sample", "pfa"},
                                                          {"%!PSX", ""},
                                                          {"%!Fontish", ""},
                                                          {"%%EOF", ""}})
        EXPECT_EQ(TextRecognisers::postScriptKind(line), kind) << line;
    for (const auto& [bytes, length] :
         std::vector<std::pair<std::string, std::size_t>>{{"#!/bin/bash\necho", 12},
                                                          {"#! /bin/sh\n", 11},
                                                          {"#!/usr/bin/env python3\n", 23},
                                                          {"#!/usr/bin/perl -w\r\n", 20},
                                                          {"#!\t/usr/local/bin/ruby --disable-gems\nputs 1", 38},
                                                          {"#!bin/sh\n", 0},
                                                          {"#!/\n", 0},
                                                          {"#!/bin/\n", 0},
                                                          {"#!/bin/sh", 0},
                                                          {"#!/bin/sh!\n", 0},
                                                          {"#!/bin/sh \x01\n", 0},
                                                          {"#!important, read this\n", 0},
                                                          {"#!/bin/sh " + std::string(300, 'a') + "\n", 0}})
        EXPECT_EQ(TextRecognisers::interpreterLine(bytes), length) << bytes;
}

// What ghostscript writes: a document ends after its "%%EOF" line and is jumped over, also when other bytes follow
// it; a picture in text is named "eps" by the document's row and taken by its own, and neither is taken by a row of
// another kind. A font ends after its "cleartomark" and the line that closes it. A file without an end line runs as
// far as its text, an estimate the search does not jump.
TEST_F(TextRecognisersTest, PostScriptIsMeasuredToItsEndLineAndNamedByItsFirst) {
    const std::string ps = toolSample(kGhostscript + "-sDEVICE=ps2write -sOutputFile=\"$OUT\"" + kPage, "ps");
    const std::string eps = toolSample(kGhostscript + "-sDEVICE=eps2write -sOutputFile=\"$OUT\"" + kPage, "eps");
    ASSERT_TRUE(ps.starts_with("%!PS-Adobe-") && eps.starts_with("%!PS-Adobe-"));
    for (const std::string& tail : {""s, randomBytes(4096, 1)}) {
        EXPECT_EQ(recogniseBytes(ps + tail, sigOf(62, "ps")), (Verdict{true, ps.size(), ps.size() / 512, true, "ps"}));
        EXPECT_EQ(recogniseBytes(eps + tail, sigOf(62, "ps")),
                  (Verdict{true, eps.size(), eps.size() / 512, true, "eps"}));
        EXPECT_EQ(recogniseBytes(eps + tail, sigOf(62, "eps")).foundSize, eps.size());
    }
    for (const char* row : {"eps", "pfa"})
        EXPECT_FALSE(recogniseBytes(ps, sigOf(62, row)).accepted) << row;
    EXPECT_FALSE(recogniseBytes(eps, sigOf(62, "pfa")).accepted);
    const std::string font = "%!PS-AdobeFont-1.0: Sample 001\n/FontName /Sample def\ncurrentfile eexec\n"s +
                             std::string(64, '0') + "\ncleartomark\n{restore}if\n";
    EXPECT_EQ(recogniseBytes(font, sigOf(62, "pfa")), (Verdict{true, font.size(), 0, true, "pfa"}));
    EXPECT_EQ(recogniseBytes(font + "\x01\x02", sigOf(62, "ps")).extension, "pfa");
    EXPECT_FALSE(recogniseBytes(font, sigOf(62, "eps")).accepted);
    const std::string plain = "%!PS\n/Times-Roman findfont 12 scalefont setfont\nshowpage\n";
    EXPECT_EQ(recogniseBytes(plain, sigOf(62, "ps")), (Verdict{true, plain.size(), 0, false, "ps"}));
    // A first line that never ends, or holds what is no text.
    EXPECT_FALSE(recogniseBytes("%!PS-Adobe-3.0" + std::string(300, ' '), sigOf(62, "ps")).accepted);
    EXPECT_FALSE(recogniseBytes("%!PS-Adobe-3.0\x01\n", sigOf(62, "ps")).accepted);
}

// A script runs as far as its text: to the zeros after it, to the last line break before other bytes, or to the
// next sector that begins another script. Random bytes, however many begin "#!", hold none.
TEST_F(TextRecognisersTest, AScriptRunsAsFarAsItsTextAndRandomBytesHoldNone) {
    const std::string script = "#!/bin/bash\nfor i in 1 2 3; do\n  echo \"$i\"\ndone\n";
    EXPECT_EQ(recogniseBytes(script, sigOf(63, "sh")), (Verdict{true, script.size(), 0, false, "sh"}));
    EXPECT_EQ(recogniseBytes(script + "tail\x01", sigOf(63, "sh")).foundSize, script.size());
    const std::string filled = script + std::string(512 - script.size(), '#');
    const std::string next = "#! /bin/sh\nexit 0\n";
    EXPECT_EQ(recogniseBytes(filled + next, sigOf(63, "sh")).foundSize, 512u);
    EXPECT_EQ(recogniseBytes(filled + "#!" + std::string(100, 'x'), sigOf(63, "sh")).foundSize, 614u);
    lookupFinds({1});
    EXPECT_EQ(recogniseBytes(filled + std::string(600, 'y'), sigOf(63, "sh")).foundSize, 512u);
    // Each sector of random bytes after a "#!": the interpreter's line is none.
    std::string random = randomBytes(2000 * 512, 2);
    for (std::size_t sector = 0; sector < 2000; ++sector)
        random.replace(sector * 512, 2, "#!");
    Volume& volume = volumeOver(imageWith(random, 0));
    Sig sig = sigOf(63, "sh");
    std::size_t scripts = 0;
    for (std::uint64_t sector = 0; sector < 2000; ++sector)
        scripts += recognise(volume, sig, sector).accepted;
    EXPECT_EQ(scripts, 0u);
}
