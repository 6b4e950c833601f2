#include "carving/PlainSignatureSearch.h"
#include "signatures/FileTypeTable.h"
#include "signatures/SigNode.h"
#include "signatures/SignatureGroups.h"
#include "signatures/SignatureSearchState.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

// The plain search lists each file a real tool writes once, at its first sector, under its own type, with every
// type marked: a file whose own header stands again inside it (a tar's member headers, DV and DTS frames, MXF
// partitions, a Virtual PC disk's footer) is measured by its structure and jumped over, an Office or PostScript file
// is named by what it holds, and a script by its "#!" line whatever it names. A second file of the type right after
// the first is found too. A header that repeats inside a file of a type taken unchecked is kept from becoming a file
// of its own, and random bytes hold none of these types.

namespace fs = std::filesystem;
using testsupport::sampleSeed;
using testsupport::sampleTone;
using testsupport::sampleVideo;
using testsupport::toolSample;

namespace {

// Every type of the file scans' list.
platform::Array everyType() {
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
    platform::Array out;
    for (const auto& category : FileTypeTable::buildList(rows, FileTypeTable::FR))
        for (const auto& node : category->children())
            out.emplace_back(node);
    return out;
}

const std::string kFfmpeg = "ffmpeg -v error -threads 1 ";

std::string tar(unsigned which, const std::string& format) {
    return toolSample("cd \"$(dirname \"$OUT\")\" && mkdir m && for i in $(seq 0 39); do head -c $(( (i * i * 53 + " +
                          std::to_string(which * 100) +
                          ") % 9000 + (i % 4) * 512 )) /dev/zero | tr '\\0' x >m/f$i; done && tar --format=" + format +
                          " -cf \"$OUT\" m",
                      "tar");
}

std::string office(unsigned which, const std::string& extension) {
    return toolSample("cd \"$(dirname \"$OUT\")\" && for i in $(seq " + std::to_string(40 + which * 7) +
                          "); do echo \"Line $i of a report, seed " + sampleSeed(which) +
                          ".\"; done >r.txt && soffice -env:UserInstallation=file://$PWD/lo --headless --convert-to " +
                          extension + " r.txt && mv r." + extension + " \"$OUT\"",
                      extension);
}

std::string postScript(unsigned which, const std::string& device, const std::string& extension) {
    return toolSample("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=" + device +
                          " -sOutputFile=\"$OUT\" -c '/Helvetica findfont 20 scalefont setfont 72 700 moveto (Page " +
                          std::to_string(which) + ") show showpage'",
                      extension);
}

std::string script(unsigned which, const std::string& line) {
    std::string text = line + "\n";
    for (unsigned i = 0; i < 20 + which * 9; ++i)
        text += "echo \"step " + std::to_string(i) + " of the job\"\n";
    return text;
}

struct Made {
    const char* name;
    const char* extension;
    std::string (*make)(unsigned which);
    // The tools needed beyond those every case has.
    const char* tool = nullptr;
    // Measured to its last byte; a script's text runs on where the medium's next bytes read as text.
    bool exact = true;
};

void PrintTo(const Made& m, std::ostream* out) {
    *out << m.name;
}

const Made kMade[] = {
    {"GnuTar", "tar", [](unsigned which) { return tar(which, "gnu"); }},
    {"PosixTar", "tar", [](unsigned which) { return tar(which, "posix"); }},
    {"Mxf", "mxf",
     [](unsigned which) {
         return toolSample(kFfmpeg + "-f lavfi -i " +
                               sampleVideo("size=320x240:rate=25:duration=" + std::to_string(3 + which)) +
                               " -f mxf \"$OUT\"",
                           "mxf");
     }},
    // 16 frames of 144,000 bytes: the second film begins at the sector after the first's last byte.
    {"Dv", "dv",
     [](unsigned which) {
         return toolSample(kFfmpeg + "-f lavfi -i " +
                               sampleVideo("size=720x576:rate=25:duration=0." + std::to_string(64 + 8 * which)) +
                               " -f lavfi -i sine=frequency=" + sampleTone(440 + which) +
                               ":duration=1 -shortest -target pal-dv \"$OUT\"",
                           "dv");
     }},
    {"Dts", "dts",
     [](unsigned which) {
         return toolSample(kFfmpeg + "-f lavfi -i sine=frequency=" + sampleTone(330 + 50 * which) + ":duration=" +
                               std::to_string(2 + which) + " -ar 48000 -c:a dca -strict -2 -f dts \"$OUT\"",
                           "dts");
     }},
    {"DynamicVhd", "vhd",
     [](unsigned which) {
         return toolSample("seq " + std::to_string(which + 1) +
                               " 300000 >\"$OUT.raw\" && truncate -s 5M \"$OUT.raw\" "
                               "&& printf end >>\"$OUT.raw\" && qemu-img convert -f "
                               "raw -O vpc \"$OUT.raw\" \"$OUT\"",
                           "vhd");
     },
     "qemu-img"},
    {"DocxFromLibreOffice", "docx", [](unsigned which) { return office(which, "docx"); }, "soffice"},
    {"OdtFromLibreOffice", "odt", [](unsigned which) { return office(which, "odt"); }, "soffice"},
    {"PostScript", "ps", [](unsigned which) { return postScript(which, "ps2write", "ps"); }},
    {"Eps", "eps", [](unsigned which) { return postScript(which, "eps2write", "eps"); }},
    {"BashScript", "sh", [](unsigned which) { return script(which, "#!/bin/bash"); }, nullptr, false},
    {"ShScriptWithABlank", "sh", [](unsigned which) { return script(which, "#! /bin/sh"); }, nullptr, false},
    {"EnvScript", "sh", [](unsigned which) { return script(which, "#!/usr/bin/env python3 -u"); }, nullptr, false},
};

std::uint64_t sectorsOf(const std::string& bytes) {
    return (bytes.size() + 511) / 512;
}

class RepeatedHeaderSearchTest : public testsupport::ScanFixture {};

class ToolFileTest : public RepeatedHeaderSearchTest, public testing::WithParamInterface<Made> {};

// The first file alone among random bytes, then again with a second one right after it, at the sector after its
// end: each is listed once, at its first sector, under its own type, whole, and nothing begins inside it.
TEST_P(ToolFileTest, IsListedOnceAtItsFirstSectorUnderItsOwnTypeAndTheNextOneToo) {
    const Made& made = GetParam();
    for (const char* tool : {"ffmpeg", "gs", "tar", made.tool})
        if (tool && !testsupport::haveTool(tool)) GTEST_SKIP() << tool << " is missing (./dev.sh installs it)";
    const std::string first = made.make(0), second = made.make(1);
    ASSERT_FALSE(first.empty() || second.empty());
    ASSERT_NE(first, second);
    const std::uint64_t alone = 2048, pair = alone + sectorsOf(first) + 40, next = pair + sectorsOf(first);
    const fs::path image = testsupport::filledImage(true, "repeated-header", (next + sectorsOf(second) + 2048) * 512);
    for (const auto& [at, bytes] : {std::pair{alone, &first}, {pair, &first}, {next, &second}})
        testsupport::writeAt(image, at * 512, {bytes->begin(), bytes->end()});
    const auto found = searchedDisk(image, everyType(), 0);
    for (const auto& [at, bytes] : {std::pair{alone, &first}, {pair, &first}, {next, &second}}) {
        SCOPED_TRACE("the file at sector " + std::to_string(at));
        ASSERT_EQ(found.count(at), 1u);
        const testsupport::SearchedFile& file = found.find(at)->second;
        EXPECT_TRUE(file.path.starts_with(std::string(made.extension) + " files/")) << file.path;
        EXPECT_FALSE(file.bad);
        if (made.exact) {
            EXPECT_TRUE(file.bytes == *bytes) << file.bytes.size() << " bytes of " << bytes->size();
        } else {
            EXPECT_TRUE(file.bytes.starts_with(*bytes)) << file.bytes.size() << " bytes of " << bytes->size();
        }
        for (auto inside = found.upper_bound(at); inside != found.end() && inside->first < at + sectorsOf(*bytes);
             ++inside)
            ADD_FAILURE() << inside->second.path << " at sector " << inside->first;
    }
}

INSTANTIATE_TEST_SUITE_P(AmongRandomBytes, ToolFileTest, testing::ValuesIn(kMade),
                         [](const auto& info) { return std::string(info.param.name); });

// A keyed random stream of 64 MiB, searched for every type: about nine of its sectors begin "#!", and a few hundred
// with the first bytes of one of the other new recognisers' headers, but none of those types is listed.
TEST_F(RepeatedHeaderSearchTest, RandomBytesHoldNoScriptAndNoneOfTheTypesMeasuredByTheirStructure) {
    const fs::path image = testsupport::filledImage(true, "no-script", 64 << 20);
    const std::set<std::string> types{"tar", "dv", "dts", "mxf", "vhd", "ps", "eps", "pfa", "sh", "docx", "odt"};
    for (const auto& [at, file] : searchedDisk(image, everyType(), 0))
        EXPECT_FALSE(types.count(file.path.substr(0, file.path.find(' ')))) << file.path << " at sector " << at;
}

// A Word document that LibreOffice wrote (its content types last) is found with Word documents alone marked, and an
// OpenDocument text with its own type alone; the photo scans find an EPS picture in text as they find a binary one.
TEST_F(RepeatedHeaderSearchTest, OfficeFilesAreFoundByTheirOwnTypeAloneAndTheCarvingFindsAnEpsInText) {
    if (!testsupport::haveTool("soffice")) GTEST_SKIP() << "soffice is missing (./dev.sh installs it)";
    const fs::path table = DRENTIC_FILE_TYPE_TABLE;
    for (const auto& [extension, bytes, method] : {std::tuple{"docx", office(2, "docx"), 0},
                                                   {"odt", office(3, "odt"), 0},
                                                   {"eps", postScript(4, "eps2write", "eps"), 1}}) {
        SCOPED_TRACE(extension);
        const fs::path image = testsupport::filledImage(true, "own-type-alone", 4 << 20);
        testsupport::writeAt(image, 1000 * 512, {bytes.begin(), bytes.end()});
        const auto types =
            method == 0 ? testsupport::fileListTypes(table, {extension}) : testsupport::markedTypes(table, {extension});
        const auto found = searchedDisk(image, types, method);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found.begin()->first, 1000u);
        EXPECT_EQ(found.begin()->second.bytes, bytes);
    }
}

