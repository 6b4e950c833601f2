// The HFS+ image builder checked against readers it does not share code
// with: for every kind of image it makes, The Sleuth Kit (fsstat, fls, istat,
// icat) must read exactly the live entries of its manifest, and where the
// image is a bare volume of 512-byte sectors the normal scan must build the
// same live tree through index levels and extents-overflow records.

#include "support/HFSPlusImageBuilder.h"

#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusVolume.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::HFSFileOptions;
using testsupport::HFSPlusImageOptions;
using Builder = testsupport::HFSPlusImageBuilder;
using Wrapping = HFSPlusImageOptions::Wrapping;

namespace {

constexpr std::uint32_t kRoot = Builder::kRoot;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t seed) {
    return Builder::patternData(size, seed);
}

// A small tree with the usual variety: nesting, an empty file, a resource
// fork, a name outside ASCII, and forks in more than eight extents.
void addVariety(Builder& b) {
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto deep = b.addFolder(docs, "Deep");
    b.addFolder(deep, "Empty");
    b.addFile(docs, "a.txt", pattern(10000, 1));
    b.addFile(deep, "zero", {});
    b.addFile(deep, "with resource", pattern(100, 3), {.resourceFork = pattern(3000, 2)});
    b.addFile(kRoot, u"caf\u00e9 \u65e5\u672c", pattern(777, 4));
    b.addFile(kRoot, "twelve extents", pattern(100000, 5), {.extentCount = 12});
    b.addFile(docs, "twenty extents", pattern(90000, 7),
              {.extentCount = 20, .resourceFork = pattern(40000, 6), .resourceExtentCount = 10});
}

// Enough entries for index levels of 512-byte nodes; in binary order names
// differing only in case are two entries.
void addSmallNodeTree(Builder& b) {
    for (int i = 0; i < 30; ++i)
        b.addFile(b.addFolder(kRoot, "Dir" + std::to_string(i)), "file" + std::to_string(i),
                  pattern(6000 + 13 * i, 100 + i), {.extentCount = 1 + i % 11u});
    b.addFile(kRoot, "Same", pattern(10, 1));
    b.addFile(kRoot, "same", pattern(20, 2));
    b.addFile(kRoot, "many", pattern(40 * 512, 3), {.extentCount = 30});
}

void addManyFiles(Builder& b) {
    for (int d = 0; d < 3; ++d) {
        const auto dir = b.addFolder(kRoot, "Folder " + std::to_string(d));
        for (int f = 0; f < 30; ++f)
            b.addFile(dir, "item-" + std::to_string(f) + ".dat", pattern(f * 37, d * 100 + f));
    }
}

// Journal copies of live and deleted records, which no reader of the live
// catalog may list.
void addJournalTraces(Builder& b) {
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addFile(docs, "kept.txt", pattern(5000, 1));
    b.addJournalCopyOf(docs);
    b.addDeletedFileInJournal(docs, "gone.bin", pattern(60000, 2), 12);
    b.addJournalCopyOf(b.addDeletedFolder(kRoot, "Gone Folder"));
}

const struct ImageKind {
    const char* name;
    HFSPlusImageOptions options;
    void (*fill)(Builder&);
    std::uint32_t minCatalogDepth = 1;
} kKinds[] = {
    {"plain", {.volumeName = "Plain"}, addVariety},
    {"HFSX with 512-byte blocks and nodes",
     {.blockSize = 512, .catalogNodeSize = 512, .extentsNodeSize = 512, .hfsx = true, .volumeName = "Case"},
     addSmallNodeTree,
     3},
    {"8 KiB catalog nodes", {.catalogNodeSize = 8192, .totalSize = 16u << 20}, addManyFiles, 2},
    {"4096-byte sectors inside a disk",
     {.sectorSize = 4096, .volumeName = "Far", .diskOffset = 1u << 20, .diskSize = 12u << 20},
     addVariety},
    {"HFS wrapper on 4096-byte sectors",
     {.sectorSize = 4096,
      .volumeName = "Wrapped",
      .wrapping = Wrapping::HFSWrapper,
      .diskOffset = 1u << 20,
      .diskSize = 12u << 20},
     addVariety},
    {"journaled", {.volumeName = "Journaled", .journaled = true}, addJournalTraces},
};

// A Sleuth Kit tool's output on the built image; Sleuth Kit is pointed at an
// HFS wrapper and finds the embedded volume itself.
std::string sleuthKit(const std::string& tool, const fs::path& image, const Builder& b, const std::string& arg = "") {
    const auto& l = b.layout();
    const std::uint64_t at = b.options().wrapping == Wrapping::HFSWrapper ? l.containerOffset : l.volumeOffset;
    return testsupport::runCommand(tool + " -f hfs -b " + std::to_string(l.sectorSize) + " -o " +
                                   std::to_string(at / l.sectorSize) + " " + testsupport::shellQuote(image.string()) +
                                   " " + arg + " 2>/dev/null")
        .value_or("(" + tool + " failed)");
}

// The value after "label" on its line of a report.
std::string reportValue(const std::string& text, const std::string& label) {
    const auto at = text.find("\n" + label);
    if (at == std::string::npos) return "(missing)";
    const auto from = text.find_first_not_of(" \t", at + 1 + label.size());
    return text.substr(from, text.find('\n', from) - from);
}

// The path of a live entry from the root.
std::string pathOf(const Builder& b, std::uint32_t id) {
    const auto* e = b.entry(id);
    return e->parentID == kRoot ? e->name.utf8() : pathOf(b, e->parentID) + "/" + e->name.utf8();
}

