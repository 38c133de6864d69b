// A desktop logout ends the window with SIGTERM or SIGHUP: "config.ini" is
// written as a normal exit writes it. Tried on the real program.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/harness.h"

namespace window_test {
namespace {

using testing_support::ReadFileBytes;

// True once the process has loaded Qt's offscreen platform: the window mode
// has started and takes the close signals from then on.
bool WindowModeStarted(int pid, int limit_seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ReadFileBytes("/proc/" + std::to_string(pid) + "/maps").find("libqoffscreen") != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(CloseSignal, LogoutSignalsWriteConfigIniAsAnExitDoes) {
    for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE("signal " + std::to_string(sig));
        testing_support::TempDir config;
        const std::string folder = config / "Tarvel/kestrune";
        std::filesystem::create_directories(folder);
        // A file the program never writes in this shape: one setting, no
        // other group. A written file holds every group, this value kept.
        testing_support::WriteFileBytes(folder + "/config.ini", "[Output]\r\nJPG Quality = 42\r\n");

        testing_support::RunOptions options;
        options.env["QT_QPA_PLATFORM"] = "offscreen";
        options.env["XDG_CONFIG_HOME"] = config.path();
        testing_support::StartedKestrune program({}, options);
        ASSERT_TRUE(WindowModeStarted(program.pid(), 60)) << "the window mode did not start";
        program.Signal(sig);
        EXPECT_EQ(program.Wait(60), 0);

        const std::string ini = ReadFileBytes(folder + "/config.ini");
        EXPECT_NE(ini.find("JPG Quality = 42"), std::string::npos) << ini;
        EXPECT_NE(ini.find("[Window]"), std::string::npos) << "config.ini was not written:\n" << ini;
        for (const std::string& name : testing_support::ListNames(folder))
            EXPECT_FALSE(name.starts_with(".kestrune")) << "temporary file left: " << name;
    }
}

}  // namespace
}  // namespace window_test
