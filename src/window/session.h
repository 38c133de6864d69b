// Start and end of the window mode around its event loop, apart from the
// loop itself so that tests can start and end it as often as they like.
#pragma once

#include <memory>
#include <string>

class QSocketNotifier;

namespace kestrune {

class MainWindow;

class WindowSession {
  public:
    WindowSession();
    ~WindowSession();

    // Needs a QApplication. Loads "config.ini", builds the texts, creates
    // the main window with its stored placement and output folder, runs the
    // reset of "New" and shows the window.
    MainWindow* Start();
    MainWindow* Window() const { return window_.get(); }
    // Stores the window placement and writes "config.ini".
    void Finish();
    // What Finish saves, for a close signal, once a running thread has been
    // stopped.
    void SaveOnSignal();

  private:
    void SaveSettings();
    void ListenForOtherCopies();
    void StopListening();

    std::unique_ptr<MainWindow> window_;
    // Later copies started with files hand them over here.
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kestrune
