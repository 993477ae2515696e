// The snapshot files: BMP layout, JPEG and TIFF read back with their own libraries, a write
// that fails leaving nothing, and the viewer's TIFF loader on hostile files.
#include <gtest/gtest.h>

#include <jpeglib.h>
#include <tiffio.h>
#include "snapshot/snapshot_job.h"

#include <array>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "snapshot/encoders.h"
#include "snapshot/image_file.h"
#include "support/temp_folder_test.h"

namespace taviro::snapshot {
namespace {

namespace fs = std::filesystem;

// 800 x 600: the top half (200, 100, 50), the bottom half (10, 20, 240).
RgbImage TwoHalves() {
    RgbImage image;
    image.width = kOutputWidth;
    image.height = kOutputHeight;
    image.bytes.resize(800u * 600u * 3u);
    for (std::size_t y = 0; y < 600; ++y) {
        for (std::size_t x = 0; x < 800; ++x) {
            std::uint8_t* p = image.bytes.data() + (y * 800 + x) * 3;
            const bool top = y < 300;
            p[0] = top ? 200 : 10;
            p[1] = top ? 100 : 20;
            p[2] = top ? 50 : 240;
        }
    }
    return image;
}

std::vector<std::uint8_t> ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) |
           (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 3]} << 24);
}

class SnapshotFiles : public taviro::testing::CTempFolderTest {
  protected:
    SnapshotFiles() : CTempFolderTest("taviro-snapshot-files-") {}
    void SetUp() override {
        CTempFolderTest::SetUp();
        fs::create_directories(m_root);
    }
    std::size_t Entries() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(m_root), fs::directory_iterator()));
    }
};

TEST_F(SnapshotFiles, BmpHasTheFixedHeaderAndBottomUpBgrRows) {
    const fs::path file = m_root / "a.bmp";
    std::string error;
    ASSERT_TRUE(WriteSnapshotFile(file, TwoHalves(), SaveFormat::kBmp, &error)) << error;
    const auto bytes = ReadAll(file);
    ASSERT_EQ(bytes.size(), 1'440'054u);
    EXPECT_EQ(bytes[0], 'B');
    EXPECT_EQ(bytes[1], 'M');
    EXPECT_EQ(Le32(bytes, 2), 1'440'054u);
    EXPECT_EQ(Le32(bytes, 10), 54u);
    EXPECT_EQ(Le32(bytes, 14), 40u);
    EXPECT_EQ(Le32(bytes, 18), 800u);
    EXPECT_EQ(Le32(bytes, 22), 600u);
    EXPECT_EQ(bytes[26] | (bytes[27] << 8), 1);
    EXPECT_EQ(bytes[28] | (bytes[29] << 8), 24);
    EXPECT_EQ(Le32(bytes, 30), 0u);
    EXPECT_EQ(Le32(bytes, 34), 1'440'000u);
    for (std::size_t at = 38; at < 54; ++at) {
        EXPECT_EQ(bytes[at], 0) << at;
    }
    // The first stored row is the bottom one, blue first.
    EXPECT_EQ((std::array<int, 3>{bytes[54], bytes[55], bytes[56]}),
              (std::array<int, 3>{240, 20, 10}));
    const std::size_t last = bytes.size() - 3;
    EXPECT_EQ((std::array<int, 3>{bytes[last], bytes[last + 1], bytes[last + 2]}),
              (std::array<int, 3>{50, 100, 200}));
    EXPECT_EQ(Entries(), 1u);  // no temporary file left
}

struct JpegReadError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void JpegReadFailed(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegReadError*>(info->err)->jump, 1);
}

