// JPEG results through libjpeg-turbo. The library reports errors through a C++ exception thrown from
// its error handler (it is built with unwind tables for that), so every owner below releases on the
// way out; its warnings (corrupt data the decoder worked round) are counted and never printed.
#include "imaging/jpeg_output.h"

#include "imaging/kernels/exif.h"
#include "imaging/kernels/lengths.h"
#include "imaging/kernels/resample.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include <jerror.h>
#include <jpeglib.h>
extern "C" {  // transupp.h, unlike jpeglib.h, does not say so itself
#include <transupp.h>
}

using namespace Gdiplus;

namespace {

// Rows decoded at a time before they are turned into the result's columns.
constexpr int kStripRows = 256;

struct JpegFailure {
    int code;  // the library's message code
};

[[noreturn]] void ThrowFailure(j_common_ptr info)
{
    throw JpegFailure{info->err->msg_code};
}

void CountWarning(j_common_ptr info, int level)
{
    if (level < 0) ++info->err->num_warnings;
}

void Silent(j_common_ptr) {}

jpeg_error_mgr* Errors(jpeg_error_mgr& errors)
{
    jpeg_std_error(&errors);
    errors.error_exit = ThrowFailure;
    errors.emit_message = CountWarning;
    errors.output_message = Silent;
    return &errors;
}

// A decoder over bytes in memory, destroyed with its owner; APPn and COM segments kept as read.
struct Decoder {
    jpeg_error_mgr errors{};
    jpeg_decompress_struct info{};
    Decoder(const std::uint8_t* bytes, std::size_t size)
    {
        info.err = Errors(errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
        jpeg_save_markers(&info, JPEG_COM, 0xFFFF);
        for (int n = 0; n < 16; ++n) jpeg_save_markers(&info, JPEG_APP0 + n, 0xFFFF);
    }
    ~Decoder() { jpeg_destroy_decompress(&info); }
};

// A result's bytes as its encoder makes them, in chunks that never move once added, so that the check
// can decode them on a thread of its own while the encoder is still at work.
class MadeBytes {
public:
    void Add(std::vector<std::uint8_t>&& chunk)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            chunks_.push_back(std::move(chunk));
        }
        added_.notify_one();
    }
    // No more chunks will come: the file is whole, or the encoder gave up.
    void Close()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        added_.notify_one();
    }
    // The chunk at `index` once it is added; null when none will be.
    const std::vector<std::uint8_t>* Chunk(std::size_t index)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        added_.wait(lock, [&] { return index < chunks_.size() || closed_; });
        return index < chunks_.size() ? &chunks_[index] : nullptr;
    }
    // The whole file, once closed.
    std::vector<std::uint8_t> Joined()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t size = 0;
        for (const auto& chunk : chunks_) size += chunk.size();
        std::vector<std::uint8_t> bytes;
        bytes.reserve(size);
        for (const auto& chunk : chunks_) bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        return bytes;
    }

private:
    std::mutex mutex_;
    std::condition_variable added_;
    std::deque<std::vector<std::uint8_t>> chunks_;
    bool closed_ = false;
};

constexpr std::size_t kChunkBytes = std::size_t{1} << 16;

// The encoder's destination: chunks handed to MadeBytes as they fill.
struct ChunkDestination {
    jpeg_destination_mgr manager{};  // first: the library's pointer to it points to this
    MadeBytes* made = nullptr;
    std::vector<std::uint8_t> chunk;

    static ChunkDestination& Of(j_compress_ptr info) { return *reinterpret_cast<ChunkDestination*>(info->dest); }
    void Start()
    {
        chunk.resize(kChunkBytes);
        manager.next_output_byte = chunk.data();
        manager.free_in_buffer = chunk.size();
    }
    static void Init(j_compress_ptr info) { Of(info).Start(); }
    static boolean Full(j_compress_ptr info)  // the whole chunk, whatever free_in_buffer says
    {
        ChunkDestination& destination = Of(info);
        destination.made->Add(std::move(destination.chunk));
        destination.Start();
        return TRUE;
    }
    static void Term(j_compress_ptr info)
    {
        ChunkDestination& destination = Of(info);
        destination.chunk.resize(destination.chunk.size() - destination.manager.free_in_buffer);
        destination.made->Add(std::move(destination.chunk));
        destination.made->Close();
    }
};

