// The batch driver through the real program: debug listings compared whole,
// the checks and their one-line errors, the import and summary lines, quiet
// mode and the folder rules.
#include "batch_support.h"

namespace batch_tests {
namespace {

using DriverTest = InOutFolders;

// Each output format lists its own encoder settings after "BPP"; a zero
// width stops the run right after the block, so the whole quiet transcript
// is the block and the error.
struct FormatBlockCase {
    std::vector<std::string> options;
    std::vector<std::string> block;
};

class FormatBlockTest : public DriverTest, public ::testing::WithParamInterface<FormatBlockCase> {};

TEST_P(FormatBlockTest, ListsTheFormatsSettingsInOrder) {
    WriteStill(in + "/a.gif");
    std::vector<std::string> args = {"-q", "-d", "-i", in + "/a.gif", "-o", out, "--width=0"};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    const Outcome run = Kestrune(args);
    const std::string conversion = GetParam().options.empty() ? "bmp" : GetParam().options[1];
    std::vector<std::string> expected = {"Input: " + in + "/a.gif", "Output: " + out, "Conversion: " + conversion,
                                         "GIF Frame Loading: all"};
    expected = Concat(expected, GetParam().block);
    expected = Concat(expected, {"Width: 0 pixels", "Error: Invalid width value"});
    EXPECT_TRANSCRIPT(run.lines, expected);
    EXPECT_TRUE(FilesBelow(out).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatBlockTest,
    ::testing::Values(
        // No conversion at all means "bmp".
        FormatBlockCase{{}, {"BMP BPP: 0", "BMP Compression: none", "BMP Color Table: auto"}},
        FormatBlockCase{{"-c", "bmp", "--bmp-bpp=8", "--bmp-compression=RLE", "--bmp-color-table=EXACT"},
                        {"BMP BPP: 8", "BMP Compression: rle", "BMP Color Table: exact"}},
        // The compression keys share one table: ZLIB1 is code 1, shown as "rle".
        FormatBlockCase{{"-c", "png", "--png-compression=ZLIB1", "--png-interlaced"},
                        {"PNG BPP: 0", "PNG Compression: rle", "PNG Interlaced: 1"}},
        FormatBlockCase{{"-c", "tiff", "--tiff-compression=LZW", "--tiff-color-model=CMYK", "--tiff-bpp=24"},
                        {"TIFF BPP: 24", "TIFF Compression: lzw", "TIFF Color Model: cmyk"}},
        FormatBlockCase{{"-c", "exr", "--exr-compression=PIZ"}, {"EXR BPP: 0", "EXR Compression: piz"}},
        FormatBlockCase{{"-c", "tga", "--tga-compression=RLE"}, {"TGA BPP: 0", "TGA Compression: rle"}},
        FormatBlockCase{{"-c", "jpg"},
                        {"JPG BPP: 0", "JPG Quality: 95", "JPG Chroma Subsampling: none", "JPG Save As: standard"}},
        FormatBlockCase{{"-c", "gif"}, {"GIF BPP: 0"}}, FormatBlockCase{{"-c", "dds"}, {"DDS BPP: 0"}},
        FormatBlockCase{{"-c", "webp"}, {"WEBP BPP: 0"}}),
    [](const auto& info) { return info.param.options.empty() ? "Default" : ParamName(info.param.options); });

TEST_F(DriverTest, WatermarkFontAndImageAreCheckedBeforeAnyFileIsRead) {
    WriteStill(in + "/a.gif");
    Outcome run = Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png", "--wm-text=x",
                        "--wm-font=No Such Face Qzxv"});
    EXPECT_TRANSCRIPT(run.lines, std::vector<std::string>{"Error: Invalid watermark font"});

    run = Kestrune({"-q", "-d", "-i", in + "/a.gif", "-o", out, "-c", "png", "--wm-image=" + in + "/missing.png",
                    "--wm-image-opacity=100", "--wm-image-position=TOPLEFT", "--wm-image-rotation=45"});
    const std::vector<std::string> tail = {"Watermark: image",
                                           "Watermark image: " + in + "/missing.png",
                                           "Watermark greyscale: 0",
                                           "Watermark opacity: 100",
                                           "Watermark boundary: image",
                                           "Watermark position: topleft",
                                           "Watermark offset (x/y): 10/10",
                                           "Watermark rotation: 45",
                                           "Watermark size/mode: fixed",
                                           "Error: Invalid watermark image"};
    ASSERT_GE(run.lines.size(), tail.size());
    EXPECT_TRANSCRIPT(std::vector<std::string>(run.lines.end() - static_cast<long>(tail.size()), run.lines.end()),
                      tail);

