#pragma once

// The recognisers of files of text whose first line says what they are: PostScript (a document, an EPS picture or a
// Type 1 font, each by its first line) and scripts (by their "#!" line). A header of a few bytes is what ordinary
// text and random data hold by chance, so the line is checked whole, and the file runs as far as its text does. Each
// reads the candidate from the sector `block` of the search's numbering through a RecogniserMedium and answers as
// RecogniserDispatch describes.

#include <cstdint>
#include <string_view>

class FileStartProbe;
class Sig;
class Volume;

class TextRecognisers {
public:
    explicit TextRecognisers(Volume& volume) noexcept : volume_(volume) {}

    // The search's lookup, asked of each sector the text runs into past the
    // first: where it lists a file, this one has ended. None: nothing is
    // asked.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    // PostScript: the rows of an EPS picture's and a Type 1 font's ("eps",
    // "pfa") take only files of their kind; the document's row takes a
    // document, a picture and a font, each named by its kind ("ps", "eps",
    // "pfa"). A document or picture ends
    // after its last "%%EOF" line, a font after its "cleartomark" and what
    // closes it.
    bool checkPostScriptFileAtBlock(std::uint64_t block, Sig& sig);
    // A script: "#!", blanks, the absolute path of an interpreter and its
    // arguments, a line end within the reach the kernel reads; then text, to
    // its end.
    bool checkScriptFileAtBlock(std::uint64_t block, Sig& sig);

    // The kind of PostScript a first line names ("ps", "eps", "pfa"), empty
    // for none; `line` ends before its line break.
    static std::string_view postScriptKind(std::string_view line);
    // The length of the "#!" line that opens `bytes`, its line break
    // included; 0 when it is no such line.
    static std::size_t interpreterLine(std::string_view bytes);

private:
    Volume& volume_;
    FileStartProbe* probe_ = nullptr;
};