// The check's source: the chunks of MadeBytes as they come; where they end before the file does, an
// end-of-image marker and the library's warning that the file was cut.
struct ChunkSource {
    jpeg_source_mgr manager{};  // first, as above
    MadeBytes* made = nullptr;
    std::size_t next = 0;

    static ChunkSource& Of(j_decompress_ptr info) { return *reinterpret_cast<ChunkSource*>(info->src); }
    static void Init(j_decompress_ptr) {}
    static boolean Fill(j_decompress_ptr info)
    {
        static const JOCTET kEnd[] = {0xFF, JPEG_EOI};
        ChunkSource& source = Of(info);
        const std::vector<std::uint8_t>* chunk = source.made->Chunk(source.next);
        while (chunk && chunk->empty()) chunk = source.made->Chunk(++source.next);
        if (!chunk) {
            WARNMS(info, JWRN_JPEG_EOF);
            source.manager.next_input_byte = kEnd;
            source.manager.bytes_in_buffer = sizeof kEnd;
            return TRUE;
        }
        ++source.next;
        source.manager.next_input_byte = chunk->data();
        source.manager.bytes_in_buffer = chunk->size();
        return TRUE;
    }
    static void Skip(j_decompress_ptr info, long count)
    {
        jpeg_source_mgr& manager = *info->src;
        while (count > static_cast<long>(manager.bytes_in_buffer)) {
            count -= static_cast<long>(manager.bytes_in_buffer);
            Fill(info);
        }
        manager.next_input_byte += count;
        manager.bytes_in_buffer -= static_cast<std::size_t>(count);
    }
    static void Term(j_decompress_ptr) {}
};

Status FailureStatus(const JpegFailure& failure)
{
    return failure.code == JERR_OUT_OF_MEMORY ? OutOfMemory : GenericError;
}

struct CheckedSize {
    Status status = GenericError;
    JDIMENSION widthPx = 0, heightPx = 0;
};

// The check of a result: every coefficient decoded from its scans, where a file can be cut or corrupt;
// all but the last row's dropped untransformed (the inverse transform takes any coefficients). Ok, with
// the size its header states, when it decodes to the end without a warning.
CheckedSize DecodeWhole(MadeBytes& made)
{
    CheckedSize checked;
    try {
        jpeg_error_mgr errors{};
        jpeg_decompress_struct info{};
        info.err = Errors(errors);
        jpeg_create_decompress(&info);
        std::unique_ptr<jpeg_decompress_struct, decltype(&jpeg_destroy_decompress)> owner(&info,
                                                                                            jpeg_destroy_decompress);
        ChunkSource source;
        source.made = &made;
        source.manager.init_source = ChunkSource::Init;
        source.manager.fill_input_buffer = ChunkSource::Fill;
        source.manager.skip_input_data = ChunkSource::Skip;
        source.manager.resync_to_restart = jpeg_resync_to_restart;
        source.manager.term_source = ChunkSource::Term;
        info.src = &source.manager;
        jpeg_read_header(&info, TRUE);
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
        jpeg_start_decompress(&info);
        jpeg_skip_scanlines(&info, info.output_height - 1);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(info.output_width) * info.output_components);
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        jpeg_finish_decompress(&info);
        checked = {errors.num_warnings == 0 ? Ok : GenericError, info.image_width, info.image_height};
    } catch (const JpegFailure& failure) {
        checked.status = FailureStatus(failure);
    } catch (const std::bad_alloc&) {
        checked.status = OutOfMemory;
    }
    return checked;
}

// Ok when the check decoded the file whole at the size meant.
Status Verdict(const CheckedSize& checked, JDIMENSION widthPx, JDIMENSION heightPx)
{
    if (checked.status != Ok) return checked.status;
    return checked.widthPx == widthPx && checked.heightPx == heightPx ? Ok : GenericError;
}