    // An empty watermark image file is no image either.
    WriteFileBytes(in + "/empty.png", "");
    run = Kestrune({"-q", "-i", in + "/a.gif", "-o", out, "-c", "png", "--wm-image=" + in + "/empty.png"});
    EXPECT_TRANSCRIPT(run.lines, std::vector<std::string>{"Error: Invalid watermark image"});
    EXPECT_TRUE(FilesBelow(out).empty());
}

// With -q a rejected run prints its one error line and nothing else.
struct RejectCase {
    std::string name;
    std::vector<std::string> options;  // "IN" and "OUT" stand for the test's folders
    std::string error;
};

class RejectTest : public DriverTest, public ::testing::WithParamInterface<RejectCase> {};

TEST_P(RejectTest, PrintsOneErrorLineAndConvertsNothing) {
    WriteStill(in + "/a.gif");
    MakeFolder(in + "/folder.gif");
    WriteFileBytes(in + "/empty.gif", "");
    MakeFolder(in + "/my.pics");
    std::vector<std::string> args = {"-q"};
    for (std::string option : GetParam().options) {
        if (option.rfind("IN", 0) == 0) option = in + option.substr(2);
        if (option.rfind("OUT", 0) == 0) option = out + option.substr(3);
        args.push_back(option);
    }
    const Outcome run = Kestrune(args);
    EXPECT_TRANSCRIPT(run.lines, std::vector<std::string>{GetParam().error});
    EXPECT_TRUE(FilesBelow(out).empty());
    EXPECT_NO_TEMPORARY_FILES(dir.path());
}

INSTANTIATE_TEST_SUITE_P(
    Checks, RejectTest,
    ::testing::Values(
        RejectCase{"FolderWithGifName", {"-i", "IN/folder.gif", "-o", "OUT"}, "Error: Invalid input file"},
        RejectCase{"MissingFile", {"-i", "IN/missing.gif", "-o", "OUT"}, "Error: Invalid input file"},
        RejectCase{"EmptyFile", {"-i", "IN/empty.gif", "-o", "OUT"}, "Error: Invalid input file"},
        // A folder with a dot in its name is a file unless it ends with "/".
        RejectCase{"DottedFolder", {"-i", "IN/my.pics", "-o", "OUT"}, "Error: Invalid input file"},
        RejectCase{"ParentInputFolder", {"-i", "../x", "-o", "OUT"}, "Error: Incorrect input folder"},
        RejectCase{"MissingInputFolder", {"-i", "IN/nothing", "-o", "OUT"}, "Error: Invalid input folder"},
        RejectCase{"ParentOutputFolder", {"-i", "IN/a.gif", "-o", "../out"}, "Error: Incorrect output folder"},
        RejectCase{"MissingOutputFolder", {"-i", "IN/a.gif", "-o", "OUT/none"}, "Error: Invalid output folder"},
        RejectCase{"OutputIsAFile", {"-i", "IN/a.gif", "-o", "IN/a.gif"}, "Error: Invalid output folder"},
        RejectCase{"UpperCaseConversion", {"-i", "IN/a.gif", "-o", "OUT", "-c", "PNG"},
                   "Error: Invalid conversion type"},
        RejectCase{"UnknownConversion", {"-i", "IN/a.gif", "-o", "OUT", "-c", "gif2"},
                   "Error: Invalid conversion type"},
        RejectCase{"JpgQualityZero", {"-i", "IN/a.gif", "-o", "OUT", "-c", "jpg", "--jpg-quality=0"},
                   "Error: Invalid jpg-quality value"},
        RejectCase{"JpgQuality101", {"-i", "IN/a.gif", "-o", "OUT", "-c", "jpg", "--jpg-quality=101"},
                   "Error: Invalid jpg-quality value"},
        RejectCase{"BadBitDepth", {"-i", "IN/a.gif", "-o", "OUT", "-c", "png", "--png-bpp=7"},
                   "Error: Invalid png-bpp value"},
        RejectCase{"WidthZero", {"-i", "IN/a.gif", "-o", "OUT", "--width=0", "--height=0"},
                   "Error: Invalid width value"},
        RejectCase{"HeightZero", {"-i", "IN/a.gif", "-o", "OUT", "--width=10", "--height=0"},
                   "Error: Invalid height value"},
        RejectCase{"Brightness", {"-i", "IN/a.gif", "-o", "OUT", "--brightness=101"},
                   "Error: Invalid brightness value"},
        RejectCase{"Contrast", {"-i", "IN/a.gif", "-o", "OUT", "--contrast=-101"}, "Error: Invalid contrast value"},
        RejectCase{"GammaTen", {"-i", "IN/a.gif", "-o", "OUT", "--gamma=10"}, "Error: Invalid gamma value"},
        RejectCase{"GammaNaN", {"-i", "IN/a.gif", "-o", "OUT", "--gamma=NaN"}, "Error: Invalid gamma value"}),
    [](const ::testing::TestParamInfo<RejectCase>& info) { return info.param.name; });

// Values at the edges pass, and a check runs only where its setting is used.
TEST_F(DriverTest, AcceptedEdgesConvert) {
    WriteStill(in + "/a.gif");
    const std::vector<std::vector<std::string>> accepted = {
        {"-c", "png", "--jpg-quality=0"},  // quality only matters for jpg
        {"-c", "jpg", "--jpg-quality=1"},
        {"-c", "jpg", "--jpg-quality=100"},
        {"-c", "png", "--gamma=0.01"},
        {"-c", "png", "--gamma=9.99"},
        {"-c", "png", "--brightness=-100", "--contrast=100"},
    };
    for (const auto& options : accepted) {
        std::vector<std::string> args = {"-q", "-i", in + "/a.gif", "-o", out};
        args.insert(args.end(), options.begin(), options.end());
        const Outcome run = Kestrune(args);
        EXPECT_TRUE(run.lines.empty()) << options.back() << "\n" << Joined(run.lines);
    }
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a.jpg", "a.png"}));
}

TEST_F(DriverTest, EmptyFolderStopsWithTheTwoTextsAlsoWhenQuiet) {
    WriteFileBytes(in + "/notes.txt", "not an image");
    Outcome run = Kestrune({"-i", in, "-o", out});
    EXPECT_TRANSCRIPT(run.lines,
                      Concat(Banner(), {"Preparing...", "Importing...", "Import complete, new files added: 0",
                                        "Conversion stopped",
                                        "No input file(s) found. Please, add valid file(s) and try again!"}));
    run = Kestrune({"-q", "-i", in, "-o", out});
    EXPECT_TRANSCRIPT(run.lines, (std::vector<std::string>{
                                     "Conversion stopped",
                                     "No input file(s) found. Please, add valid file(s) and try again!"}));
}

TEST_F(DriverTest, FailedFilesShowOnlyInTheCounts) {
    for (const char* name : {"a", "b", "c"}) WriteStill(in + "/" + name + ".gif");
    WriteFileBytes(in + "/d.gif", "GIF89a but not really an image at all");
    WriteFileBytes(in + "/e.gif", TruncatedGif());
    const Outcome run = Kestrune({"-i", in, "-o", out, "-c", "png"});
    EXPECT_TRANSCRIPT(run.lines,
                      Concat(Banner(), {"Preparing...", "Importing...", "Import complete, new files added: 5",
                                        "Converting...", "Conversion complete", "Files converted: 3 of 5"}));
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a.png", "b.png", "c.png"}));
    EXPECT_NO_TEMPORARY_FILES(out);
}

TEST_F(DriverTest, NothingConvertedPrintsConversionStoppedEvenWhenQuiet) {
    WriteFileBytes(in + "/bad.gif", "not a gif");
    Outcome run = Kestrune({"-q", "-i", in, "-o", out});
    EXPECT_TRANSCRIPT(run.lines, std::vector<std::string>{"Conversion stopped"});
    run = Kestrune({"-i", in, "-o", out});
    EXPECT_TRANSCRIPT(run.lines, Concat(Banner(), {"Preparing...", "Importing...",
                                                   "Import complete, new files added: 1", "Converting...",
                                                   "Conversion stopped"}));
    EXPECT_TRUE(FilesBelow(out).empty());
}

TEST_F(DriverTest, QuietSuccessfulRunPrintsNothing) {
    WriteStill(in + "/a.gif");
    WriteGif(in + "/b.gif", SimpleAnimation(8, 8, 2));
    const Outcome run = Kestrune({"-q", "-i", in, "-o", out, "-c", "png"});
    EXPECT_TRUE(run.process.out.empty()) << Joined(run.lines);
    EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{"a.png", "b[1].png", "b[2].png"}));
}

