#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "platform/clock.h"
#include "platform/files.h"
#include "support/harness.h"

namespace kestrune {
namespace {

using testing_support::TempDir;
using testing_support::WriteFileBytes;

// Runs a test in a zone with daylight saving time, whatever the machine's.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

  private:
    std::string old_;
    bool had_ = false;
};

TEST(FileSizeTest, TellsMissingFolderEmptyAndSizedFiles) {
    TempDir dir;
    EXPECT_EQ(FileSize(dir / "missing"), -1);
    EXPECT_EQ(FileSize(dir.path()), -2);
    EXPECT_EQ(FileSize(dir.path() + "/"), -2);
    WriteFileBytes(dir / "empty", "");
    EXPECT_EQ(FileSize(dir / "empty"), 0);
    WriteFileBytes(dir / "seven", std::string("1234\0" "67", 7));
    EXPECT_EQ(FileSize(dir / "seven"), 7);
    EXPECT_TRUE(IsFolder(dir.path()));
    EXPECT_FALSE(IsFolder(dir / "seven"));
    EXPECT_FALSE(IsFolder(dir / "missing"));
}

TEST(ListFolderTest, ListsHiddenEntriesAndFolderLinksButNotDots) {
    TempDir dir;
    WriteFileBytes(dir / "a.gif", "x");
    WriteFileBytes(dir / ".hidden.gif", "x");
    ASSERT_TRUE(CreateFolder(dir / "sub"));
    ASSERT_EQ(symlink((dir / "sub").c_str(), (dir / "link-to-sub").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);

    std::vector<FolderEntry> entries;
    ASSERT_TRUE(ListFolder(dir.path(), entries));
    std::vector<std::pair<std::string, bool>> got;
    for (const auto& e : entries) got.emplace_back(e.name, e.is_folder);
    std::sort(got.begin(), got.end());
    const std::vector<std::pair<std::string, bool>> want = {
        {".hidden.gif", false}, {"a.gif", false}, {"dangling", false}, {"link-to-sub", true}, {"sub", true}};
    EXPECT_EQ(got, want);

    // Same listing whether or not the folder ends with "/".
    std::vector<FolderEntry> again;
    ASSERT_TRUE(ListFolder(dir.path() + "/", again));
    EXPECT_EQ(again.size(), entries.size());
    EXPECT_FALSE(ListFolder(dir / "missing", again));
    EXPECT_TRUE(again.empty());
}

TEST(ListFolderTest, FolderIdentityFollowsLinks) {
    TempDir dir;
    ASSERT_TRUE(CreateFolder(dir / "sub"));
    ASSERT_TRUE(CreateFolder(dir / "other"));
    ASSERT_EQ(symlink("..", (dir / "sub/up").c_str()), 0);
    FolderIdentity root, up, sub, other;
    ASSERT_TRUE(GetFolderIdentity(dir.path(), root));
    ASSERT_TRUE(GetFolderIdentity(dir / "sub/up", up));
    ASSERT_TRUE(GetFolderIdentity(dir / "sub", sub));
    ASSERT_TRUE(GetFolderIdentity(dir / "other", other));
    EXPECT_EQ(root, up);
    EXPECT_FALSE(sub == other);
    EXPECT_FALSE(GetFolderIdentity(dir / "missing", other));
}

TEST(FileOperations, CreateRenameAndDelete) {
    TempDir dir;
    EXPECT_TRUE(CreateFolder(dir / "new"));
    EXPECT_FALSE(CreateFolder(dir / "new"));  // already there
    EXPECT_FALSE(CreateFolder(dir / "no/such/parent"));

    WriteFileBytes(dir / "from", "abc");
    EXPECT_TRUE(RenameFile(dir / "from", dir / "new/to"));
    EXPECT_EQ(FileSize(dir / "from"), -1);
    EXPECT_EQ(FileSize(dir / "new/to"), 3);
    EXPECT_FALSE(RenameFile(dir / "from", dir / "again"));

    EXPECT_TRUE(DeleteFileIfExists(dir / "new/to"));
    EXPECT_EQ(FileSize(dir / "new/to"), -1);
    EXPECT_TRUE(DeleteFileIfExists(dir / "new/to"));  // nothing there is fine
}

TEST(FileOperations, ForceDeleteRemovesReadOnlyFiles) {
    TempDir dir;
    WriteFileBytes(dir / "ro", "abc");
    ASSERT_EQ(chmod((dir / "ro").c_str(), 0444), 0);
    EXPECT_TRUE(ForceDeleteFile(dir / "ro"));
    EXPECT_EQ(FileSize(dir / "ro"), -1);
    EXPECT_FALSE(ForceDeleteFile(dir / "ro"));
}

TEST(FileOperations, ReadWholeFileKeepsEveryByte) {
    TempDir dir;
    std::string data;
    for (int i = 0; i < 200000; ++i) data.push_back(static_cast<char>(i * 7));
    WriteFileBytes(dir / "bin", data);
    std::string got;
    ASSERT_TRUE(ReadWholeFile(dir / "bin", got));
    EXPECT_EQ(got, data);
    EXPECT_FALSE(ReadWholeFile(dir / "missing", got));
    EXPECT_FALSE(ReadWholeFile(dir.path(), got));
}

TEST(LastWriteTime, RoundTripsLocalCountsAndLeavesAccessTime) {
    ScopedTimeZone zone("Europe/Berlin");
    TempDir dir;
    const std::string path = dir / "f";
    WriteFileBytes(path, "x");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    // A summer and a winter date, so a daylight-saving zone is crossed.
    for (const int64_t local : {int64_t{1593561600}, int64_t{1578052800}, int64_t{86400 * 3}}) {
        ASSERT_TRUE(SetLastWriteTime(path, local));
        int64_t back = 0;
        ASSERT_TRUE(GetLastWriteTime(path, back));
        EXPECT_EQ(back, local);
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, FromLocalCount(local));
        EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    }
    int64_t ignored = 0;
    EXPECT_FALSE(GetLastWriteTime(dir / "missing", ignored));
    EXPECT_FALSE(SetLastWriteTime(dir / "missing", 0));
}

TEST(LastWriteTime, LocalCountReadsAsTheLocalClock) {
    ScopedTimeZone zone("America/New_York");
    TempDir dir;
    const std::string path = dir / "f";
    WriteFileBytes(path, "x");
    const time_t real = 1600000000;
    struct timespec times[2] = {{0, UTIME_OMIT}, {real, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    int64_t local = 0;
    ASSERT_TRUE(GetLastWriteTime(path, local));
    std::tm expected{}, got{};
    localtime_r(&real, &expected);
    const time_t as_time = static_cast<time_t>(local);
    gmtime_r(&as_time, &got);
    EXPECT_EQ(got.tm_hour, expected.tm_hour);
    EXPECT_EQ(got.tm_mday, expected.tm_mday);
    EXPECT_EQ(got.tm_min, expected.tm_min);
    EXPECT_EQ(local, static_cast<int64_t>(real) - 4 * 3600);  // daylight saving time in New York
}

}  // namespace
}  // namespace kestrune