// A type of the user's own, at 1 MB a file: a file whose first 64 bytes stand again at three of its sectors, another
// file of the type inside the span listed for it, a copy of its whole first sector there, and a copy of the first's
// header past that span. The copies of the header inside the span are not files; the other file, the whole copy and
// the copy past the span are. A search resumed before the first file
// finds it again and knows its copies; one resumed inside it does not know it and lists the first copy it meets, as
// the search did before, whose own copies then follow it.
TEST_F(RepeatedHeaderSearchTest, AHeaderCopyInsideTheSpanListedForAFileOfAnUncheckedTypeIsNoFile) {
    Sig own;
    own.software = "Repeating format";
    own.extension = "rep";
    own.headerLength = 8;
    own.header = 0x5245504845414431; // "REPHEAD1"
    own.defaultSize = 1;
    auto node = std::make_shared<SigNode>();
    node->fileTypeSigNode = SigNode::FileType;
    node->setSig(own);
    const auto head = [](char fill) { return "REPHEAD1" + std::string(56, fill); };
    const std::uint64_t file = 100, other = file + 300, past = file + 2048 + 50;
    const fs::path image = testsupport::filledImage(true, "header-copies", 4 << 20);
    std::map<std::uint64_t, std::string> written{{file, head('a')}, {other, head('b')}, {past, head('a')}};
    for (const std::uint64_t copy : {file + 16, file + 32, file + 48})
        written[copy] = head('a');
    for (const auto& [sector, bytes] : written)
        testsupport::writeAt(image, sector * 512, {bytes.begin(), bytes.end()});
    // A copy of the whole first sector is a copy of the file (the same photo saved twice), and a file.
    const std::uint64_t twin = file + 100;
    testsupport::writeAt(image, twin * 512, testsupport::readBytesAt(image, file * 512, 512));

    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    v->createRoot();
    SignatureSearchState search;
    search.sigArray.emplace_back(node);
    SignatureGroups::populateBTreeSigArray(search);
    AutoRecoveryAppend pair;
    const auto listed = [&] {
        std::set<std::uint64_t> starts;
        for (const auto& [path, n] : testsupport::nodesByPath(v->dirRoot))
            if (!n->isFolder()) starts.insert(testsupport::firstSector(*n));
        return starts;
    };
    PlainSignatureSearch(*v, search, pair).signatureSearchDiskStartAt(0);
    const std::set<std::uint64_t> files{file, twin, other, past};
    EXPECT_EQ(listed(), files);
    v->autoCrashRecovery = true;
    PlainSignatureSearch(*v, search, pair).signatureSearchDiskStartAt(file - 10);
    EXPECT_EQ(listed(), files);
    PlainSignatureSearch(*v, search, pair).signatureSearchDiskStartAt(file + 8);
    EXPECT_EQ(listed(), (std::set<std::uint64_t>{file, file + 16, twin, other, past}));
}

} // namespace
