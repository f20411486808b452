// The resolution a JPEG states in its EXIF block, as scanners and cameras write it.
#pragma once

#include <cstddef>
#include <cstdint>

struct ExifResolution {
    bool found = false;  // false: missing, malformed, zero, or stated without an absolute unit
    double dpiX = 0;     // dots per inch
    double dpiY = 0;
};

// Reads XResolution, YResolution and ResolutionUnit from IFD0 of `tiff`, the `length` bytes of TIFF
// data that follow "Exif\0\0" in the APP1 segment; either byte order. Unit inch (or none stated,
// the TIFF default) is taken as it is, centimetre converted to inches. Never reads outside `tiff`.
ExifResolution ReadExifResolution(const std::uint8_t* tiff, std::size_t length);

// Sets XResolution and YResolution of IFD0 in `tiff` to `dpiX` / 1 and `dpiY` / 1 and ResolutionUnit to
// inch, where those entries are present in the forms ReadExifResolution reads; leaves every other
// byte, and a malformed block, as it was.
void SetExifResolution(std::uint8_t* tiff, std::size_t length, std::uint32_t dpiX, std::uint32_t dpiY);

// Makes the block describe a new picture of `widthPx` x `heightPx`: PixelXDimension and PixelYDimension
// of the Exif IFD (found through IFD0's pointer to it) set where each is a single SHORT or LONG, and the
// thumbnail of the picture as it was dropped: IFD0's link to IFD1 set to 0, and a JPEG thumbnail that
// IFD1 names after every IFD zeroed. Returns the length the block keeps: where that thumbnail ends the
// block (as writers place it), the block ends where it began; otherwise `length`. Every other byte,
// and a malformed block, stays as it was.
std::size_t SetExifPixelSizeDroppingThumbnail(std::uint8_t* tiff, std::size_t length, std::uint32_t widthPx,
                                              std::uint32_t heightPx);
