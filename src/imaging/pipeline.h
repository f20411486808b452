// The head of the frame every operation runs in: open and gate the source, back the file up; and the
// 1-bit conversion of every BMP result. The safe save that ends the frame is save.h.
#pragma once

#include "imaging/bitmaps.h"
#include "imaging/kernels/image_header.h"

#include <cstddef>
#include <functional>

// What the head of the pipeline hands to an operation's own work.
struct SourceImage {
    const char* path = nullptr;                // the dropped path (ANSI)
    WidePath widePath{nullptr, &std::free};  // the dropped path in UTF-16
    BitmapPtr bitmap;                          // decoded source (null for SourceNeeds::JpegBytes); keeps
                                               // the file open until reset
    char backupName[512] = "";                 // the backup's file name and extension, for the report
    Gdiplus::REAL dpiX = 0;                    // resolution pair, stamped on every image made
    Gdiplus::REAL dpiY = 0;
    int widthPx = 0;                           // the source's size, decoded or from its header
    int heightPx = 0;
    std::vector<std::uint8_t> jpegFile;        // a JPEG file's bytes, read whole by the load: the source of
                                               // a JPEG result's coefficients, tables and metadata
};

// What an operation needs of its source: the platform's decode, or for a JPEG file that it works on
// through its bytes (the quarter turn by libjpeg-turbo) only the header's check and resolution, as
// Windows would read them, without decoding a pixel. Other files are decoded either way.
enum class SourceNeeds { Pixels, JpegBytes };

// The header check of the file at `path` (ANSI), read with seeks before any decoder opens it.
// Kind Unknown when the file cannot be opened.
ImageHeader ReadImageHeader(char const* path);

// Head: LoadAndGate, then SweepAndBackUp. Returns false after reporting a refusal or failure;
// nothing has been written then, but what killed runs on the page left beside it may have gone.
bool LoadGateSweepAndBackUp(char const* path, SourceImage& source, void (*reportSaveFailure)(int status) = nullptr,
                            SourceNeeds needs = SourceNeeds::Pixels);

// What the head makes of a page, in the order it asks; the first refusal wins, but the page is
// loaded whenever it can be.
enum class Verdict {
    Taken,
    NoRoom,           // its folder leaves no room for the safe save's temporary file
    Unreadable,       // not decoded: broken, hostile or too large (LoadSource)
    WrongResolution,  // the gate's refusal, its text in `refusal`
    Unreplaceable,    // read-only, a folder, or held by another program against being replaced
};
// UTF-16 path, header check, load, resolution pair and the gate, with nothing reported and nothing
// written: the one sequence of the operations' head and of the batch tool's check.
Verdict LoadAndJudge(char const* path, SourceImage& source, char* refusal, std::size_t size,
                     SourceNeeds needs = SourceNeeds::Pixels);

// The head without the backup: LoadAndJudge, reporting its refusal (a page that cannot be replaced
// as `reportSaveFailure` reports a failed save, or msgProcessingError when null). Returns false, the
// source released, after reporting.
bool LoadAndGate(char const* path, SourceImage& source, void (*reportSaveFailure)(int status) = nullptr,
                 SourceNeeds needs = SourceNeeds::Pixels);
// Removes what killed runs on source.path left beside it (their hidden temporary files, a set-aside
// copy of the page), writes its numbered backup (a whole, flushed copy or none; never over an
// existing file) and puts its name in source.backupName. Returns false after reporting "Failed to
// create backup".
bool SweepAndBackUp(SourceImage& source);

// Header check and load of `path` into source.bitmap (UTF-16 path too), with the resolution a JPEG
// states in EXIF where the decoder reads none; the resolution pair in source.dpiX and dpiY, the size
// in widthPx and heightPx. A JPEG file is also read whole into source.jpegFile. With
// SourceNeeds::JpegBytes a sound JPEG file is not decoded: the pair is its header's. False, reporting
// nothing, for a file that cannot be decoded, whose header is broken, whose pixels would not fit
// 32-bit buffers or whose palette indices run past its palette.
bool LoadSource(char const* path, SourceImage& source, SourceNeeds needs = SourceNeeds::Pixels);

// Runs an operation's work; an allocation that fails anywhere in it is reported as
// msgProcessingError, so that one page's failure is that page's alone.
void GuardMemory(const std::function<void()>& work);

// True when both resolutions lie within 0.5 of 600 DPI; otherwise shows the resolution found.
bool IsValidDPI(Gdiplus::Bitmap* image);
// The gate's refusal of a resolution pair (msgDpiRequired with the pair found) in `message`, or false
// when both lie within 0.5 of 600 DPI.
bool DpiRefusal(Gdiplus::REAL dpiX, Gdiplus::REAL dpiY, char* message, std::size_t size);

// The 1-bit image of `source` by the blue threshold, with the resolution pair and the
// monochrome palette; null when an image cannot be made or locked.
BitmapPtr ToMonochrome(Gdiplus::Bitmap& source, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);

