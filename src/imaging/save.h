// The end of the frame every operation runs in: the output format a file's name asks for, and the
// safe save of a result over the dropped file (JPEG results made by jpeg_output.h, beneath it).
#pragma once

#include "imaging/bitmaps.h"
#include "imaging/jpeg_output.h"

#include <cstdint>
#include <vector>

// The encoder and whether the result must be a 1-bit BMP, chosen from the path's extension.
struct OutputFormat {
    const wchar_t* mimeType;
    bool monochromeBmp;
    bool jpeg = false;  // made by libjpeg-turbo (jpeg_output.h) and checked by it
};
OutputFormat OutputFormatFor(char const* path);

// Safe save: encodes `result` (a JPEG by EncodedBgr with the tables and metadata of `jpegSource`, the
// source file's bytes as the load read them, empty for other content, and saved as SaveJpegResultOver
// saves; any other format by the platform's encoder for it, GIF reduced to the fixed palette first, a
// BMP header patched, written as SaveJpegResultOver writes and checked by CheckWrittenFile). The source
// must have been released before (it keeps the file open). GenericError when the platform has no such
// encoder; for a JPEG, the failure of EncodedBgr or of its check, with nothing written.
Gdiplus::Status SaveOver(char const* path, Gdiplus::Bitmap& result, const OutputFormat& format,
                         const std::vector<std::uint8_t>& jpegSource);

// Saves a JPEG result whose check passed over `path`: its bytes written to a new hidden temporary file
// beside it, flushed, read back and found the same as the bytes checked, then put in the dropped file's
// place keeping its identity. Returns Ok, the result's own failure (nothing written), or the status of
// the step that failed; on failure the dropped file is at its path byte for byte as it was.
Gdiplus::Status SaveJpegResultOver(const char* path, const JpegResult& result);

// The check of a written file before it replaces the dropped one: a 1-bit BMP from its bytes (header,
// colour table, a length that holds every row), any other file decoded completely, every pixel. Ok
// when it is whole and width x height, otherwise the status of what failed.
Gdiplus::Status CheckWrittenFile(const char* path, UINT width, UINT height, bool monochromeBmp);

// Saves a 1-bit page over the dropped file as BMP and reports: "Failed to get BMP encoder",
// "Failed to save image. Status: %d", or `successFormat` with the backup's name.
void SaveMonochromeBmp(const char* path, const char* backupName, Gdiplus::Bitmap& page, const char* successFormat);
