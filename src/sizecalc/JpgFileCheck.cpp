#include "sizecalc/JpgFileCheck.h"

#include "sizecalc/CarvingContext.h"
#include "walks/ExifThumbnail.h"
#include "walks/JpegScanWalk.h"

JpgFileCheck::JpgFileCheck(CarvingContext& context) : SizeCalculator("jpg", context), walk_(context) {}

bool JpgFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    if (leading.u8(0) != 0xFF || leading.u8(1) != 0xD8 || leading.u8(2) != 0xFF) return false;
    // Fill bytes may stand between the start marker and the first segment's.
    return JpegScanWalk::opensImage(leading.u8(JpegScanWalk::kindAfterFillBytes(leading, 2)));
}

std::uint64_t JpgFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    // The scan data is looked through to its end marker however far a photo
    // reaches; one whose walk broke, or found no end marker, is listed as far
    // as it went and marked.
    const std::uint64_t length =
        walk_.length(sectorNumber, 0,
                     JpegStreamWalk::Rules{
                         .walkLimit = JpegStreamWalk::kScanReach, .limitAnswersLength = true, .scanByMarkers = true});
    context_.measuredCut = walk_.cut();
    context_.measuredOnHeaderAlone = walk_.brokeBeforeFrame();
    context_.measuredUnvouched = {walk_.scanFrom(), walk_.scanTo(), JpegStreamWalk::kMargin, {}};
    // A thumbnail its EXIF block places in its header is its own.
    if (walk_.exifLength() != 0 && length != 0) {
        context_.thumbnails = ExifThumbnail::sectors(context_.reader(), context_.bytesPerSector(), sectorNumber,
                                                     context_.bytesFrom(sectorNumber), walk_.exifFrom(),
                                                     walk_.exifLength(), [this] { return context_.stopped(); });
        context_.measuredUnvouched.ownSectors = context_.thumbnails;
    }
    return length;
}
