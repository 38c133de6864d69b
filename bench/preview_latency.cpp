// How long the window's preview takes to show a settings change: a 640x480
// frame with a solid frame, a text watermark, a resize and a rotation, the
// rotation angle changed each time, timed from the change to the pane
// showing the new frame (its polling included).
// Usage: bench_preview [changes]   (offscreen unless QT_QPA_PLATFORM says otherwise)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/gif_writer.h"
#include "window/preview_pane.h"

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;

    const std::string gif = "/tmp/kestrune-bench-preview.gif";
    testing_support::WriteGif(gif, testing_support::LetterF(640, 480));

    kestrune::Settings s;
    kestrune::SetDefaultSettings(s, false);
    s.output_format = "png";
    s.do_frame = 1;
    s.solid_left = s.solid_right = s.solid_top = s.solid_bottom = 12;
    s.do_watermark = kestrune::kTextWatermark;
    s.text = "%filename% %width%x%height%";
    s.do_image_resize = 1;
    s.image_width = 800;
    s.image_height = 600;
    s.do_image_rotation = 1;
    s.image_rotation = 1;

    kestrune::PreviewPane pane(nullptr, [&s](kestrune::PreviewRequest& request) {
        request.settings = s;
        request.state.conversion = s.output_format;
        request.state.output_folder = "/tmp/";
        return true;
    });
    pane.resize(640, 400);
    pane.show();
    pane.SetInput(QString::fromStdString(gif), QString());

    const auto wait_shown = [&] {
        QEventLoop loop;
        QObject::connect(&pane, &kestrune::PreviewPane::FrameShown, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    };
    wait_shown();  // the first frame, with the font loaded
    std::vector<double> times;
    for (int i = 0; i < changes; ++i) {
        QElapsedTimer clock;
        clock.start();
        s.image_rotation = 2 + i % 40;
        wait_shown();
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("preview of a 640x480 frame (frame, text watermark, resize, rotation): median %.1f ms, "
                "max %.1f ms over %d changes\n",
                times[times.size() / 2], times.back(), changes);
    std::remove(gif.c_str());
    return 0;
}