// An encoder whose file is checked as it is made: from ToCheckedMemory on, a thread of its own decodes
// the bytes as they come (where no thread can be started, Finish decodes them). Finish gives the file
// with the check's verdict; on every other way out the check is told that no more bytes come and
// waited for.
struct Encoder {
    jpeg_error_mgr errors{};
    jpeg_compress_struct info{};
    MadeBytes made;
    ChunkDestination destination;
    std::future<CheckedSize> check;
    Encoder()
    {
        info.err = Errors(errors);
        jpeg_create_compress(&info);
    }
    ~Encoder()
    {
        made.Close();
        if (check.valid()) check.wait();
        jpeg_destroy_compress(&info);
    }
    void ToCheckedMemory()
    {
        destination.made = &made;
        destination.manager.init_destination = ChunkDestination::Init;
        destination.manager.empty_output_buffer = ChunkDestination::Full;
        destination.manager.term_destination = ChunkDestination::Term;
        info.dest = &destination.manager;
        try {
            check = std::async(std::launch::async, DecodeWhole, std::ref(made));
        } catch (const std::system_error&) {
            // No thread to be had: the check runs here once the file is made.
        }
    }
    JpegResult Finish(bool lossless)
    {
        jpeg_finish_compress(&info);
        CheckedSize checked = check.valid() ? check.get() : DecodeWhole(made);
        return {Verdict(checked, info.image_width, info.image_height), made.Joined(),
                static_cast<int>(info.image_width), static_cast<int>(info.image_height), lossless};
    }
};

bool IsSegment(const jpeg_marker_struct& marker, int code, const char* name, std::size_t length)
{
    return marker.marker == code && marker.data_length >= length && std::memcmp(marker.data, name, length) == 0;
}

// The source's APPn and COM segments, in their order, written into the result (after the JFIF or Adobe
// header the library writes for the result's colour space): JFIF and Adobe headers are the library's to
// write, so the source's go, and so does a JFXX thumbnail (the picture before); EXIF gets the
// resolution, the result's pixel size and no thumbnail; the rest (ICC profile, XMP, comments...) as it
// was. The EXIF orientation tag stays: the stored pixels turn, so a viewer shows the user's view turned.
void WriteMetadata(jpeg_compress_struct& result, const jpeg_decompress_struct& source, std::uint16_t dpiX,
                   std::uint16_t dpiY)
{
    for (jpeg_saved_marker_ptr marker = source.marker_list; marker; marker = marker->next) {
        if (IsSegment(*marker, JPEG_APP0, "JFIF\0", 5) || IsSegment(*marker, JPEG_APP0, "JFXX\0", 5) ||
            IsSegment(*marker, JPEG_APP0 + 14, "Adobe", 5)) {
            continue;
        }
        if (IsSegment(*marker, JPEG_APP0 + 1, "Exif\0\0", 6)) {
            std::vector<std::uint8_t> exif(marker->data, marker->data + marker->data_length);
            SetExifResolution(exif.data() + 6, exif.size() - 6, dpiX, dpiY);
            exif.resize(6 + SetExifPixelSizeDroppingThumbnail(exif.data() + 6, exif.size() - 6, result.image_width,
                                                              result.image_height));
            jpeg_write_marker(&result, marker->marker, exif.data(), static_cast<unsigned>(exif.size()));
            continue;
        }
        jpeg_write_marker(&result, marker->marker, marker->data, marker->data_length);
    }
}

// Component ids as the colour space written names them (JFIF's 1, 2, 3; 'R', 'G', 'B', 'C', 'M', 'Y', 'K'
// with an Adobe marker), whatever the source's said, so that a decoder that goes by the ids decodes
// what was written.
void NameComponents(jpeg_compress_struct& result)
{
    const char* names = nullptr;
    switch (result.jpeg_color_space) {
    case JCS_GRAYSCALE: names = "\1"; break;
    case JCS_YCbCr: names = "\1\2\3"; break;
    case JCS_RGB: names = "RGB"; break;
    case JCS_CMYK: names = "CMYK"; break;
    case JCS_YCCK: names = "YCCK"; break;
    default: return;
    }
    for (int c = 0; c < result.num_components && names[c] != '\0'; ++c) result.comp_info[c].component_id = names[c];
}

bool SameHuffmanTable(const JHUFF_TBL& table, const JHUFF_TBL& other)
{
    int codes = 0;
    for (int length = 1; length <= 16; ++length) {
        if (table.bits[length] != other.bits[length]) return false;
        codes += table.bits[length];
    }
    return std::equal(table.huffval, table.huffval + codes, other.huffval);  // at most 256: the reader checks
}

// True when every Huffman table the source defines is one of the standard tables, which `result` holds
// from its defaults, as most scanners and cameras write them (a file that defines none uses them too).
bool HasOnlyStandardHuffmanTables(const jpeg_decompress_struct& source, const jpeg_compress_struct& result)
{
    auto standard = [](const JHUFF_TBL* table, JHUFF_TBL* const (&defaults)[NUM_HUFF_TBLS]) {
        return !table || SameHuffmanTable(*table, *defaults[0]) || SameHuffmanTable(*table, *defaults[1]);
    };
    for (int n = 0; n < NUM_HUFF_TBLS; ++n) {
        if (!standard(source.dc_huff_tbl_ptrs[n], result.dc_huff_tbl_ptrs) ||
            !standard(source.ac_huff_tbl_ptrs[n], result.ac_huff_tbl_ptrs)) {
            return false;
        }
    }
    return true;
}

