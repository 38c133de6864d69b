// The selected file's frame before and after the operations with the
// settings being used or edited, with the output's size, depth and name.
// Frames are rendered on a thread of the pane's own, the newest request
// replacing one not yet begun, so the window never waits for them.
#pragma once

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "batch/preview.h"

class QLabel;
class QPushButton;
class QScrollArea;

namespace kestrune {

// A frame over a checkerboard, fitted to the view or at 1:1.
class FrameView : public QWidget {
  public:
    explicit FrameView(QWidget* parent);
    void SetImage(const QImage& image);
    const QImage& Image() const { return image_; }
    void SetFit(bool fit);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage image_;
    bool fit_ = true;
};

class PreviewPane : public QWidget {
    Q_OBJECT

  public:
    // Fills the request's settings and run values (output format, folder,
    // the mask's numbers); false while no preview should be made (a run is
    // going on).
    using RequestSource = std::function<bool(PreviewRequest&)>;

    PreviewPane(QWidget* parent, RequestSource source);
    ~PreviewPane() override;

    void SetSource(RequestSource source);
    RequestSource Source() const { return source_; }
    // The file shown and its subfolder below the input folder; "" for none.
    void SetInput(const QString& path, const QString& subfolder);
    QString Input() const { return input_; }
    // Frame among those "GIF Frame Loading" takes, from 0.
    void ShowFrame(int frame);

    // The last frame rendered and shown: the bitmap handed to the writer.
    const PreviewFrame& Shown() const { return shown_; }
    // Requests made and rendered so far (a test waits for them to meet).
    uint64_t Requested() const { return requested_; }
    uint64_t Rendered() const { return rendered_; }
    QLabel* InfoLine() const { return info_; }

    // Display form of a frame at any depth: 32-bit ARGB, top row first.
    static QImage ToImage(const Bitmap& bitmap);

  signals:
    void FrameShown();

  private:
    struct Job {
        PreviewRequest request;
        uint64_t number = 0;
    };
    void Poll();
    void Submit();
    void RenderLoop();
    void Take(uint64_t number, PreviewFrame frame, QImage before, QImage after);
    void ToggleZoom();

    RequestSource source_;
    QString input_;
    QString subfolder_;
    int frame_ = 0;
    std::optional<PreviewRequest> last_;  // the request last submitted
    QTimer poll_;

    FrameView* before_ = nullptr;
    FrameView* after_ = nullptr;
    QScrollArea* before_area_ = nullptr;
    QScrollArea* after_area_ = nullptr;
    QLabel* frame_label_ = nullptr;
    QLabel* info_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* zoom_ = nullptr;
    bool fit_ = true;
    PreviewFrame shown_;
    uint64_t requested_ = 0;
    uint64_t rendered_ = 0;

    // The rendering thread and what it shares with this one.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<Job> pending_;
    bool stopping_ = false;
    LayerCache layers_;  // the rendering thread's only
    std::thread thread_;
};

// Adds a "Preview" button to a dialog's button box that opens a window with
// a pane of its own fed by `source` (the dialog's unsaved edits), on the
// file `input` with its subfolder.
void AddPreviewButton(QWidget* dialog, PreviewPane::RequestSource source, const QString& input,
                      const QString& subfolder);

}  // namespace kestrune
