// TIFF files through libtiff, always on memory: the writer builds the file in a buffer that
// the checked file writer then stores, the reader decodes bytes that were read with a size
// cap. libtiff's messages go to a handler of each open file that keeps the first error for
// the caller and prints nothing.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>

#include "snapshot/encoders.h"
#include "snapshot/image_file.h"

namespace taviro::snapshot {

namespace {

// A file held in memory: read from `input`, or written into `output`, which grows up to
// kMaxWritten bytes.
struct MemoryStream {
    const std::uint8_t* input = nullptr;
    std::uint64_t inputSize = 0;
    std::vector<std::uint8_t>* output = nullptr;
    std::uint64_t position = 0;
    bool failed = false;
    std::string error;  // libtiff's first error message
};

constexpr std::uint64_t kMaxWritten = 64ull * 1024 * 1024;

MemoryStream& StreamOf(thandle_t handle) {
    return *static_cast<MemoryStream*>(handle);
}

std::uint64_t SizeOf(const MemoryStream& stream) {
    return stream.output != nullptr ? stream.output->size() : stream.inputSize;
}

extern "C" tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryStream& stream = StreamOf(handle);
    if (size < 0 || stream.output != nullptr || stream.position >= stream.inputSize) {
        return 0;
    }
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(size),
                                                        stream.inputSize - stream.position);
    std::memcpy(buffer, stream.input + stream.position, static_cast<std::size_t>(count));
    stream.position += count;
    return static_cast<tmsize_t>(count);
}

extern "C" tmsize_t WriteProc(thandle_t handle, void* buffer, tmsize_t size) {
    MemoryStream& stream = StreamOf(handle);
    if (size < 0 || stream.output == nullptr) {
        stream.failed = true;
        return -1;
    }
    const auto count = static_cast<std::uint64_t>(size);
    if (count == 0) {
        return 0;  // nothing to copy (and an empty buffer may have no address)
    }
    if (stream.position > kMaxWritten || count > kMaxWritten - stream.position) {
        stream.failed = true;
        return -1;
    }
    const std::uint64_t end = stream.position + count;
    try {
        if (stream.output->size() < end) {
            stream.output->resize(static_cast<std::size_t>(end));
        }
    } catch (const std::bad_alloc&) {
        stream.failed = true;
        return -1;
    }
    std::memcpy(stream.output->data() + stream.position, buffer, static_cast<std::size_t>(count));
    stream.position = end;
    return size;
}

extern "C" toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    MemoryStream& stream = StreamOf(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) {
        base = stream.position;
    } else if (whence == SEEK_END) {
        base = SizeOf(stream);
    } else if (whence != SEEK_SET) {
        return static_cast<toff_t>(-1);
    }
    // Offsets are unsigned; a "negative" relative seek arrives as a huge value and wraps.
    const std::uint64_t target = base + offset;
    if (target > kMaxWritten + SizeOf(stream)) {
        return static_cast<toff_t>(-1);
    }
    stream.position = target;
    return target;
}

extern "C" int CloseProc(thandle_t) {
    return 0;
}

extern "C" toff_t SizeProc(thandle_t handle) {
    return SizeOf(StreamOf(handle));
}

extern "C" int MapProc(thandle_t, void**, toff_t*) {
    return 0;  // no mapping: every read goes through ReadProc, which checks its bounds
}

extern "C" void UnmapProc(thandle_t, void*, toff_t) {}

extern "C" int ErrorProc(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* stream = static_cast<MemoryStream*>(user);
    if (stream != nullptr && stream->error.empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        stream->error = std::string(module != nullptr ? module : "TIFF") + ": " + text;
    }
    return 1;  // handled: libtiff prints nothing
}

extern "C" int WarningProc(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// Messages libtiff reports before a file is open go to the process-wide handlers; those
// stay silent too.
void SilenceGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

TiffPtr Open(MemoryStream& stream, const char* mode, std::uint64_t maxAlloc) {
    SilenceGlobalHandlers();
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) {
        stream.error = "out of memory";
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), ErrorProc, &stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), WarningProc, &stream);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(maxAlloc));
    return TiffPtr(TIFFClientOpenExt("picture.tif", mode, &stream, ReadProc, WriteProc, SeekProc,
                                     CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
}

bool Fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

}  // namespace

