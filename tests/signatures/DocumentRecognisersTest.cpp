#include "RecogniserFixture.h"
#include "platform/ByteView.h"
#include "signatures/RtfGraphics.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <map>

using namespace testsupport;
using namespace std::string_literals;
using DocumentRecognisersTest = RecogniserFixture;

namespace {
// The samples at their sectors of one image, 64 zero sectors after the last.
std::filesystem::path imageOf(const std::map<std::uint64_t, std::string>& samples) {
    std::string disk;
    for (const auto& [sector, bytes] : samples)
        disk.resize(sector * 512), disk += bytes;
    return imageWith(disk, 0);
}
// A document section: `before`, a cross-reference table of `entries` with its trailer, and the "startxref" line
// naming the table's offset, then `marker`.
std::string withXref(const std::string& before, const std::string& entries, const std::string& marker) {
    return before + "xref\n" + entries + "\ntrailer\n<<>>\nstartxref\n" + std::to_string(before.size()) + marker;
}
// A RAR block head: CRC, type, flags, header size (all little-endian).
std::string rarBlock(int type, int flags, int headerSize) {
    return "\0\0"s + char(type) + char(flags) + char(flags >> 8) + char(headerSize) + char(headerSize >> 8);
}
} // namespace

TEST_F(DocumentRecognisersTest, ZipEndsAfterItsEndRecordPdfAfterItsEofMarkerOrBothAreBadAsFarAsTheirWalksRead) {
    const std::string make = "cd \"$(dirname \"$OUT\")\" && echo text >t.txt && ";
    const auto zip = toolSample(make + "zip -q \"$OUT\" t.txt", "zip");
    const auto commented = toolSample(make + "echo a note | zip -q -z \"$OUT\" t.txt", "zip");
    const auto pdf = toolSample("gs -q -sDEVICE=pdfwrite -o \"$OUT\" -c showpage", "pdf");
    Volume& volume = volumeOver(imageOf({{7, zip}, {20, commented}, {40, pdf}}));
    for (const auto& [sector, size, extension] :
         {std::tuple{7, zip.size(), "zip"}, {20, commented.size(), "zip"}, {40, pdf.size(), "pdf"}}) {
        // An archive's records lead from one to the next, and it is jumped over; nothing ties a document's
        // end-of-file marker to its first sectors, and the search looks at them again.
        Sig sig = sigOf(extension == "zip"s ? 21 : 24, extension, 200);
        const std::uint64_t jumped = extension == "zip"s ? size / 512 : 0;
        EXPECT_EQ(recognise(volume, sig, sector), (Verdict{true, size, jumped, true, extension})) << sector;
    }
    // Ending in the volume's last sector, each is still found whole.
    for (const auto& [bytes, type] : {std::pair{zip, 21}, {pdf, 24}})
        EXPECT_EQ(recogniseBytes(bytes, sigOf(type, "x", 200), 0).foundSize, bytes.size()) << type;
    // A line end before the marker, in the window before.
    const std::string table = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \ntrailer\n<<>>\n", named = "startxref\n9\n";
    const std::string straddling =
        table + std::string(63 * 512 - 1 - table.size() - named.size(), ' ') + named + "%%EOF";
    EXPECT_EQ(recogniseBytes(straddling, sigOf(24, "pdf", 1)), (Verdict{true, 63 * 512 + 4, 0, true, "pdf"}));
    // An update appended to a document ends it after its own marker and line break; what follows a marker that is
    // no object or table is not the document's.
    const std::string first = withXref("%PDF-1.4\n1 0 obj\n<<>>\nendobj\n", "0 2", "\n%%EOF\r\n");
    const auto update = [](const std::string& before) {
        return withXref(before + "2 0 obj\n<<>>\nendobj\n", "2 1", "\n%%EOF\r");
    };
    EXPECT_EQ(recogniseBytes(update(first) + "\n7 words", sigOf(24, "pdf", 1)).foundSize, update(first).size() + 1);
    EXPECT_EQ(recogniseBytes(first + "words\n%%EOF\n", sigOf(24, "pdf", 1)).foundSize, first.size());
    // A comment line may open an update; one naming the format's version begins another document.
    const std::string marked = update(first + "%BeginExifToolUpdate\r\n");
    EXPECT_EQ(recogniseBytes(marked, sigOf(24, "pdf", 1)).foundSize, marked.size());
    const std::string next = update("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    EXPECT_EQ(recogniseBytes(first + next, sigOf(24, "pdf", 1)).foundSize, first.size());
    // Without an end record (a "%EOF" after one percent sign is none), the records or objects read: marked, and
    // not jumped over. The header's zero sizes lead the archive to its byte 30, where no record begins; the document
    // holds no object, and is listed to its first sector.
    for (const auto& [type, header, length] :
         {std::tuple{21, "PK\x03\x04", std::uint64_t{30}}, {24, "%PDF-1.4\n%EOF", std::uint64_t{512}}}) {
        EXPECT_EQ(recogniseBytes(header, sigOf(type, "x", 1)), (Verdict{true, length, 0, false, "x", true}));
        EXPECT_EQ(recogniseBytes(header, sigOf(type, "x", 1), 4096), (Verdict{true, length, 0, false, "x", true}));
    }
}

// What ties an end record to the file's first sector: an archive's records lead to its central directory, which
// the end record names, and a document's "startxref" names the cross-reference section before its marker, counted
// from the document's first byte. An archive whose records lead into another's (its first record, then another
// archive at the record's end) is marked Bad as far as its own records go; a document whose marker's "startxref"
// names no section is marked Bad as far as its objects go. A block between the last local record and the central
// directory (an Android package's signing block) cuts nothing when the end record counts the records walked and its
// directory ends at it.
TEST_F(DocumentRecognisersTest, AnEndRecordIsTheFilesWhenItNamesTheFilesOwnRecords) {
    const std::string make =
        "cd \"$(dirname \"$OUT\")\" && seq 1 500 >a.txt && seq 7 900 >b.txt && zip -q -X \"$OUT\" ";
    const std::string zip = toolSample(make + "a.txt b.txt", "zip"), other = toolSample(make + "b.txt", "zip");
    const auto le = [](const std::string& bytes, std::size_t at, int width) {
        std::uint64_t v = 0;
        for (int i = width - 1; i >= 0; --i)
            v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
        return v;
    };
    const std::size_t firstRecord = 30 + le(zip, 26, 2) + le(zip, 28, 2) + le(zip, 18, 4);
    EXPECT_EQ(recogniseBytes(zip.substr(0, firstRecord) + other, sigOf(21, "zip", 200)),
              (Verdict{true, firstRecord, 0, false, "zip", true}));
    const std::size_t endRecord = zip.rfind("PK\x05\x06"), central = le(zip, endRecord + 16, 4);
    const std::string block =
        std::string(8, '\x18') + std::string(8, '\0') + std::string(8, '\x18') + "APK Sig Block 42";
    std::string signed_ = zip.substr(0, central) + block + zip.substr(central);
    EXPECT_EQ(recogniseBytes(signed_, sigOf(21, "zip", 200)).foundCut, true);
    std::vector<std::uint8_t> offset(4);
    testsupport::putLE(offset, 0, central + block.size(), 4);
    signed_.replace(endRecord + block.size() + 16, 4, std::string(offset.begin(), offset.end()));
    const Verdict whole = recogniseBytes(signed_, sigOf(21, "zip", 200));
    EXPECT_EQ(whole.foundSize, signed_.size());
    EXPECT_FALSE(whole.foundCut);

    const std::string page = "gs -q -sDEVICE=pdfwrite -o \"$OUT\" -c '/Helvetica findfont 20 scalefont setfont 72 700 "
                             "moveto (One) show showpage 72 700 moveto (Two) show showpage' ";
    const std::string pdf = toolSample(page, "pdf");
    for (const std::string& whole : {pdf, toolSample(page + "-dFastWebView", "pdf"),
                                     toolSample(page + "&& exiftool -q -overwrite_original -Title=T \"$OUT\"", "pdf")})
        EXPECT_EQ(recogniseBytes(whole, sigOf(24, "pdf", 200)), (Verdict{true, whole.size(), 0, true, "pdf"}));
    const std::size_t number = pdf.rfind("startxref") + 10;
    const std::string misnamed = pdf.substr(0, number) + "1" + pdf.substr(pdf.find_first_not_of("0123456789", number));
    const Verdict cut = recogniseBytes(misnamed, sigOf(24, "pdf", 200));
    EXPECT_TRUE(cut.foundCut);
    EXPECT_EQ(cut.foundSize, misnamed.rfind("endobj") + 6);
}

// The type comes from the directory's first four entries: LibreOffice writes
// WordDocument as the sixth, so its .doc is taken for a presentation. The
// length is what the FAT sectors can map, and the header.
TEST_F(DocumentRecognisersTest, CompoundDocumentsAreNamedByTheirFirstDirectoryEntriesAndMeasuredByTheirFat) {
    if (!haveTool("soffice")) GTEST_SKIP() << "soffice is missing (./dev.sh installs it)";
    const auto samples = makeTempDir("office");
    ASSERT_TRUE(
        runCommand("cd " + shellQuote(samples.string()) + R"( && printf 'text\n' >w.txt && printf 'a,1\n' >c.csv &&
 echo '<?xml version="1.0"?><office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation/></office:body>
 </office:document>' >p.fodp && for c in 'doc w.txt' 'xls c.csv' 'ppt p.fodp' 'rtf w.txt'; do
 soffice -env:UserInstallation=file://$PWD/lo --headless --convert-to $c >/dev/null 2>&1; done)"));
    const std::string byteBuilt = std::string(44, '\0') + "\1\0\0\0\0\0\0\0"s + std::string(460, '\0') +
                                  "R\0o\0o\0t\0"s + std::string(120, '\0') + "W\0o\0r\0d\0D\0o\0c\0"s;
    const auto office = [&](const char* name) { return readText(samples / name); };
    const std::map<std::uint64_t, std::string> files = {
        {7, office("w.doc")}, {100, office("c.xls")}, {200, office("p.ppt")}, {1200, byteBuilt}};
    Volume& volume = volumeOver(imageOf(files));
    for (const auto& [sector, extension] : {std::pair{7, "ppt"}, {100, "xls"}, {200, "ppt"}, {1200, "doc"}}) {
        const std::string& file = files.at(sector);
        const platform::ByteView header(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
        Sig sig = sigOf(30, "doc", 200);
        const Verdict verdict = recognise(volume, sig, sector);
        EXPECT_EQ(verdict, (Verdict{true, (header.le32(44) * 128ull + 1) * 512, 0, false, extension})) << sector;
        EXPECT_GE(verdict.foundSize, file.size()) << sector;
    }
    // An RTF ends with its closing brace.
    const std::string rtf = office("w.rtf");
    EXPECT_EQ(recogniseBytes(rtf, sigOf(25, "rtf", 50)), (Verdict{true, rtf.rfind('}') + 1, 0, false, "rtf"}));
}

// RAR to the end of its end block; MRW: the MRM block and its 8-byte head,
// then height x width pixels of 12 bits.
TEST_F(DocumentRecognisersTest, RarWalksItsBlocksAndStopsWhereABlockDoesNotAdvanceMrwIsMeasuredFromItsHeader) {
    const std::string marker = "Rar!\x1A\x07\0"s, archive = rarBlock(0x73, 0, 13) + std::string(6, '\0');
    const std::string file = rarBlock(0x74, 0x8000, 32) + "\xBC\x02\0\0"s + std::string(21 + 700, 'd');
    const std::string rar = marker + archive + file + rarBlock(0x7B, 0x4000, 7);
    EXPECT_EQ(recogniseBytes(rar, sigOf(23, "rar")), (Verdict{true, rar.size(), 1, true, "rar"}));
    // Header size 0, short and long: the walk ends where it stands.
    EXPECT_EQ(recogniseBytes(marker + rarBlock(0x73, 0, 0), sigOf(23, "rar")), (Verdict{true, 7, 0, true, "rar"}));
    EXPECT_EQ(recogniseBytes(marker + archive + rarBlock(0x74, 0x8000, 0) + "\0\0\0\0"s, sigOf(23, "rar")),
              (Verdict{true, 20, 0, true, "rar"}));
    EXPECT_FALSE(recogniseBytes(marker + archive + rarBlock(0x50, 0, 7), sigOf(23, "rar")).accepted);
    const std::string mrw = "\0MRM\0\0\x03\xE8\0PRD"s + std::string(12, '\0') + "\0\x03\0\x05\0\0\0\0\x0C"s;
    EXPECT_EQ(recogniseBytes(mrw, sigOf(11, "mrw")), (Verdict{true, 1000 + 8 + 23, 0, false, "mrw"}));
}

// Two-byte headers are followed up: compress's flags and first codes, ARJ's
// header CRC (its files and end header measure it), a program's PE header
// (its sections and certificates measure it).
TEST_F(DocumentRecognisersTest, CompressArjAndProgramsAreTestedPastTheirTwoByteHeaders) {
    const std::string python = "python3 -c 'import struct, sys, zlib\n"
                               "def h(b): return b\"\\x60\\xea\" + struct.pack(\"<H\", len(b)) + b + "
                               "struct.pack(\"<I\", zlib.crc32(b)) + bytes(2)\n";
    const auto arj = toolSample(python + "f = bytes([30, 11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5]) + bytes(25)\n"
                                         "open(sys.argv[1], \"wb\").write(h(bytes(40)) + h(f) + b\"hello\" + "
                                         "bytes([0x60, 0xea, 0, 0]))' \"$OUT\"",
                                "arj");
    EXPECT_EQ(recogniseBytes(arj, sigOf(52)).foundSize, arj.size());
    EXPECT_FALSE(recogniseBytes(arj.substr(0, 10) + 'x' + arj.substr(11), sigOf(52)).accepted);
    const auto exe = toolSample(python + "d = bytearray(0x600); d[0:2] = b\"MZ\"; d[0x3C] = 0x80; "
                                         "d[0x80:0x84] = b\"PE\\0\\0\"; d[0x86] = 1; d[0x94] = 0xE0; "
                                         "d[0x98:0x9A] = b\"\\x0b\\x01\"; d[0xF4] = 16; d[0x118:0x120] = "
                                         "struct.pack(\"<II\", 0x600, 0x80); d[0x188:0x190] = struct.pack(\"<II\", "
                                         "0x200, 0x300)\nopen(sys.argv[1], \"wb\").write(d)' \"$OUT\"",
                                "exe");
    EXPECT_EQ(recogniseBytes(exe, sigOf(53)).foundSize, 0x680u);
    EXPECT_FALSE(recogniseBytes("MZ" + std::string(1022, '\0'), sigOf(53)).accepted);
    EXPECT_FALSE(recogniseBytes("\x1F\x9D\xB0\x61\x02\x02"s, sigOf(51)).accepted);
    EXPECT_FALSE(recogniseBytes("\x1F\x9D\x90\x61\x03\x02"s, sigOf(51)).accepted);
    if (!haveTool("compress")) GTEST_SKIP() << "compress is missing (./dev.sh installs it)";
    for (const char* text : {"seq 1 2000", "printf 'the text, the text, the text\\n'"})
        EXPECT_EQ(recogniseBytes(toolSample("{ "s + text + " | compress -c >\"$OUT\"; }", "Z"), sigOf(51, "z")),
                  (Verdict{true, 0, 0, false, "z"}));
}

// Text without a NUL is read to the size limit, or to 16 MiB without one.
TEST_F(DocumentRecognisersTest, RtfListsEachSupportedPictureOnceSkipsMalformedOnesAndReadsToTheNulOrTheLimit) {
    const std::string picture = "{{\\NeXTGraphic a.tiff \\width2880 \\height1440\n}\xAC}";
    const std::string rtf = "{\\rtf1 " + picture + picture + "{{\\nextgraphic b.pdf \\width20 \\height20\n}}" +
                            "{{\\NeXTGraphic c.png \\width40\n}}{{\\NeXTGraphic d.png \\widthX \\height9\n}}}";
    Volume& volume = volumeOver(imageWith(rtf + "\ntrailing", kSector));
    SignatureSearchState& search = searchOf(volume);
    search.rtfdArray = {platform::Value("left from another document")};
    Sig sig = sigOf(25, "rtf", 50);
    EXPECT_EQ(recognise(volume, sig), (Verdict{true, rtf.size(), 1, false, "rtf"}));
    EXPECT_EQ(search.rtfdArray, (platform::Array{platform::Dict{{"RTF Graphics Object Filename", "a.tiff"},
                                                                {"RTF Graphics Object Width", 144},
                                                                {"RTF Graphics Object Height", 72}}}));
    EXPECT_TRUE(search.lookForRtfAttachments);
    // A plain document while those pictures are still expected is no package.
    const std::string plain = "{\\rtf1 plain}";
    Volume& later = volumeOver(imageWith(plain, kSector));
    searchOf(later).rtfdArray = search.rtfdArray;
    EXPECT_EQ(recognise(later, sig), (Verdict{true, plain.size(), 0, false, "rtf"}));
    const std::string run(17 << 20, 'a');
    EXPECT_EQ(recogniseBytes(run, sigOf(25, "rtf", 1), 0).foundSize, 1u << 20);
    EXPECT_EQ(recogniseBytes(run, sigOf(25, "rtf"), 0).foundSize, 16u << 20);
    EXPECT_FALSE(recogniseBytes("\0{\\rtf1}"s, sigOf(25, "rtf")).accepted);
}

TEST(RtfGraphics, PicturesMapToTheTypesThatFindThem) {
    for (const auto& [extension, type] : std::map<std::string, std::optional<std::string>>{
             {"JPEG", "jpg"}, {"Tiff", "tif"}, {"PNG", "png"}, {"TIF2", std::nullopt}, {"jpeg2", std::nullopt}})
        EXPECT_EQ(RtfGraphics::standardSigExtensionForExtension(extension), type) << extension;
    for (const auto& [extension, supported] : {std::pair{"Jpeg", true}, {"jPeg", false}, {"pdf", false}})
        EXPECT_EQ(RtfGraphics::isSupportedRTFGraphic(extension), supported) << extension;
}

// An archive is named by the document it holds, wherever its entries put the parts that tell it: LibreOffice's Word
// document (its content types last) is taken by the Word row and named "docx" by the archive's own row; an
// OpenDocument text is "odt" by its "mimetype" entry; a workbook, which the list has no row for, stays a ZIP archive
// and is no Word document, nor is a text one.
TEST_F(DocumentRecognisersTest, AnArchiveIsNamedByTheDocumentItHoldsAndARowOfAKindTakesOnlyItsOwn) {
    if (!haveTool("soffice")) GTEST_SKIP() << "soffice is missing (./dev.sh installs it)";
    const std::map<std::string, std::string> documents = {
        {"docx", textDocument("docx")},
        {"odt", textDocument("odt")},
        {"xlsx", toolSample("cd \"$(dirname \"$OUT\")\" && seq 1 300 | sed 's/$/,1/' >t.csv && soffice "
                            "-env:UserInstallation=file://$PWD/lo --headless --convert-to xlsx t.csv && mv t.xlsx "
                            "\"$OUT\"",
                            "xlsx")}};
    ASSERT_TRUE(documents.at("docx").starts_with("PK\x03\x04"));
    // LibreOffice's first entry is not the content types.
    ASSERT_NE(documents.at("docx").substr(30, 19), "[Content_Types].xml");
    for (const auto& [made, bytes] : documents) {
        SCOPED_TRACE(made);
        const std::string named = made == "xlsx" ? "zip" : made;
        EXPECT_EQ(recogniseBytes(bytes, sigOf(21, "zip", 200)),
                  (Verdict{true, bytes.size(), bytes.size() / 512, true, named}));
        for (const char* row : {"docx", "odt"})
            EXPECT_EQ(recogniseBytes(bytes, sigOf(21, row, 200)).accepted, made == row) << row;
    }
    const std::string plain =
        toolSample("cd \"$(dirname \"$OUT\")\" && seq 1 900 >t.txt && zip -q \"$OUT\" t.txt", "zip");
    EXPECT_FALSE(recogniseBytes(plain, sigOf(21, "docx", 200)).accepted);
    EXPECT_EQ(recogniseBytes(plain, sigOf(21, "zip", 200)).extension, "zip");
}
