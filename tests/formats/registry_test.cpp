#include <IL/il.h>

#include <algorithm>
#include <map>
#include <set>

#include "formats_support.h"
#include "imaging/bit_depth.h"
#include "platform/text.h"
#include "support/gif_writer.h"

using namespace kestrune;

namespace {

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { formats_test::InitLibraries(); }
};

TEST_F(RegistryTest, OutputListIsTheTwentyThreeFormatsInOrder) {
    const std::vector<std::string> expected = {"bmp", "dds", "exr", "gif", "hdr", "ico", "j2k", "jng",
                                               "jp2", "jpg", "jxr", "pbm", "pcx", "pfm", "pgm", "png",
                                               "ppm", "psd", "tga", "tiff", "wbmp", "webp", "xpm"};
    EXPECT_EQ(OutputFormatList(), expected);
    EXPECT_EQ(InputFormatList(), std::vector<std::string>{"gif"});
    ASSERT_EQ(OutputFormats().size(), 23u);
    for (const std::string& id : expected) {
        const OutputFormat* row = FindOutputFormat(id);
        ASSERT_NE(row, nullptr) << id;
        EXPECT_EQ(row->extension, id);
        EXPECT_FALSE(row->description.empty()) << id;
    }
}

TEST_F(RegistryTest, RowsCarryTheirWriterDescriptionAndDepths) {
    EXPECT_EQ(WriterIdOf("bmp"), 0);
    EXPECT_EQ(WriterIdOf("ico"), 1);
    EXPECT_EQ(WriterIdOf("jpg"), 2);
    EXPECT_EQ(WriterIdOf("pbm"), 7);
    EXPECT_EQ(WriterIdOf("pgm"), 11);
    EXPECT_EQ(WriterIdOf("ppm"), 14);
    EXPECT_EQ(WriterIdOf("tga"), 17);
    EXPECT_EQ(WriterIdOf("xpm"), 23);
    EXPECT_EQ(WriterIdOf("gif"), 25);
    EXPECT_EQ(WriterIdOf("jxr"), 36);
    EXPECT_EQ(WriterIdOf("dds"), 1079);
    EXPECT_EQ(WriterIdOf("pcx"), 1064);
    EXPECT_EQ(WriterIdOf("psd"), 1081);
    EXPECT_EQ(WriterIdOf("tif"), FIF_UNKNOWN);
    EXPECT_EQ(DescriptionOf("webp"), "Google WebP Image Format");
    EXPECT_EQ(DescriptionOf("bmp"), "Windows or OS/2 Bitmap");
    const auto depths = [](const char* id) {
        const OutputFormat* row = FindOutputFormat(id);
        return row ? std::vector<int32_t>(row->allowed_bpp.begin(), row->allowed_bpp.end()) : std::vector<int32_t>{};
    };
    EXPECT_EQ(depths("tiff"), (std::vector<int32_t>{1, 4, 8, 24, 32, 48, 96}));
    EXPECT_EQ(depths("png"), (std::vector<int32_t>{1, 4, 8, 24, 32, 48}));
}

TEST_F(RegistryTest, OutputFormatNamesAreCaseSensitive) {
    EXPECT_TRUE(IsOutputFormat("png"));
    EXPECT_FALSE(IsOutputFormat("PNG"));
    EXPECT_FALSE(IsOutputFormat("tif"));
    EXPECT_FALSE(IsOutputFormat(""));
}

TEST_F(RegistryTest, BitDepthChecks) {
    EXPECT_TRUE(IsBitDepthAllowed("bmp", 0));
    EXPECT_TRUE(IsBitDepthAllowed("bmp", 16));
    EXPECT_FALSE(IsBitDepthAllowed("png", 16));
    EXPECT_FALSE(IsBitDepthAllowed("jpg", 32));
    EXPECT_TRUE(IsBitDepthAllowed("exr", 96));
    EXPECT_TRUE(IsBitDepthAllowed("jxr", 1));
    EXPECT_FALSE(IsBitDepthAllowed("jxr", 4));
}

TEST_F(RegistryTest, NearestAllowedBitDepth) {
    EXPECT_EQ(NearestAllowedBitDepth("bmp", 32), 32);
    EXPECT_EQ(NearestAllowedBitDepth("jpg", 32), 24);
    EXPECT_EQ(NearestAllowedBitDepth("png", 16), 24);
    EXPECT_EQ(NearestAllowedBitDepth("gif", 32), 8);
    EXPECT_EQ(NearestAllowedBitDepth("jxr", 2), 8);
    EXPECT_EQ(NearestAllowedBitDepth("exr", 8), 96);
    EXPECT_EQ(NearestAllowedBitDepth("xpm", 1), 24);
    EXPECT_EQ(NearestAllowedBitDepth("ppm", 32), 48);
    EXPECT_EQ(NearestAllowedBitDepth("png", 24), 24);
    EXPECT_EQ(NearestAllowedBitDepth("tiff", 200), 96);
}