// Decodes into `rgb`; false when libjpeg rejects the data.
bool DecodeJpeg(const std::vector<std::uint8_t>& bytes, int* width, int* height,
                std::vector<std::uint8_t>* rgb) {
    jpeg_decompress_struct info{};
    JpegReadError error{};
    info.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = JpegReadFailed;
    if (setjmp(error.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *width = static_cast<int>(info.output_width);
    *height = static_cast<int>(info.output_height);
    rgb->resize(static_cast<std::size_t>(info.output_width) * info.output_height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = rgb->data() + std::size_t{info.output_scanline} * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

TEST_F(SnapshotFiles, JpegReadsBackTopDownInRgb) {
    const fs::path file = m_root / "a.jpg";
    std::string error;
    ASSERT_TRUE(WriteSnapshotFile(file, TwoHalves(), SaveFormat::kJpeg, &error)) << error;
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    ASSERT_TRUE(DecodeJpeg(ReadAll(file), &width, &height, &rgb));
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 600);
    auto near = [](int a, int b) { return a - b <= 6 && b - a <= 6; };
    const std::uint8_t* top = rgb.data() + (100u * 800u + 400u) * 3;
    const std::uint8_t* bottom = rgb.data() + (500u * 800u + 400u) * 3;
    EXPECT_TRUE(near(top[0], 200) && near(top[1], 100) && near(top[2], 50))
        << int{top[0]} << "," << int{top[1]} << "," << int{top[2]};
    EXPECT_TRUE(near(bottom[0], 10) && near(bottom[1], 20) && near(bottom[2], 240));
}

TEST_F(SnapshotFiles, TiffCarriesTheTagsAndExactRows) {
    const fs::path file = m_root / "a.tif";
    std::string error;
    ASSERT_TRUE(WriteSnapshotFile(file, TwoHalves(), SaveFormat::kTiff, &error)) << error;
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::uint32_t width = 0, length = 0, rowsPerStrip = 0;
    std::uint16_t compression = 0, photometric = 0, samples = 0, bits = 0, planar = 0,
                  orientation = 0, unit = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    EXPECT_EQ(width, 800u);
    EXPECT_EQ(length, 600u);
    EXPECT_EQ(rowsPerStrip, 1u);
    EXPECT_EQ(compression, 32773);
    EXPECT_EQ(photometric, 2);
    EXPECT_EQ(samples, 3);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(planar, 1);
    EXPECT_EQ(orientation, 1);
    EXPECT_EQ(unit, 1);
    std::vector<std::uint8_t> row(800 * 3);
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), 0, 0), 1);
    EXPECT_EQ((std::array<int, 3>{row[0], row[1], row[2]}), (std::array<int, 3>{200, 100, 50}));
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), 599, 0), 1);
    EXPECT_EQ((std::array<int, 3>{row[2397], row[2398], row[2399]}),
              (std::array<int, 3>{10, 20, 240}));
    TIFFClose(tif);
}

