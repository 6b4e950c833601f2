// The built-in carved formats, one row each, and the one place a format is
// registered: the carving table (formats/CarvingFormat.cpp) and the size
// calculators' makers (sizecalc/SizeCalculatorChain.cpp) are both expanded
// from these rows, so a key never lacks its calculator nor a calculator its
// row. Adding a format is its calculator class and one row here.
//
// Rows come in the order in which the carving offers a sector to their size
// calculators: ascending first header byte, the QuickTime family last (those
// files are told by the box type at byte 4, not by their first byte). The
// first calculator that accepts a sector wins it, so the order is behaviour.
//
// CARVING_FORMAT(label, selectingExtension, key, firstByteOfHeader,
//                resultFolder, folderExtension, family, calculator)
// family combines T (TIFF family), Q (QuickTime family) and J (reports a JPEG
// preview inside the file); the includer that reads that column defines them.
// calculator names the size calculator's class; only the calculators' side
// reads that column, so this folder never names a class above it.
//
// No include guard: each includer defines CARVING_FORMAT, includes this, and
// undefines it.

// clang-format off
#ifdef CARVING_FORMAT
CARVING_FORMAT("MPEG",           "mpg", "mpg",  0x00, "MPG Files",        "mpg",  0,     MpgFileCheck)
CARVING_FORMAT("MRW",            "mrw", "mrw",  0x00, "MRW Files",        "mrw",  0,     MrwFileCheck)
CARVING_FORMAT("AMR",            "amr", "amr",  0x23, "AMR Files",        "amr",  0,     AmrFileCheck)
CARVING_FORMAT("RealAudio",      "ra",  "ra",   0x2E, "RA Files",         "ra",   0,     RaFileCheck)
CARVING_FORMAT("RealMedia",      "rm",  "rm",   0x2E, "RM Files",         "rm",   0,     RmFileCheck)
CARVING_FORMAT("PSD",            "psd", "psd",  0x38, "PSD Files",        "psd",  0,     PsdFileCheck)
CARVING_FORMAT("BMP",            "bmp", "bmp",  0x42, "BMP Files",        "bmp",  0,     BmpFileCheck)
CARVING_FORMAT("RAF",            "raf", "raf",  0x46, "RAF Files",        "raf",  J,     RafFileCheck)
CARVING_FORMAT("X3F",            "x3f", "x3f",  0x46, "X3F Files",        "x3f",  J,     X3fFileCheck)
CARVING_FORMAT("AIFF",           "aif", "aif",  0x46, "AIFF Files",       "aiff", 0,     AifFileCheck)
CARVING_FORMAT("GIF",            "gif", "gif",  0x47, "GIF Files",        "gif",  0,     GifFileCheck)
CARVING_FORMAT("MP3",            "mp3", "mp3",  0x49, "MP3 Files",        "mp3",  0,     Mp3FileCheck)
CARVING_FORMAT("ARW",            "arw", "arw",  0x49, "ARW Files",        "arw",  T | J, ArwFileCheck)
CARVING_FORMAT("SR2",            "sr2", "sr2",  0x49, "SR2 Files",        "sr2",  T | J, Sr2FileCheck)
CARVING_FORMAT("Kodak KDC",      "kdc", "kdc",  0x49, "Kodak KDC Files",  "kdc",  T,     KdcFileCheck)
CARVING_FORMAT("Kodak K25",      "k25", "k25",  0x49, "Kodak K25 Files",  "k25",  T,     K25FileCheck)
CARVING_FORMAT("Kodak DCR",      "dcr", "dcr",  0x49, "Kodak DCR Files",  "dcr",  T,     DcrFileCheck)
CARVING_FORMAT("PEF",            "pef", "pef",  0x49, "PEF Files",        "pef",  T | J, PefFileCheck)
CARVING_FORMAT("DNG",            "dng", "dng",  0x49, "DNG Files",        "dng",  T | J, DngFileCheck)
CARVING_FORMAT("CR2",            "cr2", "cr2",  0x49, "CR2 Files",        "cr2",  T | J, Cr2FileCheck)
CARVING_FORMAT("NEF",            "nef", "nef",  0x49, "NEF Files",        "nef",  T | J, NefFileCheck)
CARVING_FORMAT("TIFF",           "tif", "tiff", 0x49, "TIFF Files",       "tiff", T,     TiffFileCheck)
CARVING_FORMAT("ORF",            "orf", "orf",  0x49, "ORF Files",        "orf",  T | J, OrfFileCheck)
CARVING_FORMAT("Panasonic RAW",  "raw", "raw",  0x49, "Panasonic Files",  "raw",  T | J, RawPanasonicFileCheck)
CARVING_FORMAT("Leica RAW",      "raw", "lei",  0x49, "Leica Files",      "raw",  T | J, LeicaFileCheck)
CARVING_FORMAT("Hasselblad 3FR", "3fr", "3fr",  0x49, "Hasselblad Files", "3fr",  T,     ThreefrFileCheck)
CARVING_FORMAT("CRW",            "crw", "crw",  0x49, "CRW Files",        "crw",  J,     CrwFileCheck)
CARVING_FORMAT("MIDI",           "mid", "mid",  0x4D, "MID Files",        "mid",  0,     MidFileCheck)
CARVING_FORMAT("AVI",            "avi", "avi",  0x52, "AVI Files",        "avi",  0,     AviFileCheck)
CARVING_FORMAT("WAV",            "wav", "wav",  0x52, "WAV Files",        "wav",  0,     WavFileCheck)
CARVING_FORMAT("PNG",            "png", "png",  0x89, "PNG Files",        "png",  0,     PngFileCheck)
CARVING_FORMAT("JPEG",           "jpg", "jpg",  0xFF, "JPG Files",        "jpg",  0,     JpgFileCheck)
CARVING_FORMAT("MOV",            "mov", "mov",  0x00, "MOV Files",        "mov",  Q,     MovFileCheck)
CARVING_FORMAT("HEIC",           "heic", "heic", 0x00, "HEIC Files",      "heic", Q,     HeicFileCheck)
CARVING_FORMAT("HEIF",           "heif", "heif", 0x00, "HEIF Files",      "heif", Q,     Mif1FileCheck)
CARVING_FORMAT("AVIF",           "avif", "avif", 0x00, "AVIF Files",      "avif", Q,     AvifFileCheck)
CARVING_FORMAT("MP4",            "mp4", "mp4",  0x00, "MP4 Files",        "mp4",  Q,     Mp4FileCheck)
CARVING_FORMAT("M4A",            "m4a", "m4a",  0x00, "M4A Files",        "m4a",  Q,     M4aFileCheck)
CARVING_FORMAT("M4B",            "m4b", "m4b",  0x00, "M4B Files",        "m4b",  Q,     M4bFileCheck)
CARVING_FORMAT("M4V",            "m4v", "m4v",  0x00, "M4V Files",        "m4v",  Q,     M4vFileCheck)
CARVING_FORMAT("3GP",            "3gp", "3gp",  0x00, "3GP Files",        "3gp",  Q,     ThreeGpFileCheck)
CARVING_FORMAT("3G2",            "3g2", "3g2",  0x00, "3G2 Files",        "3g2",  Q,     ThreeGTwoFileCheck)
#endif
// clang-format on
