// Quantised coefficients written as a sequential JPEG file, Huffman-coded with tables made for them.
#pragma once

#include "imaging/kernels/jpeg_coefficients.h"

#include <cstdint>
#include <vector>

// The JPEG file of `image`: SOI; the image's metadata segments in their order, with the resolution set
// to `dpiX` x `dpiY` dots per inch in the JFIF header (one is put first when the image has neither a
// JFIF header nor an Adobe segment, which would then no longer tell how the colours are coded) and in
// EXIF's XResolution and YResolution (unit inch; other tags, the orientation among them, as they are);
// the quantisation tables the components use; the frame (SOF1 when a table needs 16 bits, else SOF0);
// optimal Huffman tables (Annex K.2), one for the first component and one for the others; one
// interleaved scan, or a scan per component when there is one or an MCU would exceed 10 blocks; EOI.
// The image's coefficients must fit the 8-bit ranges of the format (DC 11 bits, AC 10 bits).
std::vector<std::uint8_t> WriteJpeg(const JpegImage& image, std::uint16_t dpiX, std::uint16_t dpiY);

// True for an Adobe APP14 segment (marker, length, payload), which states how the components are coded
// for decoders that find no JFIF header.
bool IsAdobeSegment(const std::vector<std::uint8_t>& segment);
