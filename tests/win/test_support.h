// Helpers of the Windows tests: recorded message boxes, scratch folders, fixtures and pixel access.
#pragma once

#include "imaging/pipeline.h"
#include "mono_bmp.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
// 0xRRGGBB of a pixel, read through GetPixel.
unsigned PixelRgb(Gdiplus::Bitmap& bitmap, int x, int y);
bool IsBlack(Gdiplus::Bitmap& bitmap, int x, int y);

// The fields of a BMP file's first 54 bytes.
struct BmpHeader {
    int width, height, bitCount;
    unsigned sizeImage, clrUsed, clrImportant, offBits;
};
BmpHeader ReadBmpHeader(const std::vector<unsigned char>& file);
// The colour-table entries (0xRRGGBB) of a BMP file.
std::vector<unsigned> BmpPalette(const std::vector<unsigned char>& file);
// What a JPEG file's own bytes say: the JFIF density (unit -1 without a JFIF segment) and the size
// in its frame header (0 x 0 when no frame header comes before the scan).
struct JpegFacts {
    int unit, densityX, densityY, width, height;
};
JpegFacts ReadJpegFacts(const std::vector<unsigned char>& file);
// Checks that `file` is the program's BMP output: 1-bit, width x height, palette white then black,
// biSizeImage = row length x height + 2, biClrUsed and biClrImportant 0.
void ExpectMonochromeBmp(const std::vector<unsigned char>& file, int width, int height);