bool EncodeTiff(const RgbImage& image, std::vector<std::uint8_t>* out, std::string* error) {
    const auto w = static_cast<std::size_t>(image.width);
    const auto h = static_cast<std::size_t>(image.height);
    if (image.width <= 0 || image.height <= 0 || image.bytes.size() < w * h * 3) {
        return Fail(error, "TIFF: bad picture size");
    }
    out->clear();
    MemoryStream stream;
    stream.output = out;
    bool ok = false;
    {
        TiffPtr tif = Open(stream, "w", kMaxWritten);
        if (tif) {
            TIFF* t = tif.get();
            ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(image.width)) &&
                 TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(image.height)) &&
                 TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8) &&
                 TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS) &&
                 TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) &&
                 TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3) &&
                 TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1) &&
                 TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
                 TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE) &&
                 TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
            // libtiff may work in the row it is given, so it gets a copy.
            std::vector<std::uint8_t> row(w * 3);
            for (std::size_t y = 0; ok && y < h; ++y) {
                std::memcpy(row.data(), image.bytes.data() + y * w * 3, w * 3);
                ok = TIFFWriteScanline(t, row.data(), static_cast<std::uint32_t>(y), 0) == 1;
            }
            ok = ok && TIFFFlush(t) == 1;
        }
    }  // closed here: the directory is complete in `out`
    if (!ok || stream.failed) {
        out->clear();
        return Fail(error,
                    "TIFF: " + (stream.error.empty() ? std::string("cannot write the picture")
                                                     : stream.error));
    }
    return true;
}

std::optional<RgbImage> DecodeTiff(std::span<const std::uint8_t> bytes, const ImageLimits& limits,
                                   std::string* error) {
    MemoryStream stream;
    stream.input = bytes.data();
    stream.inputSize = bytes.size();
    TiffPtr tif = Open(stream, "rm", limits.maxBytes);
    if (!tif) {
        Fail(error, "not a readable TIFF file" + (stream.error.empty() ? "" : ": " + stream.error));
        return std::nullopt;
    }
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1 || width == 0 || height == 0) {
        Fail(error, "TIFF file without a picture size");
        return std::nullopt;
    }
    const std::uint64_t pixels = std::uint64_t{width} * height;
    if (pixels > limits.maxPixels || pixels * 4 > limits.maxBytes || width > 0x7FFFFFFFu ||
        height > 0x7FFFFFFFu) {
        Fail(error, "TIFF picture " + std::to_string(width) + "x" + std::to_string(height) +
                        " is too large");
        return std::nullopt;
    }
    char message[1024] = {};
    if (TIFFRGBAImageOK(tif.get(), message) != 1) {
        Fail(error, std::string("TIFF picture cannot be read: ") + message);
        return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(pixels);
    std::unique_ptr<std::uint32_t[]> raster(new (std::nothrow) std::uint32_t[count]);
    RgbImage image;
    try {
        image.bytes.resize(count * 3);
    } catch (const std::bad_alloc&) {
        raster.reset();
    }
    if (!raster) {
        Fail(error, "out of memory for the TIFF picture");
        return std::nullopt;
    }
    if (TIFFReadRGBAImageOriented(tif.get(), width, height, raster.get(), ORIENTATION_TOPLEFT, 1) !=
        1) {
        Fail(error, "TIFF picture is damaged" + (stream.error.empty() ? "" : ": " + stream.error));
        return std::nullopt;
    }
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    // libtiff's RGBA colours are already multiplied by their alpha (unassociated alpha is
    // premultiplied while reading, associated alpha is stored so), which is the picture over
    // black; multiplying once more would darken every translucent pixel a second time and
    // turn opaque white into 254. The alpha byte is dropped.
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t p = raster[i];
        image.bytes[i * 3] = static_cast<std::uint8_t>(TIFFGetR(p));
        image.bytes[i * 3 + 1] = static_cast<std::uint8_t>(TIFFGetG(p));
        image.bytes[i * 3 + 2] = static_cast<std::uint8_t>(TIFFGetB(p));
    }
    return image;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uint64_t maxBytes, std::string* error) {
    std::error_code code;
    const std::uint64_t size = std::filesystem::file_size(path, code);
    if (code) {
        Fail(error, "cannot open " + path.string() + ": " + code.message());
        return std::nullopt;
    }
    if (size > maxBytes) {
        Fail(error, path.string() + " is too large");
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Fail(error, "cannot open " + path.string());
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        Fail(error, "out of memory for " + path.string());
        return std::nullopt;
    }
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    // The file may have changed size since it was measured; only what was read counts.
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) {
        Fail(error, "cannot read " + path.string());
        return std::nullopt;
    }
    return bytes;
}

std::optional<RgbImage> LoadTiffFile(const std::filesystem::path& path, std::string* error,
                                     const ImageLimits& limits) {
    const auto bytes = ReadWholeFile(path, kMaxImageFileBytes, error);
    if (!bytes) {
        return std::nullopt;
    }
    return DecodeTiff(*bytes, limits, error);
}

ImageKind ImageKindOfPath(const std::filesystem::path& path) {
    std::string lower = path.string();
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (lower.find(".tif") != std::string::npos) {
        return ImageKind::kTiff;
    }
    if (lower.find(".bmp") != std::string::npos) {
        return ImageKind::kBmp;
    }
    if (lower.find(".jpg") != std::string::npos) {
        return ImageKind::kJpeg;
    }
    return ImageKind::kNone;
}

}  // namespace taviro::snapshot
