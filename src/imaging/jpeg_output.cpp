// JPEG results written by the program's own encoder: some platforms' encoders ignore the quality asked
// for and drop every metadata segment, so the same page would come back differently on each.
#include "imaging/kernels/jpeg_encoder.h"
#include "imaging/kernels/jpeg_writer.h"
#include "imaging/kernels/lengths.h"
#include "imaging/page_files.h"
#include "imaging/save.h"

#include <algorithm>
#include <new>

using namespace Gdiplus;

// Files larger than this are not read whole; their results are written with the example tables.
constexpr LONGLONG kMaxJpegFileBytes = 1LL << 30;

// The whole file, or nothing when it cannot be read or is too large to hold.
static std::vector<std::uint8_t> ReadWholeFile(char const* path)
{
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length) || length.QuadPart > kMaxJpegFileBytes) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length.QuadPart));
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()) {
        return {};
    }
    return bytes;
}

JpegSource ReadJpegSource(char const* path)
{
    JpegSource source;
    try {
        std::vector<std::uint8_t> bytes = ReadWholeFile(path);
        source.content = ReadJpeg(bytes.data(), bytes.size(), source.image);
    } catch (const std::bad_alloc&) {
        source = JpegSource{};
    }
    return source;
}

// The layout a re-encoded result gets: the source's own sampling and tables (turned with the pixels,
// so each table still meets the frequencies it was made for) and metadata when the encoder can use
// them; otherwise the example tables at the source's estimated quality, or at 75, the common default.
// A re-encoded result codes Y, Cb and Cr as its JFIF header says: the source's Adobe segment goes.
static JpegImage EncoderLayout(const JpegSource& source, Turn turn, int width, int height)
{
    JpegImage image = TurnedLayout(source.image, turn);
    if (source.content == JpegContent::Malformed || !EncodesFromPixels(image)) {
        bool jpeg = source.content != JpegContent::Malformed;
        JpegImage example = JpegLayoutFor(
            width, height, jpeg ? EstimateJpegQuality(source.image.quant[source.image.components[0].table]) : 75);
        if (jpeg) example.metadata = std::move(image.metadata);
        image = std::move(example);
    }
    SetJpegSize(image, width, height);
    image.metadata.erase(std::remove_if(image.metadata.begin(), image.metadata.end(), IsAdobeSegment),
                         image.metadata.end());
    return image;
}

Status SaveJpegCoefficientsOver(char const* path, const JpegImage& image, Turn turn, REAL dpiX, REAL dpiY)
{
    try {
        JpegImage turned;
        const JpegImage& result = turn == Turn::None ? image : (turned = TurnJpeg(image, turn));
        std::vector<std::uint8_t> bytes = WriteJpeg(result, static_cast<std::uint16_t>(WholeDpi(dpiX)),
                                                    static_cast<std::uint16_t>(WholeDpi(dpiY)));
        return SaveBytesOver(path, bytes, static_cast<UINT>(result.widthPx), static_cast<UINT>(result.heightPx),
                             false);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}

Status SaveJpegOver(char const* path, Bitmap& result, const JpegSource& source, Turn turn, REAL dpiX, REAL dpiY)
{
    try {
        JpegImage image = EncoderLayout(source, turn, static_cast<int>(result.GetWidth()),
                                        static_cast<int>(result.GetHeight()));
        LockedPixels bgr = LockPixels(result, ImageLockModeRead, PixelFormat24bppRGB);
        if (!bgr) return GenericError;
        EncodeBgr(PixelRow(*bgr, 0), bgr->Stride, image);
        bgr.reset();
        return SaveJpegCoefficientsOver(path, image, Turn::None, dpiX, dpiY);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
}