// The result's header: component ids named by its colour space; the resolution in whole DPI; a JFIF
// header where the colour space calls for one or the source had one (which may be where its resolution
// was stated); the source's coding kept. A sequential Huffman source coded with the standard tables
// gets them again, in one pass; any other gets tables made for the result's own symbols, a second pass
// that keeps the file as small as the source was (the library makes them for every progressive file).
void SetHeader(jpeg_compress_struct& result, const jpeg_decompress_struct& source, std::uint16_t dpiX,
               std::uint16_t dpiY)
{
    NameComponents(result);
    result.write_JFIF_header = source.saw_JFIF_marker || result.jpeg_color_space == JCS_YCbCr ||
                               result.jpeg_color_space == JCS_GRAYSCALE;
    result.density_unit = 1;
    result.X_density = dpiX;
    result.Y_density = dpiY;
    result.arith_code = source.arith_code;
    result.optimize_coding = !source.arith_code && !HasOnlyStandardHuffmanTables(source, result);
    if (source.progressive_mode) jpeg_simple_progression(&result);
}

// The source's tables and sampling turned with the picture: each component's factors swapped and each
// quantisation table transposed, so that every table meets the frequencies it was made for.
void TransposeLayout(jpeg_compress_struct& result)
{
    for (int c = 0; c < result.num_components; ++c) {
        std::swap(result.comp_info[c].h_samp_factor, result.comp_info[c].v_samp_factor);
    }
    for (JQUANT_TBL* table : result.quant_tbl_ptrs) {
        if (!table) continue;
        for (int row = 0; row < DCTSIZE; ++row) {
            for (int column = row + 1; column < DCTSIZE; ++column) {
                std::swap(table->quantval[row * DCTSIZE + column], table->quantval[column * DCTSIZE + row]);
            }
        }
    }
}

// Encodes `widthPx` x `heightPx` pixels of the source's colour space, rows `stride` bytes apart, with the
// source's tables and sampling (transposed when `turn` turned the picture) and its metadata.
JpegResult EncodeLikeSource(jpeg_decompress_struct& source, const std::uint8_t* pixels, std::size_t stride,
                            int widthPx, int heightPx, Turn turn, std::uint16_t dpiX, std::uint16_t dpiY)
{
    Encoder encoder;
    jpeg_compress_struct& result = encoder.info;
    jpeg_copy_critical_parameters(&source, &result);  // in the source's colour space: no conversion
    result.image_width = static_cast<JDIMENSION>(widthPx);
    result.image_height = static_cast<JDIMENSION>(heightPx);
    if (turn != Turn::None) TransposeLayout(result);
    SetHeader(result, source, dpiX, dpiY);
    encoder.ToCheckedMemory();
    jpeg_start_compress(&result, TRUE);
    WriteMetadata(result, source, dpiX, dpiY);
    while (result.next_scanline < result.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + stride * result.next_scanline);
        jpeg_write_scanlines(&result, &row, 1);
    }
    return encoder.Finish(false);
}

// The source's coefficients turned by transupp.c, or false (nothing read past the header) where its
// perfect check finds partial blocks on the edge that the turn would move.
bool TurnCoefficients(Decoder& decoder, Turn turn, std::uint16_t dpiX, std::uint16_t dpiY, JpegResult& turned)
{
    jpeg_transform_info transform{};
    transform.transform = turn == Turn::Clockwise          ? JXFORM_ROT_90
                          : turn == Turn::CounterClockwise ? JXFORM_ROT_270
                                                           : JXFORM_NONE;
    transform.perfect = TRUE;
    if (!jtransform_request_workspace(&decoder.info, &transform)) return false;
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(&decoder.info);
    Encoder encoder;
    jpeg_copy_critical_parameters(&decoder.info, &encoder.info);
    jvirt_barray_ptr* moved = jtransform_adjust_parameters(&decoder.info, &encoder.info, coefficients, &transform);
    SetHeader(encoder.info, decoder.info, dpiX, dpiY);
    encoder.ToCheckedMemory();
    jpeg_write_coefficients(&encoder.info, moved);
    WriteMetadata(encoder.info, decoder.info, dpiX, dpiY);
    jtransform_execute_transform(&decoder.info, &encoder.info, coefficients, &transform);
    turned = encoder.Finish(true);
    jpeg_finish_decompress(&decoder.info);
    return true;
}

