// Started with standard input, output and error closed, as some daemons and
// cron set-ups start programs, the program still converts everything.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "support/harness.h"

namespace {

using namespace testing_support;

// Exit code of kestrunecmd run with descriptors 0, 1 and 2 closed.
int RunWithClosedStreams(const std::vector<std::string>& args, const TempDir& runtime) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("XDG_RUNTIME_DIR=" + runtime.path());
    env.push_back("XDG_CONFIG_HOME=" + runtime / "config");
    const std::string binary = KestruneBinary();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(0);
        close(1);
        close(2);
        execve(binary.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ClosedStreams, EveryFileIsConvertedAsWithOpenOnes) {
    TempDir in, out, runtime;
    WriteGif(in / "a.gif", LetterF(12, 10));
    WriteGif(in / "b.gif", SimpleAnimation(8, 8, 2));
    EXPECT_EQ(RunWithClosedStreams({"-i", in.path(), "-o", out.path(), "-c", "png"}, runtime), 0);
    EXPECT_EQ(ListNames(out.path()), (std::vector<std::string>{"a.png", "b[1].png", "b[2].png"}));
    for (const std::string& name : ListNames(out.path())) EXPECT_TRUE(LoadImageFile(out / name)) << name;
}

}  // namespace
