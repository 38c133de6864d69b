// A started window mode for each test: its own "config.ini" folder, message
// boxes answered by the test, web links recorded instead of opened.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/harness.h"
#include "window/main_window.h"
#include "window/session.h"

namespace window_test {

// The one QApplication of the test program (offscreen unless the
// environment names another platform).
void EnsureApplication();

// Processes events until `done` holds; false when it never did within the
// limit (a hang guard, not a measurement).
bool WaitUntil(const std::function<bool()>& done, int limit_seconds = 120);

// Writes small GIF files (a still "F" and short animations) and returns
// their paths.
std::vector<std::string> WriteGifs(const std::string& folder, const std::vector<std::string>& names);

struct Message {
    QString caption;
    QString text;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts (or starts again) the window mode as the program does.
    kestrune::MainWindow* Start();
    // Ends it as the program does at exit: placement stored, config.ini written.
    void Finish();
    kestrune::MainWindow* window() const { return session_->Window(); }

    // Drops the paths onto the main window as a file manager would.
    void Drop(const QStringList& paths);
    // Paths shown in the list, sorted.
    QStringList ListedSorted() const;

    std::unique_ptr<testing_support::TempDir> config_;
    std::unique_ptr<kestrune::WindowSession> session_;
    std::vector<Message> questions_;
    std::vector<Message> warnings_;
    std::vector<QString> opened_urls_;
    bool answer_ = false;
    // Runs while a question is open (the worker is paused then).
    std::function<void()> on_question_;
};

}  // namespace window_test