TEST_F(DriverTest, OutputDefaultsToTheInputsFolder) {
    WriteStill(in + "/a.gif");
    Outcome run = Kestrune({"-q", "-i", in + "/a.gif", "-c", "png"});
    EXPECT_TRUE(run.lines.empty()) << Joined(run.lines);
    EXPECT_TRUE(fs::exists(in + "/a.png"));

    MakeFolder(in + "/sub");
    WriteStill(in + "/sub/b.gif");
    run = Kestrune({"-q", "-d", "-i", in + "/sub", "-c", "tga"});
    EXPECT_TRUE(Contains(run.lines, "Output: " + in + "/sub/")) << Joined(run.lines);
    EXPECT_TRUE(fs::exists(in + "/sub/b.tga"));

    // A list file's outputs go beside the list.
    MakeFolder(in + "/lists");
    WriteFileBytes(in + "/lists/l.txt", in + "/a.gif\n");
    run = Kestrune({"-q", "-i", in + "/lists/l.txt", "-c", "bmp"});
    EXPECT_TRUE(fs::exists(in + "/lists/a.bmp"));
}

TEST_F(DriverTest, DottedFolderIsAFolderWithAFinalSlash) {
    MakeFolder(in + "/my.pics");
    WriteStill(in + "/my.pics/a.gif");
    const Outcome run = Kestrune({"-q", "-i", in + "/my.pics/", "-o", out, "-c", "png"});
    EXPECT_TRUE(run.lines.empty()) << Joined(run.lines);
    EXPECT_EQ(FilesBelow(out), std::vector<std::string>{"a.png"});
}

