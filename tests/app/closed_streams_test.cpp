// Started with standard input, output and error closed, as some daemons and
// cron set-ups start programs, the program still converts everything.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using namespace testing_support;

TEST(ClosedStreams, EveryFileIsConvertedAsWithOpenOnes) {
    TempDir in, out, runtime;
    WriteGif(in / "a.gif", LetterF(12, 10));
    WriteGif(in / "b.gif", SimpleAnimation(8, 8, 2));
    std::string binary = KestruneBinary(), i = in.path(), o = out.path(), c = "png";
    std::string flags[] = {"-i", "-o", "-c"}, rt = "XDG_RUNTIME_DIR=" + runtime.path();
    char* argv[] = {binary.data(), flags[0].data(), i.data(), flags[1].data(), o.data(), flags[2].data(), c.data(),
                    nullptr};
    char* envp[] = {rt.data(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        for (int fd : {0, 1, 2}) close(fd);
        execve(binary.c_str(), argv, envp);
        _exit(127);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ListNames(out.path()), (std::vector<std::string>{"a.png", "b[1].png", "b[2].png"}));
    for (const std::string& name : ListNames(out.path())) EXPECT_TRUE(LoadImageFile(out / name)) << name;
}

}  // namespace
