// Helpers of the Windows tests: recorded message boxes, scratch folders, fixtures, pixel access, and
// the readers of results that share nothing with GDI+ (the raw 1-bit BMP check, ImageMagick).
#pragma once

#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "mono_bmp.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// While it lives, allocations through operator new of at least `from` bytes, other than exactly
// `except` bytes, fail on every thread; GDI+ has its own heap and is not affected.
struct FailingAllocations {
    FailingAllocations(std::size_t from, std::size_t except = 0);
    ~FailingAllocations();
};

struct ShownMessage {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Every message box shown since the last ClearMessages (the test main redirects them here).
std::vector<ShownMessage>& Messages();
void ClearMessages();

// A fresh empty folder for the running test, under the temporary folder; ends without a separator.
std::string ScratchFolder();
// Path of a committed fixture file.
std::string FixturePath(const std::string& name);
// Copies a fixture into `folder` under `name` (the fixture's own name when empty); returns the path.
std::string CopyFixture(const std::string& fixture, const std::string& folder, const std::string& name = "");

// A drop handle laid out as the shell makes one: DROPFILES, then UTF-16 names, double-zero terminated.
// Whoever receives it releases it (DragFinish). ANSI names are converted from the ANSI code page.
HDROP MakeDrop(const std::vector<std::wstring>& paths);
HDROP MakeDrop(const std::vector<std::string>& paths);

std::vector<unsigned char> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
bool FileExists(const std::string& path);
// Makes `path` a symbolic link to a file that does not exist; false where links cannot be made.
bool MakeDanglingLink(const std::string& path);
// Names in `folder`, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);

// Decodes a file into memory (the file is not kept open); null if it cannot be decoded.
BitmapPtr LoadImageFile(const std::string& path);
// Saves with the encoder of `mimeType` (L"image/png", ...); asserts success.
void SaveImageFile(Gdiplus::Bitmap& bitmap, const std::string& path, const wchar_t* mimeType);
// A 24-bit image filled by color(x, y) returning 0xRRGGBB, with the given resolution.
template <class Color>
BitmapPtr MakeRgbImage(int width, int height, Color color, float dpiX = 600, float dpiY = 600)
{
    BitmapPtr bitmap = NewBitmap(width, height, PixelFormat24bppRGB, dpiX, dpiY);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned rgb = color(x, y);
            bitmap->SetPixel(x, y, Gdiplus::Color(255, (rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255));
        }
    }
    return bitmap;
}
// Every channel of 0xRRGGBB `rgb` within `tolerance` of `wanted`'s.
bool NearRgb(unsigned rgb, unsigned wanted, int tolerance);
// 0xRRGGBB of a pixel, read through a lock of the whole image.
unsigned PixelRgb(Gdiplus::Bitmap& bitmap, int x, int y);
bool IsBlack(Gdiplus::Bitmap& bitmap, int x, int y);

// The fields of a BMP file's first 54 bytes, for files the tests feed in.
struct BmpHeader {
    int width, height, bitCount;
    unsigned offBits;
};
BmpHeader ReadBmpHeader(const std::vector<unsigned char>& file);
// The colour-table entries (0xRRGGBB) of a BMP file.
std::vector<unsigned> BmpPalette(const std::vector<unsigned char>& file);
// What a JPEG file's own bytes say: the JFIF density (unit -1 without a JFIF segment), the size in its
// frame header (0 x 0 when no frame header comes before the scan), and its APPn and COM segments and
// its quantisation table segments whole (marker, length, payload) in their order.
struct JpegFacts {
    int unit, densityX, densityY, width, height;
    std::vector<std::vector<unsigned char>> metadata, tables, huffmanTables;  // whole segments
    std::vector<unsigned char> componentIds;  // from the frame header, in its order
    std::vector<unsigned char> fromFirstScan;  // the bytes from the first scan's header to the end
};
JpegFacts ReadJpegFacts(const std::vector<unsigned char>& file);

// The JPEG fixtures' metadata (tests/fixtures/fixtures.py) in the JPEG result at `path` of `fixture`:
// EXIF (600 DPI, an orientation tag, the pixel size, a thumbnail), an ICC profile and a comment after
// a JFIF header, and an Adobe marker where they are RGB or CMYK. A result at 600 DPI keeps every one of
// those segments byte for byte (the JFIF and Adobe headers first), but for EXIF's pixel size, which
// states the result's, and its link to the thumbnail, cut. The component ids are those of the colour
// space written: JFIF's 1, 2, 3 for Y-Cb-Cr, 'R', 'G', 'B' for RGB, and for ImageMagick's CMYK files,
// which it codes as YCCK (Adobe transform 2) with ids 1 to 4, 'Y', 'C', 'C', 'K'.
void ExpectFixtureMetadata(const std::string& path, const std::string& fixture);

// A 1-bit page as its bits say, y counted from the top.
struct MonoPage {
    int width = 0, height = 0;
    std::vector<char> black;
    bool At(int x, int y) const { return black[static_cast<size_t>(y) * width + x] != 0; }
};

// The one check of every 1-bit BMP the tests make the program write, from the file's raw bytes:
// "BM", bfSize = the file's length, bfOffBits 62, a 40-byte information header, width x height with
// rows bottom-up, one plane, 1 bit, no compression, biSizeImage = row length x height + 2, ppmX x ppmY
// pixels per metre, biClrUsed and biClrImportant 0, the colour table white then black, every bit after
// a row's last pixel white, and nothing after the rows. Each difference is a test failure. Returns the
// pixels; an empty page when the rows cannot be read.
MonoPage ExpectMonochromeBmp(const std::string& path, int width, int height, int ppmX = 23622, int ppmY = 23622);

// What ImageMagick, a decoder that shares nothing with GDI+, reads from an image file (its first frame).
struct MagickImage {
    std::string format;               // "PNG", "JPEG", "GIF", "BMP3"...; empty when it cannot read the file
    int width = 0, height = 0;
    double dpiX = 0, dpiY = 0;        // 0 when the file stores no resolution
    std::vector<unsigned char> rgba;  // 4 bytes a pixel, rows from the top
    unsigned Rgb(int x, int y) const;  // 0xRRGGBB
    int Alpha(int x, int y) const;
};
// Runs /usr/bin/convert on the file through Wine; fails the test where that cannot be done.
MagickImage ReadWithImageMagick(const std::string& path);
// True under Wine, where ImageMagick runs on the Unix host; elsewhere the tests that read results
// with it skip, saying so.
bool HasUnixImageMagick();

// Points this program's import of one library function at a stand-in while in scope, so that a test
// can make that call fail or misbehave. The imports are called through these pointers.
struct ImportSwap {
    void** slot;
    void* original;
    ImportSwap(void** importSlot, void* standIn) : slot(importSlot), original(*importSlot) { Set(standIn); }
    ~ImportSwap() { Set(original); }
    void Set(void* target)
    {
        DWORD was;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
        *slot = target;
        VirtualProtect(slot, sizeof *slot, was, &was);
    }
};
