#include "scan/ScanThread.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

// Archives and documents as today's tools write them, measured by their end records, and a WebP by its RIFF header,
// each at sector 2048 of a disk of zeros or random bytes: whole, with a file after it; cut after 30 sectors by a
// photo; cut after 30 sectors by a whole file of its kind, a photo after that. The plain search and the carving each
// list a whole one exactly and unmarked, a cut one marked "Bad" and no longer than the file it was cut from, and the
// files after it whole at their sectors.

namespace fs = std::filesystem;
using testsupport::sampleSeed;
using testsupport::toolSample;

namespace {

constexpr std::uint64_t kFirst = 2048;
constexpr std::uint64_t kCutSectors = 30;

std::string plasma(unsigned seed, const std::string& size) {
    return "MAGICK_THREAD_LIMIT=1 convert -seed " + sampleSeed(seed) + " -size " + size + " plasma: ";
}

// Writes of a text or a table of the variant's numbers that LibreOffice converts to a file of `extension`.
std::string office(unsigned which, const std::string& source, const std::string& extension) {
    const std::string numbers =
        "seq " + std::to_string(1 + std::stoul(sampleSeed(which)) % 7) + " 3 " + std::to_string(30000 + 3000 * which);
    return "mkdir -p \"$OUT.d\" && cd \"$OUT.d\" && " +
           (source == "csv" ? numbers + " | awk '{print $1\",\"$1*7\",\"$1%13}' >in.csv" : numbers + " >in.txt") +
           " && soffice -env:UserInstallation=file://$PWD/lo --headless --convert-to " + extension + " in." + source +
           " >/dev/null 2>&1 && mv in." + extension + " \"$OUT\"";
}

// A page of a photo that ghostscript writes as PDF, with the options given.
std::string photoPdf(unsigned which, const std::string& options) {
    return plasma(60 + which, "400x300") + "\"$OUT.jpg\" && gs -q --permit-file-read=\"$OUT.jpg\" -sDEVICE=pdfwrite " +
           options + " -o \"$OUT\" viewjpeg.ps -c \"($OUT.jpg) viewJPEG showpage\"";
}

// The archive that `archive` writes to "$OUT" as a self-extracting archive holds it: written after 32 KiB of other
// bytes and adjusted by `zip -A`, so that its offsets count those bytes. Its own part, from the sector it starts on,
// which Python's zipfile opens whole.
std::string withOffsetsCountingThe32KiBBeforeIt(const std::string& archive) {
    return archive + " && mv \"$OUT\" \"$OUT.zip\" && yes 'A program before the archive.' | head -c 32768 " +
           ">\"$OUT.sfx\" && cat \"$OUT.zip\" >>\"$OUT.sfx\" && zip -q -A \"$OUT.sfx\" && tail -c +32769 "
           "\"$OUT.sfx\" " +
           ">\"$OUT\" && ! cmp -s \"$OUT\" \"$OUT.zip\" && python3 -c 'import sys, zipfile; " +
           "sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)' \"$OUT\"";
}

// A folder of a photo and a text as `zip -X` writes it.
std::string zipOfAFolder(unsigned which) {
    return "mkdir -p \"$OUT.d\" && " + plasma(50 + which, "320x240") + "\"$OUT.d/photo.jpg\" && seq " +
           std::to_string(which) + " 9 20000 >\"$OUT.d/notes.txt\" && (cd \"$OUT.d\" && zip -q -r -X \"$OUT\" .)";
}

// A document in Word's order: the content types first, which the document's own row finds.
std::string docxInWordsOrder(unsigned which) {
    return "(" + office(which, "txt", "docx") + " && mkdir p && cd p && unzip -q \"$OUT\" && rm \"$OUT\" && " +
           "zip -q -X -nw \"$OUT\" '[Content_Types].xml' $(find . -type f ! -name '*Content_Types*' | cut -c3-))";
}

struct Case {
    const char* name;
    // The type marked; the photos' and the follower's too.
    const char* extension;
    // Two files of the kind.
    std::string (*make)(unsigned which);
    // What follows a whole one.
    const char* follower = "jpg";
    // Whether a walk can tell the file cut: a WebP's chunks hold nothing of it past its header.
    bool cut = true;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const Case kCases[] = {
    {"ZipOfAFolder", "zip", [](unsigned which) { return toolSample(zipOfAFolder(which), "zip"); }},
    {"DocxInWordsOrder", "docx", [](unsigned which) { return toolSample(docxInWordsOrder(which), "docx"); }},
    {"ZipWithOffsetsCountingTheBytesBeforeIt", "zip",
     [](unsigned which) { return toolSample(withOffsetsCountingThe32KiBBeforeIt(zipOfAFolder(which)), "zip"); }},
    {"DocxWithOffsetsCountingTheBytesBeforeIt", "docx",
     [](unsigned which) { return toolSample(withOffsetsCountingThe32KiBBeforeIt(docxInWordsOrder(which)), "docx"); }},
    {"OdtFromLibreOffice", "odt", [](unsigned which) { return toolSample(office(which, "txt", "odt"), "odt"); }},
    {"XlsxFromLibreOffice", "zip", [](unsigned which) { return toolSample(office(which, "csv", "xlsx"), "xlsx"); }},
    {"PdfFromLibreOffice", "pdf", [](unsigned which) { return toolSample(office(which, "txt", "pdf"), "pdf"); }},
    {"PdfOfAPhotoFromGhostscript", "pdf", [](unsigned which) { return toolSample(photoPdf(which, ""), "pdf"); }},
    {"PdfWithAnIncrementalUpdate", "pdf",
     [](unsigned which) {
         return toolSample(photoPdf(which, "") + " && exiftool -q -overwrite_original -Title=Updated \"$OUT\"", "pdf");
     }},
    {"LinearizedPdf", "pdf", [](unsigned which) { return toolSample(photoPdf(which, "-dFastWebView"), "pdf"); }},
    {"WebpBeforeATiff", "webp",
     [](unsigned which) { return toolSample(plasma(55 + which, "400x300") + "\"$OUT\"", "webp"); }, "tif", false},
};

enum class Layout { Whole, CutByAPhoto, CutByItsKind };

struct Planted {
    std::string bytes;
    std::uint64_t sector = 0;
    std::uint64_t end() const { return sector + (bytes.size() + 511) / 512; }
};

class EndRecordLengthsTest : public testsupport::ScanFixture,
                             public testing::WithParamInterface<std::tuple<Case, bool>> {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "soffice", "gs", "zip", "unzip", "exiftool", "python3"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
    }
    static inline std::string missing_;
};

std::string described(const std::multimap<std::uint64_t, testsupport::SearchedFile>& found, std::uint64_t sector) {
    const auto [from, to] = found.equal_range(sector);
    std::string there;
    for (auto it = from; it != to; ++it)
        there += " " + std::to_string(it->second.bytes.size()) + (it->second.bad ? " (Bad)" : "");
    return there.empty() ? " nothing" : there;
}

TEST_P(EndRecordLengthsTest, AWholeFileIsListedExactlyACutOneBadAndTheFilesAfterItWhole) {
    const auto& [c, random] = GetParam();
    const std::string file = c.make(0), other = c.make(1);
    if (c.cut) {
        ASSERT_GT(file.size(), kCutSectors * 512);
    }
    for (const Layout layout : {Layout::Whole, Layout::CutByAPhoto, Layout::CutByItsKind}) {
        if (layout != Layout::Whole && !c.cut) continue;
        SCOPED_TRACE(layout == Layout::Whole         ? "whole"
                     : layout == Layout::CutByAPhoto ? "cut by a photo"
                                                     : "cut by a file of its kind");
        const Planted planted{layout == Layout::Whole ? file : file.substr(0, kCutSectors * 512), kFirst};
        std::vector<Planted> after;
        if (layout == Layout::CutByItsKind) after.push_back({other, planted.end()});
        const std::string follower = layout == Layout::Whole && c.follower != std::string("jpg")
                                         ? toolSample(plasma(65, "300x200") + "\"$OUT\"", c.follower)
                                         : toolSample(plasma(66, "640x480") + "\"$OUT\"", "jpg");
        after.push_back({follower, after.empty() ? planted.end() : after.back().end() + 3});
        const fs::path image = testsupport::filledImage(random, "end-records");
        testsupport::writeAt(image, planted.sector * 512, {planted.bytes.begin(), planted.bytes.end()});
        for (const Planted& p : after)
            testsupport::writeAt(image, p.sector * 512, {p.bytes.begin(), p.bytes.end()});

        const std::set<std::string> types{c.extension, c.follower, "jpg"};
        for (const int method : {0, 1}) {
            SCOPED_TRACE(method == 0 ? "the plain search" : "the carving");
            const auto found = searchedDisk(image,
                                            method == 0 ? testsupport::fileListTypes(DRENTIC_FILE_TYPE_TABLE, types)
                                                        : testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, types),
                                            method);
            const auto [from, to] = found.equal_range(kFirst);
            EXPECT_TRUE(std::any_of(from, to,
                                    [&](const auto& f) {
                                        const testsupport::SearchedFile& s = f.second;
                                        return layout == Layout::Whole
                                                   ? s.bytes == file && !s.bad
                                                   : s.bad && !s.bytes.empty() && s.bytes.size() <= file.size();
                                    }))
                << "the " << (layout == Layout::Whole ? "whole" : "cut") << " file of " << planted.bytes.size()
                << " bytes at sector " << kFirst << (layout == Layout::Whole ? "" : " Bad")
                << "; found there:" << described(found, kFirst);
            for (const Planted& p : after) {
                const auto [next, last] = found.equal_range(p.sector);
                // The photo is measured as its type is, up to its margin; the file of the document's kind exactly.
                const bool exact = &p != &after.back();
                EXPECT_TRUE(std::any_of(next, last,
                                        [&](const auto& f) {
                                            return !f.second.bad && (exact ? f.second.bytes == p.bytes
                                                                           : f.second.bytes.starts_with(p.bytes));
                                        }))
                    << "the file of " << p.bytes.size() << " bytes at sector " << p.sector
                    << " whole; found there:" << described(found, p.sector);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, EndRecordLengthsTest,
                         testing::Combine(testing::ValuesIn(kCases), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

} // namespace