TEST_F(RegistryTest, InputExtensionTable) {
    const auto table = InputExtensions();
    EXPECT_EQ(table.size(), 79u);
    std::map<std::string, int> per_canonical;
    std::set<std::string_view> keys;
    for (const InputExtension& row : table) {
        ++per_canonical[std::string(row.canonical)];
        EXPECT_FALSE(row.description.empty()) << row.key;
        EXPECT_TRUE(keys.insert(row.key).second) << "named twice: " << row.key;
    }
    EXPECT_EQ(per_canonical["raw"], 48);
    EXPECT_EQ(per_canonical["jpg"], 4);
    EXPECT_EQ(per_canonical["gif"], 1);
    const auto at = [](const char* key) {
        const InputExtension* row = FindInputExtension(key);
        return row ? *row : InputExtension{};
    };
    EXPECT_EQ(at("cr2").description, "Canon Camera RAW Image");
    EXPECT_EQ(at("crw").description, "Canon Camera RAW Image");
    EXPECT_EQ(at("nef").description, "Nikon Camera RAW Image");
    EXPECT_EQ(at("nrw").description, "Nikon Camera RAW Image");
    EXPECT_EQ(at("raw").description, "Camera RAW Image");
    EXPECT_EQ(at("apm").canonical, "wmf");
    EXPECT_EQ(at("apm").description, "Aldus Placeable Metafile");
    EXPECT_EQ(at("wmz").description, "Windows Metafile Format");
    EXPECT_EQ(at("tif").canonical, "tiff");
    EXPECT_EQ(at("gif").description, "GIF File");
    EXPECT_EQ(FindInputExtension("GIF"), nullptr);
}

TEST_F(RegistryTest, AcceptedInputExtensionsAreJustGif) {
    EXPECT_EQ(AcceptedInputExtensions(), std::vector<std::string>{"gif"});
}

// Each row walked against the readers of its columns: the settings table,
// the debug listing, the bit-depth conversion and the libraries that write.
class FormatRowTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        formats_test::InitLibraries();
        format_ = FindOutputFormat(GetParam());
        ASSERT_NE(format_, nullptr);
    }
    const OutputFormat& Row() const { return *format_; }

  private:
    const OutputFormat* format_ = nullptr;
};

TEST_P(FormatRowTest, CompressionCodesAreTheirPlaceInTheFormatsList) {
    // The option and the preference file store the shared table's code; the
    // writer's flag is taken from the format's list at that place.
    const std::span<const Compression> compressions = Row().compressions;
    for (size_t code = 0; code < compressions.size(); ++code)
        EXPECT_EQ(LookupValueName(compressions[code].name, kTableCompression), static_cast<int>(code))
            << compressions[code].name;
}

TEST_P(FormatRowTest, DebugListingShowsEveryEncoderOptionAfterTheDepth) {
    const OutputFormat& row = Row();
    const std::string ext(row.extension);
    testing_support::TempDir dir;
    testing_support::WriteGif(dir / "a.gif", testing_support::SimpleAnimation(4, 4, 1));
    // A depth the format does not allow ends the run right after its block.
    ASSERT_FALSE(IsBitDepthAllowed(ext, 3));
    const testing_support::ProcessResult run =
        testing_support::RunKestrune({"-i", dir / "a.gif", "-c", ext, "-d", "--" + ext + "-bpp=3"});
    const std::vector<std::string> lines = testing_support::ConsoleLines(run.out);
    const std::string bpp_line = ToUpperAscii(ext) + " BPP: 3";
    const auto at = std::find(lines.begin(), lines.end(), bpp_line);
    ASSERT_NE(at, lines.end()) << testing_support::DecodeUtf16Le(run.out);
    std::vector<std::string> block(at + 1, std::find(at, lines.end(), "Error: Invalid " + ext + "-bpp value"));
    const auto& encoder = SettingsOf(row).encoder;
    ASSERT_EQ(block.size(), encoder.size()) << testing_support::DecodeUtf16Le(run.out);
    for (size_t i = 0; i < block.size(); ++i)
        EXPECT_TRUE(block[i].starts_with(std::string(encoder[i].listing) + ": ")) << block[i];
}

TEST_P(FormatRowTest, EveryAllowedDepthIsWhatTheConversionGives) {
    const OutputFormat& row = Row();
    Settings s = formats_test::CommandLineSettings();
    for (const int32_t depth : row.allowed_bpp) {
        s.*(SettingsOf(row).bpp) = depth;
        const FrameContext context = formats_test::StateFor(std::string(row.extension), s);
        const Bitmap out = ConvertBitDepth(formats_test::MakeBitmap32(9, 7, [](int x, int y) {
            return testing_support::Rgba{uint8_t(x * 28), uint8_t(y * 36), 200, uint8_t(x < 4 ? 255 : 0)};
        }), context);
        ASSERT_TRUE(out) << depth;
        EXPECT_EQ(BppOf(out), depth);
        EXPECT_EQ(FreeImage_GetImageType(out.get()), depth == 96   ? FIT_RGBF
                                                     : depth == 48 ? FIT_RGB16
                                                                   : FIT_BITMAP)
            << depth;
    }
}

TEST_P(FormatRowTest, WriterIdIsTheLibrarysNumberOfTheExtension) {
    const OutputFormat& row = Row();
    const std::string name = "x." + std::string(row.extension);
    if (row.writer == WriterKind::Devil) {
        EXPECT_EQ(row.writer_id, static_cast<int32_t>(ilTypeFromExt(name.c_str())));
        EXPECT_GT(row.writer_id, 1000);
        return;
    }
    EXPECT_EQ(row.writer_id, FreeImage_GetFIFFromFilename(name.c_str()));
    // FreeImage's own writer is used only where it can write at all.
    if (row.writer == WriterKind::FreeImage) {
        EXPECT_TRUE(FreeImage_FIFSupportsWriting(FREE_IMAGE_FORMAT(row.writer_id)));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FormatRowTest, ::testing::ValuesIn(OutputFormatList()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
