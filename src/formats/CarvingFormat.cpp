#include "formats/CarvingFormat.h"

#include <algorithm>

namespace {

using F = CarvingFormat;
constexpr std::uint8_t T = F::Tiff, Q = F::QuickTime, J = F::RawJpeg;

constexpr CarvingFormat kTable[] = {
    {"MPEG", "mpg", "mpg", 0x00, "MPG Files", "mpg", 0},
    {"MRW", "mrw", "mrw", 0x00, "MRW Files", "mrw", 0},
    {"AMR", "amr", "amr", 0x23, "AMR Files", "amr", 0},
    {"RealAudio", "ra", "ra", 0x2E, "RA Files", "ra", 0},
    {"RealMedia", "rm", "rm", 0x2E, "RM Files", "rm", 0},
    {"PSD", "psd", "psd", 0x38, "PSD Files", "psd", 0},
    {"BMP", "bmp", "bmp", 0x42, "BMP Files", "bmp", 0},
    {"RAF", "raf", "raf", 0x46, "RAF Files", "raf", J},
    {"X3F", "x3f", "x3f", 0x46, "X3F Files", "x3f", J},
    {"AIFF", "aif", "aif", 0x46, "AIFF Files", "aiff", 0},
    {"GIF", "gif", "gif", 0x47, "GIF Files", "gif", 0},
    {"MP3", "mp3", "mp3", 0x49, "MP3 Files", "mp3", 0},
    {"ARW", "arw", "arw", 0x49, "ARW Files", "arw", T | J},
    {"SR2", "sr2", "sr2", 0x49, "SR2 Files", "sr2", T | J},
    {"Kodak KDC", "kdc", "kdc", 0x49, "Kodak KDC Files", "kdc", T},
    {"Kodak K25", "k25", "k25", 0x49, "Kodak K25 Files", "k25", T},
    {"Kodak DCR", "dcr", "dcr", 0x49, "Kodak DCR Files", "dcr", T},
    {"PEF", "pef", "pef", 0x49, "PEF Files", "pef", T | J},
    {"DNG", "dng", "dng", 0x49, "DNG Files", "dng", T | J},
    {"CR2", "cr2", "cr2", 0x49, "CR2 Files", "cr2", T | J},
    {"NEF", "nef", "nef", 0x49, "NEF Files", "nef", T | J},
    {"TIFF", "tif", "tiff", 0x49, "TIFF Files", "tiff", T},
    {"ORF", "orf", "orf", 0x49, "ORF Files", "orf", T | J},
    {"Panasonic RAW", "raw", "raw", 0x49, "Panasonic Files", "raw", T | J},
    {"Leica RAW", "raw", "lei", 0x49, "Leica Files", "raw", T | J},
    {"Hasselblad 3FR", "3fr", "3fr", 0x49, "Hasselblad Files", "3fr", T},
    {"CRW", "crw", "crw", 0x49, "CRW Files", "crw", J},
    {"MIDI", "mid", "mid", 0x4D, "MID Files", "mid", 0},
    {"AVI", "avi", "avi", 0x52, "AVI Files", "avi", 0},
    {"WAV", "wav", "wav", 0x52, "WAV Files", "wav", 0},
    {"PNG", "png", "png", 0x89, "PNG Files", "png", 0},
    {"JPEG", "jpg", "jpg", 0xFF, "JPG Files", "jpg", 0},
    {"MOV", "mov", "mov", 0x00, "MOV Files", "mov", Q},
    {"MP4", "mp4", "mp4", 0x00, "MP4 Files", "mp4", Q},
    {"M4A", "m4a", "m4a", 0x00, "M4A Files", "m4a", Q},
    {"M4B", "m4b", "m4b", 0x00, "M4B Files", "m4b", Q},
    {"M4V", "m4v", "m4v", 0x00, "M4V Files", "m4v", Q},
    {"3GP", "3gp", "3gp", 0x00, "3GP Files", "3gp", Q},
    {"3G2", "3g2", "3g2", 0x00, "3G2 Files", "3g2", Q},
};

} // namespace

std::span<const CarvingFormat> CarvingFormat::table() {
    return kTable;
}

const CarvingFormat* CarvingFormat::byKey(std::string_view key) {
    const auto* row = std::find_if(std::begin(kTable), std::end(kTable), [&](const F& f) { return f.key == key; });
    return row == std::end(kTable) ? nullptr : row;
}