// Starts decoding the source's pixels in its own colour space, so that they are encoded again without a
// colour conversion either way (a CMYK file stays CMYK, an RGB one RGB).
void StartNativeDecode(jpeg_decompress_struct& source)
{
    source.out_color_space = source.jpeg_color_space;
    jpeg_start_decompress(&source);
}

// Reads the next `rows` rows (or as many as are left) into `strip`; returns how many.
int ReadStrip(jpeg_decompress_struct& source, std::uint8_t* strip, std::size_t stride, int rows)
{
    int read = 0;
    while (read < rows && source.output_scanline < source.output_height) {
        JSAMPROW row = strip + stride * static_cast<std::size_t>(read);
        read += static_cast<int>(jpeg_read_scanlines(&source, &row, 1));
    }
    return read;
}

// Rows `firstRow` on of a `width` x `height` picture of `Channels` bytes a pixel, held in `strip`
// (`rows` rows `stride` bytes apart), copied to their columns of the picture turned by `turn` (rows
// `turnedStride` bytes apart): clockwise, pixel (x, y) goes to (height - 1 - y, x); counter-clockwise
// to (y, width - 1 - x). A few columns at a time, so that both sides stay in the cache.
template <int Channels>
void TurnStrip(const std::uint8_t* strip, std::size_t stride, int width, int rows, int firstRow, int height,
               std::uint8_t* turned, std::size_t turnedStride, Turn turn)
{
    constexpr int kColumns = 32;
    bool clockwise = turn == Turn::Clockwise;
    // Each result row gets the strip's pixels of one column as one run: clockwise the strip's last row
    // first, so that the run is written forwards.
    std::size_t firstColumn = static_cast<std::size_t>(clockwise ? height - firstRow - rows : firstRow);
    std::ptrdiff_t step = clockwise ? -static_cast<std::ptrdiff_t>(stride) : static_cast<std::ptrdiff_t>(stride);
    const std::uint8_t* firstFrom = strip + (clockwise ? stride * static_cast<std::size_t>(rows - 1) : 0);
    for (int x0 = 0; x0 < width; x0 += kColumns) {
        int x1 = std::min(width, x0 + kColumns);
        for (int x = x0; x < x1; ++x) {
            std::size_t row = static_cast<std::size_t>(clockwise ? x : width - 1 - x);
            std::uint8_t* to = turned + row * turnedStride + firstColumn * Channels;
            const std::uint8_t* from = firstFrom + static_cast<std::size_t>(x) * Channels;
            for (int r = 0; r < rows; ++r, to += Channels, from += step) std::memcpy(to, from, Channels);
        }
    }
}

void TurnStripOf(int channels, const std::uint8_t* strip, std::size_t stride, int width, int rows, int firstRow,
                 int height, std::uint8_t* turned, std::size_t turnedStride, Turn turn)
{
    switch (channels) {
    case 1: TurnStrip<1>(strip, stride, width, rows, firstRow, height, turned, turnedStride, turn); break;
    case 3: TurnStrip<3>(strip, stride, width, rows, firstRow, height, turned, turnedStride, turn); break;
    case 4: TurnStrip<4>(strip, stride, width, rows, firstRow, height, turned, turnedStride, turn); break;
    default: TurnStrip<2>(strip, stride, width, rows, firstRow, height, turned, turnedStride, turn); break;
    }
}

// The source's pixels turned: decoded a strip of rows at a time, each strip turned into its columns of
// the result, so that only one page of pixels is ever held.
JpegResult TurnPixelsAndEncode(Decoder& decoder, Turn turn, std::uint16_t dpiX, std::uint16_t dpiY)
{
    jpeg_decompress_struct& source = decoder.info;
    StartNativeDecode(source);
    int width = static_cast<int>(source.output_width), height = static_cast<int>(source.output_height);
    int channels = source.output_components;
    std::size_t stride = static_cast<std::size_t>(width) * channels;
    std::size_t turnedStride = static_cast<std::size_t>(height) * channels;
    std::vector<std::uint8_t> strip(stride * kStripRows);
    // Every byte is written by the turn: no zeroing pass over a page of fresh memory first.
    auto turned = std::make_unique_for_overwrite<std::uint8_t[]>(turnedStride * width);
    for (int y = 0; y < height;) {
        int rows = ReadStrip(source, strip.data(), stride, kStripRows);
        if (rows == 0) break;
        TurnStripOf(channels, strip.data(), stride, width, rows, y, height, turned.get(), turnedStride, turn);
        y += rows;
    }
    // No jpeg_finish_decompress: it would free the frame and the saved segments the encoder copies.
    return EncodeLikeSource(source, turned.get(), turnedStride, height, width, turn, dpiX, dpiY);
}