// fls -r -p: kind letter and path by catalog node ID, the volume's special
// files (from the volume header) and deleted entries left out.
std::map<std::uint32_t, std::string> flsListing(const std::string& text) {
    std::map<std::uint32_t, std::string> out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t'), colon = line.find(':'), space = line.find(' ');
        if (tab == std::string::npos || colon == std::string::npos || space == std::string::npos) continue;
        if (line.find('*') < tab) continue;
        const auto id = static_cast<std::uint32_t>(std::stoul(line.substr(space + 1, colon - space - 1)));
        if (id >= Builder::kFirstUserID) out[id] = line.substr(0, 1) + " " + line.substr(tab + 1);
    }
    return out;
}

class BuilderImages : public testsupport::ScanFixture {};

} // namespace

TEST_F(BuilderImages, SleuthKitAndTheNormalScanReadEveryKindOfImageAsItsManifest) {
    for (const char* tool : {"fsstat", "fls", "istat", "icat"})
        if (!testsupport::haveTool(tool)) GTEST_SKIP() << "The Sleuth Kit is not installed";
    for (const ImageKind& kind : kKinds) {
        SCOPED_TRACE(kind.name);
        const HFSPlusImageOptions& o = kind.options;
        Builder b(o);
        kind.fill(b);
        const fs::path image = b.writeTo(testsupport::makeTempDir("hfsbuild") / "image.img");
        const auto& l = b.layout();
        EXPECT_GE(l.catalogDepth, kind.minCatalogDepth);
        if (o.diskSize) {
            EXPECT_EQ(fs::file_size(image), o.diskSize);
        }

        std::map<std::uint32_t, std::string> listing;
        std::map<std::string, const Builder::Entry*> byPath;
        int files = 0, folders = 0;
        for (const auto& e : b.manifest()) {
            if (!e.live) continue;
            const bool folder = e.kind == Builder::Kind::Folder;
            (folder ? folders : files) += 1;
            listing[e.id] = (folder ? "d " : "r ") + pathOf(b, e.id);
            byPath[pathOf(b, e.id)] = &e;
        }

        const std::string stat = sleuthKit("fsstat", image, b);
        EXPECT_EQ(reportValue(stat, "File System Type:"), o.hfsx ? "HFSX" : "HFS+");
        EXPECT_EQ(reportValue(stat, "Volume Name:"), o.volumeName);
        EXPECT_EQ(reportValue(stat, "Allocation Block Size:"), std::to_string(o.blockSize));
        EXPECT_EQ(reportValue(stat, "Number of Free Blocks:"), std::to_string(l.freeBlocks));
        EXPECT_EQ(reportValue(stat, "Number of files:"), std::to_string(files));
        EXPECT_EQ(reportValue(stat, "Number of folders:"), std::to_string(folders));
        EXPECT_EQ(reportValue(stat, "Journal Info Block:"),
                  o.journaled ? std::to_string(l.journalInfoBlock) : "(missing)");
        if (o.wrapping == Wrapping::HFSWrapper) {
            const std::string offset = std::to_string(l.volumeOffset - l.containerOffset);
            EXPECT_NE(stat.find("embedded in an HFS wrapper at offset " + offset), std::string::npos);
        }

        EXPECT_EQ(flsListing(sleuthKit("fls -r -p", image, b)), listing);
        for (const auto& [path, e] : byPath) {
            if (e->kind != Builder::Kind::File) continue;
            SCOPED_TRACE(path);
            const std::string id = std::to_string(e->id);
            EXPECT_EQ(reportValue(sleuthKit("istat", image, b, id), "Size:"), std::to_string(e->size));
            EXPECT_EQ(sleuthKit("icat", image, b, id), testsupport::asString(e->data));
            if (!e->resource.empty()) {
                EXPECT_EQ(sleuthKit("icat", image, b, id + "-4353"), testsupport::asString(e->resource));
            }
        }

        // The normal scan's HFS+ steps, in the scan thread's order.
        if (o.sectorSize != 512 || o.diskOffset != 0 || o.wrapping != Wrapping::Plain) continue;
        auto v = keep(testsupport::volumeOver(image));
        v->resetSigArraysAndBtreesAndOthers();
        HFSPlusReaderState& state = hfsState(*v);
        ASSERT_TRUE(HFSPlusVolume(state).initializeVIB() && HFSPlusVolume(state).checkCatalogAndExtentsFile());
        CatalogNodeSearch(state).findCatalogLeafNodes();
        ASSERT_NE(v->firstLeafNode, 0u);
        CatalogReader(state).makeTree();
        EXPECT_EQ(state.catTreeDepth, l.catalogDepth);
        const auto found = testsupport::nodesByPath(v->dirRoot);
        ASSERT_EQ(found.size(), byPath.size());
        for (const auto& [path, e] : byPath) {
            SCOPED_TRACE(path);
            ASSERT_EQ(found.count(path), 1u);
            const NewDir* n = found.at(path);
            EXPECT_EQ(n->fileID, e->id);
            EXPECT_EQ(n->fileType, e->kind == Builder::Kind::Folder ? NewDir::Folder : NewDir::File);
            if (e->kind == Builder::Kind::File) {
                EXPECT_EQ(n->fileSize, e->size);
                EXPECT_EQ(testsupport::readThroughExtents(*v, *n), testsupport::asString(e->data));
            }
        }
    }
}