TEST_F(SnapshotFiles, FailedWriteLeavesNothingBehind) {
    std::string error;
    // The "folder" is a file: nothing can be created in it.
    const fs::path notAFolder = m_root / "plain";
    std::ofstream(notAFolder) << "x";
    EXPECT_FALSE(WriteSnapshotFile(notAFolder / "a.bmp", TwoHalves(), SaveFormat::kBmp, &error));
    EXPECT_FALSE(error.empty());
    // The target is a folder: the finished temporary file cannot take its place.
    fs::create_directory(m_root / "b.tif");
    for (SaveFormat format : {SaveFormat::kJpeg, SaveFormat::kBmp, SaveFormat::kTiff}) {
        error.clear();
        EXPECT_FALSE(WriteSnapshotFile(m_root / "b.tif", TwoHalves(), format, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(Entries(), 2u);  // "plain" and the folder "b.tif", no temporary file
    EXPECT_FALSE(WriteSnapshotFile(m_root / "c.bmp", RgbImage{}, SaveFormat::kBmp, &error));
    EXPECT_FALSE(fs::exists(m_root / "c.bmp"));
}

// With several recorders the file names start with the recorder's name, made safe for a
// file name (no folder, no space); with one they are as they always were.
TEST(SnapshotNames, CarryTheRecorderWhenGiven) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 10;
    t.tm_hour = 8;
    EXPECT_EQ(SnapshotFileName(t, 2, SaveFormat::kJpeg), "20261210080000_0003.jpg");
    EXPECT_EQ(SnapshotFileName(t, 2, SaveFormat::kJpeg, "10.0.0.7:2000"),
              "10.0.0.7_2000_20261210080000_0003.jpg");
    EXPECT_EQ(SnapshotFileName(t, 15, SaveFormat::kJpeg, "../Yard gate/"),
              ".._Yard_gate__20261210080000_0016.jpg");
}

TEST_F(SnapshotFiles, LoaderDispatchesByNameWithTiffFirst) {
    EXPECT_EQ(ImageKindOfPath("/x/shot.TIF.jpg"), ImageKind::kTiff);
    EXPECT_EQ(ImageKindOfPath("/x/shot.tiff"), ImageKind::kTiff);
    EXPECT_EQ(ImageKindOfPath("/x/Shot.BMP"), ImageKind::kBmp);
    EXPECT_EQ(ImageKindOfPath("/x/shot.jpg.bmp"), ImageKind::kBmp);
    EXPECT_EQ(ImageKindOfPath("/x/shot.jpeg"), ImageKind::kNone);
    EXPECT_EQ(ImageKindOfPath("/x/shot.png"), ImageKind::kNone);

    // A TIFF named like a JPEG opens as TIFF; opaque colours come back exactly.
    const fs::path file = m_root / "shot.TIF.jpg";
    std::string error;
    ASSERT_TRUE(WriteSnapshotFile(file, TwoHalves(), SaveFormat::kTiff, &error)) << error;
    ASSERT_EQ(ImageKindOfPath(file), ImageKind::kTiff);
    const auto image = LoadTiffFile(file, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->width, 800);
    EXPECT_EQ(image->height, 600);
    ASSERT_EQ(image->bytes.size(), 800u * 600u * 3u);
    EXPECT_EQ((std::array<int, 3>{image->bytes[0], image->bytes[1], image->bytes[2]}),
              (std::array<int, 3>{200, 100, 50}));
    const std::size_t last = image->bytes.size() - 3;
    EXPECT_EQ(image->bytes[last + 2], 240);
}

// A little-endian TIFF header with one directory of the given entries (type SHORT/LONG).
std::vector<std::uint8_t> TinyTiff(std::uint32_t width, std::uint32_t height) {
    std::vector<std::uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    const std::vector<Entry> entries = {
        {256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8},
        {259, 3, 1, 1},     {262, 3, 1, 1},      {273, 4, 1, 200},
        {277, 3, 1, 1},     {278, 4, 1, height}, {279, 4, 1, 16},
    };
    auto put16 = [&](std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put16(static_cast<std::uint32_t>(entries.size()));
    for (const Entry& e : entries) {
        put16(e.tag);
        put16(e.type);
        put32(e.count);
        put32(e.value);
    }
    put32(0);
    b.resize(216, 0x80);
    return b;
}

TEST_F(SnapshotFiles, TiffLoaderRefusesHugeAndDamagedFiles) {
    std::string error;
    // 100,000 x 100,000 claimed with 16 bytes of data: refused before the raster exists.
    EXPECT_FALSE(DecodeTiff(TinyTiff(100'000, 100'000), {}, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    // A small grey picture of the same shape decodes.
    const auto small = DecodeTiff(TinyTiff(4, 4), {}, &error);
    ASSERT_TRUE(small) << error;
    EXPECT_EQ(small->bytes.size(), 48u);
    // Cut short, or not a TIFF at all: an error, never a crash.
    auto cut = TinyTiff(4, 4);
    cut.resize(40);
    EXPECT_FALSE(DecodeTiff(cut, {}, &error));
    const std::vector<std::uint8_t> junk(64, 0xFF);
    EXPECT_FALSE(DecodeTiff(junk, {}, &error));
    EXPECT_FALSE(DecodeTiff({}, {}, &error));
    EXPECT_FALSE(LoadTiffFile(m_root / "missing.tif", &error));
}

}  // namespace
}  // namespace taviro::snapshot
