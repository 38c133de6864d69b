// Files converted side by side: the same batch run with one thread and with
// several must leave the same bytes under the same names with the same
// timestamps, and print the same transcript, line for line.
#include <sys/stat.h>

#include <functional>
#include <map>
#include <random>
#include <regex>

#include "batch_support.h"

namespace batch_tests {
namespace {

// Noise over a few colours, so that files differ and take different times.
GifImage Noise(int w, int h, int frames, unsigned seed) {
    GifImage gif;
    gif.width = w;
    gif.height = h;
    gif.global_palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}, {200, 90, 30}};
    std::mt19937 random(seed);
    for (int k = 0; k < frames; ++k) {
        GifFrame f = SolidFrame(w, h, 0);
        for (auto& index : f.indices) index = static_cast<uint8_t>(random() % (2 + (seed + k) % 5));
        gif.frames.push_back(f);
    }
    return gif;
}

// The date tokens read the clock as they are expanded; two runs can only
// agree on the rest.
std::string WithoutDates(const std::string& text) {
    static const std::regex date(R"(\{\d{14}\})");
    return std::regex_replace(text, date, "{date}");
}

struct Result {
    std::vector<std::string> lines;
    std::map<std::string, std::string> contents;  // by name below the output folder
    std::map<std::string, time_t> times;
};

// Stills of several sizes, animations, files that fail, and two files of
// the same name in different subfolders, in an order that mixes them.
void MixedBatch(const std::string& in) {
    MakeFolder(in + "/a/deep");
    MakeFolder(in + "/b");
    for (int i = 0; i < 18; ++i) {
        const std::string folder = in + (i % 3 == 0 ? "/a" : i % 3 == 1 ? "/b" : "");
        const std::string name = folder + "/f" + std::to_string(i) + ".gif";
        if (i % 7 == 3) {
            WriteFileBytes(name, TruncatedGif());
        } else if (i % 7 == 5) {
            WriteFileBytes(name, "not a GIF at all");
        } else {
            const int frames = i % 4 == 0 ? 1 + i % 5 : 1;
            WriteGif(name, Noise(16 + 9 * (i % 5), 12 + 7 * (i % 3), frames, static_cast<unsigned>(i)));
        }
    }
    // Same base name in two folders: with --no-subfolders the later wins.
    WriteGif(in + "/a/deep/same.gif", Noise(40, 30, 1, 101));
    WriteGif(in + "/b/same.gif", Noise(30, 40, 3, 102));
    WriteGif(in + "/x%n%.gif", Noise(20, 20, 1, 103));
    // Distinct input times, for the original timestamp.
    int k = 0;
    for (const std::string& f : FilesBelow(in)) SetModificationTime(in + "/" + f, 1'500'000'000 + 3600 * k++);
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    bool same_times;  // timestamps set by the run, not by the clock
};

const Case kCases[] = {
    {"keep subfolders, original timestamps", {"-c", "png", "--file-timestamp=ORIGINAL"}, true},
    {"flat, names collide", {"-c", "png", "--no-subfolders", "--file-timestamp=CUSTOM",
                             "--file-timestamp-custom=1600000000"}, true},
    {"every mask token",
     {"-c", "png", "--filename-mask=%filename%_%filename[u]%_%filename[l]%_%filename[t]%_%ext%_%ext[u]%_"
                   "%ext[t]%_%bpp%_%width%x%height%_%rnd%_%n%_{%yyyy%%mm%%dd%%hh%%ii%%ss%}.%ext%"},
     false},
    {"counter in the watermark, every file to one name",
     {"-c", "jpg", "--filename-mask=one.%ext%", "--wm-text=%n% %rnd% %filename%", "--wm-font-size=8"}, false},
    {"a writer that saves one frame at a time", {"-c", "gif", "--no-subfolders", "--width=50", "--height=50"},
     false},
    {"one frame of each", {"-c", "tiff", "--gif-frame-loading=LAST", "--filename-mask=%n%.%ext%"}, false},
};

class ParallelFiles : public ::testing::TestWithParam<Case> {
  protected:
    Result Convert(const std::string& threads) {
        const std::string out = dir / "out";
        fs::remove_all(out);
        MakeFolder(out);
        std::vector<std::string> args{"-d", "-i", dir / "in", "-o", out};
        args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
        RunOptions options;
        options.env["KESTRUNE_THREADS"] = threads;
        options.env["KESTRUNE_RANDOM_SEED"] = "20261209";
        Result result;
        for (const std::string& line : Kestrune(args, options).lines) result.lines.push_back(WithoutDates(line));
        for (const std::string& f : FilesBelow(out)) {
            result.contents[WithoutDates(f)] = ReadFileBytes(out + "/" + f);
            result.times[WithoutDates(f)] = ModificationTime(out + "/" + f);
        }
        EXPECT_NO_TEMPORARY_FILES(out);
        return result;
    }
    TempDir dir;
};

TEST_P(ParallelFiles, SeveralThreadsGiveWhatOneGives) {
    MixedBatch(dir / "in");
    const Result alone = Convert("1");
    const Result together = Convert("4");
    EXPECT_TRANSCRIPT(together.lines, alone.lines);
    // The batch did convert something, and failed where it should.
    EXPECT_GE(CountOf(alone.lines, "OK"), 10) << Joined(alone.lines);
    EXPECT_GE(CountOf(alone.lines, "Not OK"), 4) << Joined(alone.lines);
    std::vector<std::string> names_alone, names_together;
    for (const auto& [name, bytes] : alone.contents) names_alone.push_back(name);
    for (const auto& [name, bytes] : together.contents) names_together.push_back(name);
    ASSERT_EQ(names_together, names_alone);
    for (const auto& [name, bytes] : alone.contents) {
        EXPECT_TRUE(together.contents.at(name) == bytes) << name << " differs";
        if (GetParam().same_times) {
            EXPECT_EQ(together.times.at(name), alone.times.at(name)) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Batches, ParallelFiles, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace
}  // namespace batch_tests