// The whole-plane resampler works on 1 and 3 channels; 2 and 4 (CMYK, YCCK) go one plane at a time.
void ResamplePixels(const std::vector<std::uint8_t>& pixels, int width, int height, int channels,
                    std::vector<std::uint8_t>& result, int newWidth, int newHeight)
{
    if (channels == 1 || channels == 3) {
        ResampleBicubic(pixels.data(), static_cast<std::ptrdiff_t>(width) * channels, width, height, channels,
                        result.data(), static_cast<std::ptrdiff_t>(newWidth) * channels, newWidth, newHeight);
        return;
    }
    std::size_t count = static_cast<std::size_t>(width) * height, newCount = static_cast<std::size_t>(newWidth) * newHeight;
    std::vector<std::uint8_t> plane(count), newPlane(newCount);
    for (int c = 0; c < channels; ++c) {
        for (std::size_t i = 0; i < count; ++i) plane[i] = pixels[i * channels + c];
        ResampleBicubic(plane.data(), width, width, height, 1, newPlane.data(), newWidth, newWidth, newHeight);
        for (std::size_t i = 0; i < newCount; ++i) result[i * channels + c] = newPlane[i];
    }
}

// True when `bytes` start as a JPEG file does (a start-of-image marker then a marker).
bool IsJpegData(const std::vector<std::uint8_t>& bytes)
{
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

// A resolution as a result states it: in whole DPI.
std::uint16_t Stated(REAL dpi)
{
    return static_cast<std::uint16_t>(WholeDpi(dpi));
}

JpegResult Failed(Status status)
{
    JpegResult result;
    result.status = status;
    return result;
}

// The result of `work`, or the failure of a library error or of memory that ran out within it.
template <class Work> JpegResult Guarded(Work work)
{
    try {
        return work();
    } catch (const JpegFailure& failure) {
        return Failed(FailureStatus(failure));
    } catch (const std::bad_alloc&) {
        return Failed(OutOfMemory);
    }
}

}  // namespace

JpegResult TurnedJpeg(const std::vector<std::uint8_t>& source, Turn turn, REAL resolutionX, REAL resolutionY)
{
    std::uint16_t dpiX = Stated(resolutionX), dpiY = Stated(resolutionY);
    return Guarded([&] {
        Decoder decoder(source.data(), source.size());
        jpeg_read_header(&decoder.info, TRUE);
        JpegResult turned;
        if (TurnCoefficients(decoder, turn, dpiX, dpiY, turned)) return turned;
        return TurnPixelsAndEncode(decoder, turn, dpiX, dpiY);
    });
}

JpegResult ScaledJpeg(const std::vector<std::uint8_t>& source, int widthPx, int heightPx, REAL resolutionX,
                      REAL resolutionY)
{
    std::uint16_t dpiX = Stated(resolutionX), dpiY = Stated(resolutionY);
    if (widthPx < 1 || heightPx < 1 || widthPx > kMaxJpegSide || heightPx > kMaxJpegSide) return Failed(ValueOverflow);
    return Guarded([&] {
        Decoder decoder(source.data(), source.size());
        jpeg_read_header(&decoder.info, TRUE);
        StartNativeDecode(decoder.info);
        int width = static_cast<int>(decoder.info.output_width), height = static_cast<int>(decoder.info.output_height);
        int channels = decoder.info.output_components;
        std::size_t stride = static_cast<std::size_t>(width) * channels;
        std::vector<std::uint8_t> pixels(stride * height);
        ReadStrip(decoder.info, pixels.data(), stride, height);
        std::vector<std::uint8_t> scaled(static_cast<std::size_t>(widthPx) * heightPx * channels);
        ResamplePixels(pixels, width, height, channels, scaled, widthPx, heightPx);
        pixels = {};
        return EncodeLikeSource(decoder.info, scaled.data(), static_cast<std::size_t>(widthPx) * channels, widthPx,
                                heightPx, Turn::None, dpiX, dpiY);
    });
}