// Relative folders are taken below the program's own folder, with or without
// a leading "./"; a relative file is taken from the current directory.
TEST_F(DriverTest, RelativeFoldersAreBelowTheProgramFolder) {
    const std::string program_folder = fs::path(KestruneBinary()).parent_path().string();
    const std::string name = "batch-test-" + fs::path(dir.path()).filename().string();
    const std::string below = program_folder + "/" + name;
    MakeFolder(below + "/pics");
    MakeFolder(below + "/converted");
    WriteStill(below + "/pics/a.gif");
    struct Cleanup {
        std::string path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{below};

    RunOptions elsewhere;
    elsewhere.working_dir = dir.path();
    Outcome run = Kestrune({"-q", "-i", name + "/pics", "-o", "./" + name + "/converted", "-c", "png"}, elsewhere);
    EXPECT_TRUE(run.lines.empty()) << Joined(run.lines);
    EXPECT_TRUE(fs::exists(below + "/converted/a.png"));

    WriteStill(in + "/b.gif");
    RunOptions from_in;
    from_in.working_dir = in;
    run = Kestrune({"-q", "-i", "b.gif", "-o", "./" + name + "/converted", "-c", "png"}, from_in);
    EXPECT_TRUE(run.lines.empty()) << Joined(run.lines);
    EXPECT_TRUE(fs::exists(below + "/converted/b.png"));
}

// Texts from options or a profile are shown with their control characters
// escaped on every listing line, so none reaches the terminal raw.
TEST_F(DriverTest, ListingEscapesControlCharactersOfEveryText) {
    WriteStill(in + "/a.gif");
    const struct {
        std::vector<std::string> options;
        std::string line;
    } cases[] = {
        {{"-c", "p\x1b[2Kng"}, "Conversion: p\\x1b[2Kng"},
        {{"-c", "png", "--wm-text=a\x1b]0;b\x07"}, "Watermark text: a\\x1b]0;b\\x07"},
        {{"-c", "png", "--wm-text=a", "--wm-font=No\rFace"}, "Watermark font: No\\rFace"},
        {{"-c", "png", "--wm-image=" + in + "/\x1b[1m.png"}, "Watermark image: " + in + "/\\x1b[1m.png"},
        {{"-c", "png", "--filename-mask=%filename%\t\xc2\x9b" "1m"}, "Filename Mask: %filename%\\t\\u009b1m"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"-q", "-d", "-i", in + "/a.gif", "-o", out};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Outcome run = Kestrune(args);
        EXPECT_NE(std::find(run.lines.begin(), run.lines.end(), c.line), run.lines.end())
            << c.line << "\n" << Joined(run.lines);
        for (const std::string& line : run.lines) EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace batch_tests
