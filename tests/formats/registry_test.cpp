#include <set>

#include "formats_support.h"

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
    ASSERT_EQ(OutputFormatTable().size(), 23u);
    for (const std::string& id : expected) {
        ASSERT_TRUE(OutputFormatTable().count(id)) << id;
        const OutputFormat& row = OutputFormatTable().at(id);
        EXPECT_EQ(row.extension, id);
        EXPECT_FALSE(row.description.empty()) << id;
        EXPECT_NE(row.bpp_field, nullptr) << id;
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
    EXPECT_EQ(DescriptionOf("webp"), "Google WebP Image Format");
    EXPECT_EQ(DescriptionOf("bmp"), "Windows or OS/2 Bitmap");
    EXPECT_EQ(OutputFormatTable().at("tiff").allowed_bpp, "1,4,8,24,32,48,96");
    EXPECT_EQ(OutputFormatTable().at("png").allowed_bpp, "1,4,8,24,32,48");
    EXPECT_EQ(BitDepthSettingOf("tiff"), "TIFF BPP");
    EXPECT_EQ(BitDepthSettingOf("wbmp"), "WBMP BPP");
}

TEST_F(RegistryTest, OnlyTheDevilRowsHaveWriterIdsAboveOneThousand) {
    std::set<std::string> devil;
    for (const auto& [id, row] : OutputFormatTable())
        if (row.writer_id > 1000) devil.insert(id);
    EXPECT_EQ(devil, (std::set<std::string>{"dds", "pcx", "psd"}));
}

TEST_F(RegistryTest, EachRowPointsAtItsOwnBitDepthSetting) {
    // The member pointer and the key must name the same setting; the key
    // table of the settings is the judge.
    for (const auto& [id, row] : OutputFormatTable()) {
        const SettingKey* key = FindSettingKey("Output", row.bpp_setting);
        ASSERT_NE(key, nullptr) << row.bpp_setting;
        ASSERT_TRUE(std::holds_alternative<int32_t Settings::*>(key->field)) << id;
        EXPECT_EQ(std::get<int32_t Settings::*>(key->field), row.bpp_field) << id;
        Settings s;
        s.*(row.bpp_field) = 24;
        EXPECT_EQ(BitDepthOf(id, s), 24) << id;
    }
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
    const auto& table = InputExtensionTable();
    EXPECT_EQ(table.size(), 79u);
    std::map<std::string, int> per_canonical;
    for (const auto& [key, row] : table) {
        ++per_canonical[row.canonical];
        EXPECT_FALSE(row.description.empty()) << key;
    }
    EXPECT_EQ(per_canonical["raw"], 48);
    EXPECT_EQ(per_canonical["jpg"], 4);
    EXPECT_EQ(per_canonical["gif"], 1);
    EXPECT_EQ(table.at("cr2").description, "Canon Camera RAW Image");
    EXPECT_EQ(table.at("crw").description, "Canon Camera RAW Image");
    EXPECT_EQ(table.at("nef").description, "Nikon Camera RAW Image");
    EXPECT_EQ(table.at("nrw").description, "Nikon Camera RAW Image");
    EXPECT_EQ(table.at("raw").description, "Camera RAW Image");
    EXPECT_EQ(table.at("apm").canonical, "wmf");
    EXPECT_EQ(table.at("apm").description, "Aldus Placeable Metafile");
    EXPECT_EQ(table.at("wmz").description, "Windows Metafile Format");
    EXPECT_EQ(table.at("tif").canonical, "tiff");
    EXPECT_EQ(table.at("gif").description, "GIF File");
    EXPECT_FALSE(table.count("GIF"));
}

TEST_F(RegistryTest, AcceptedInputExtensionsAreJustGif) {
    EXPECT_EQ(AcceptedInputExtensions(), std::vector<std::string>{"gif"});
    // Building again must not duplicate anything.
    formats_test::InitLibraries();
    EXPECT_EQ(AcceptedInputExtensions(), std::vector<std::string>{"gif"});
    EXPECT_EQ(OutputFormatList().size(), 23u);
    EXPECT_EQ(InputExtensionTable().size(), 79u);
}

}  // namespace