JpegResult EncodedBgr(const std::vector<std::uint8_t>& source, const std::uint8_t* bgr, std::ptrdiff_t stride,
                      int widthPx, int heightPx, REAL resolutionX, REAL resolutionY)
{
    std::uint16_t dpiX = Stated(resolutionX), dpiY = Stated(resolutionY);
    if (widthPx < 1 || heightPx < 1 || widthPx > kMaxJpegSide || heightPx > kMaxJpegSide) return Failed(ValueOverflow);
    return Guarded([&] {
        std::optional<Decoder> decoder;
        Encoder encoder;
        jpeg_compress_struct& result = encoder.info;
        if (IsJpegData(source)) {
            decoder.emplace(source.data(), source.size());
            jpeg_read_header(&decoder->info, TRUE);
            jpeg_copy_critical_parameters(&decoder->info, &result);
            SetHeader(result, decoder->info, dpiX, dpiY);
        } else {
            result.in_color_space = JCS_EXT_BGR;
            jpeg_set_defaults(&result);
            jpeg_set_quality(&result, 75, TRUE);
            for (int c = 0; c < result.num_components; ++c) {
                result.comp_info[c].h_samp_factor = result.comp_info[c].v_samp_factor = 1;
            }
            result.optimize_coding = TRUE;
            result.density_unit = 1;
            result.X_density = dpiX;
            result.Y_density = dpiY;
        }
        result.image_width = static_cast<JDIMENSION>(widthPx);
        result.image_height = static_cast<JDIMENSION>(heightPx);
        result.input_components = 3;
        result.in_color_space = JCS_EXT_BGR;
        encoder.ToCheckedMemory();
        jpeg_start_compress(&result, TRUE);
        if (decoder) WriteMetadata(result, decoder->info, dpiX, dpiY);
        while (result.next_scanline < result.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(bgr + stride * static_cast<std::ptrdiff_t>(result.next_scanline));
            jpeg_write_scanlines(&result, &row, 1);
        }
        return encoder.Finish(false);
    });
}

BitmapPtr DecodedJpeg(const std::vector<std::uint8_t>& source, REAL dpiX, REAL dpiY)
{
    try {
        Decoder decoder(source.data(), source.size());
        jpeg_read_header(&decoder.info, TRUE);
        J_COLOR_SPACE space = decoder.info.jpeg_color_space;
        if (space == JCS_CMYK || space == JCS_YCCK) return nullptr;
        bool grey = decoder.info.num_components == 1;
        decoder.info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
        jpeg_start_decompress(&decoder.info);
        PixelFormat format = grey ? PixelFormat8bppIndexed : PixelFormat24bppRGB;
        BitmapPtr bitmap = NewBitmap(static_cast<int>(decoder.info.output_width),
                                     static_cast<int>(decoder.info.output_height), format, dpiX, dpiY);
        if (!bitmap) return nullptr;
        if (grey) {
            std::vector<ARGB> levels(256);
            for (ARGB level = 0; level < 256; ++level) levels[level] = 0xFF000000u | level * 0x010101u;
            if (SetPaletteEntries(*bitmap, levels) != Ok) return nullptr;
        }
        LockedPixels pixels = LockPixels(*bitmap, ImageLockModeWrite, format);
        if (!pixels) return nullptr;
        while (decoder.info.output_scanline < decoder.info.output_height) {
            JSAMPROW row = PixelRow(*pixels, static_cast<int>(decoder.info.output_scanline));
            jpeg_read_scanlines(&decoder.info, &row, 1);
        }
        jpeg_finish_decompress(&decoder.info);
        pixels.reset();
        return bitmap;
    } catch (const JpegFailure&) {
        return nullptr;
    }
}

Status CheckJpegBytes(const std::vector<std::uint8_t>& bytes, int widthPx, int heightPx)
{
    MadeBytes made;
    for (std::size_t at = 0; at < bytes.size(); at += kChunkBytes) {
        auto from = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        std::size_t size = std::min(kChunkBytes, bytes.size() - at);
        made.Add(std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(size)));
    }
    made.Close();
    return Verdict(DecodeWhole(made), static_cast<JDIMENSION>(widthPx), static_cast<JDIMENSION>(heightPx));
}
