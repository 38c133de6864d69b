#include "window/preview_pane.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <utility>

namespace kestrune {
namespace {

constexpr int kPollMilliseconds = 40;
constexpr int kCheckerSquare = 8;

QString FileNameOf(const std::string& path) {
    const QString text = QString::fromStdString(path);
    return text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
}

QString InfoText(const PreviewFrame& frame) {
    if (frame.failure != FailureReason::None) {
        QString text = QStringLiteral("Not converted: ") + QString::fromUtf8(FailureWords(frame.failure));
        if (!frame.output_path.empty()) text += QStringLiteral("\nOutput: ") + FileNameOf(frame.output_path);
        return text;
    }
    if (!frame.after) return QString();
    return QStringLiteral("Output: %1 \u00d7 %2, %3 bits\n%4")
        .arg(frame.width)
        .arg(frame.height)
        .arg(frame.bpp)
        .arg(FileNameOf(frame.output_path));
}

// Whether two requests give the same frame; the mask's random number is
// drawn anew after every file, so it does not count.
bool SameRequest(const PreviewRequest& a, const PreviewRequest& b) {
    return a.settings == b.settings && a.frame == b.frame && a.state.current_input == b.state.current_input &&
           a.state.current_subfolder == b.state.current_subfolder && a.state.conversion == b.state.conversion &&
           a.state.output_folder == b.state.output_folder && a.state.sequence_number == b.state.sequence_number;
}

}  // namespace

FrameView::FrameView(QWidget* parent) : QWidget(parent) {}

void FrameView::SetImage(const QImage& image) {
    image_ = image;
    if (!fit_) resize(image_.size());
    updateGeometry();
    update();
}

void FrameView::SetFit(bool fit) {
    fit_ = fit;
    if (!fit_) resize(image_.size());
    updateGeometry();
    update();
}

QSize FrameView::sizeHint() const { return fit_ ? QSize(160, 120) : image_.size(); }

void FrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (image_.isNull()) return;
    QRect target(QPoint(0, 0), image_.size());
    if (fit_) {
        const QSize fitted = image_.size().scaled(size(), Qt::KeepAspectRatio);
        // Small frames are shown at 1:1 rather than blown up.
        const QSize shown = image_.width() <= width() && image_.height() <= height() ? image_.size() : fitted;
        target = QRect(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
    }
    // Transparency shows as a checkerboard under the frame.
    painter.save();
    painter.setClipRect(target);
    for (int y = target.top(); y <= target.bottom(); y += kCheckerSquare) {
        for (int x = target.left(); x <= target.right(); x += kCheckerSquare) {
            const bool dark = ((x - target.left()) / kCheckerSquare + (y - target.top()) / kCheckerSquare) % 2;
            painter.fillRect(x, y, kCheckerSquare, kCheckerSquare, dark ? QColor(204, 204, 204) : Qt::white);
        }
    }
    painter.restore();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, target.size() != image_.size());
    painter.drawImage(target, image_);
}

PreviewPane::PreviewPane(QWidget* parent, RequestSource source) : QWidget(parent), source_(std::move(source)) {
    setObjectName(QStringLiteral("previewPane"));
    before_ = new FrameView(this);
    after_ = new FrameView(this);
    const auto area = [this](FrameView* view, const char* name) {
        auto* scroll = new QScrollArea(this);
        scroll->setObjectName(QLatin1String(name));
        scroll->setWidget(view);
        scroll->setWidgetResizable(true);
        scroll->setAlignment(Qt::AlignCenter);
        scroll->setMinimumSize(120, 90);
        return scroll;
    };
    before_area_ = area(before_, "previewBefore");
    after_area_ = area(after_, "previewAfter");

    previous_ = new QPushButton(QStringLiteral("\u25c0"), this);
    next_ = new QPushButton(QStringLiteral("\u25b6"), this);
    previous_->setToolTip(QStringLiteral("Previous frame"));
    next_->setToolTip(QStringLiteral("Next frame"));
    for (QPushButton* button : {previous_, next_}) button->setFixedWidth(32);
    connect(previous_, &QPushButton::clicked, this, [this] { ShowFrame(frame_ - 1); });
    connect(next_, &QPushButton::clicked, this, [this] { ShowFrame(frame_ + 1); });
    frame_label_ = new QLabel(this);
    zoom_ = new QPushButton(QStringLiteral("1:1"), this);
    zoom_->setToolTip(QStringLiteral("Fit to the pane or show at 1:1"));
    connect(zoom_, &QPushButton::clicked, this, &PreviewPane::ToggleZoom);
    info_ = new QLabel(this);
    info_->setObjectName(QStringLiteral("previewInfo"));
    info_->setTextFormat(Qt::PlainText);
    info_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    info_->setWordWrap(true);

    auto* captions = new QHBoxLayout;
    captions->addWidget(new QLabel(QStringLiteral("Before"), this), 1);
    captions->addWidget(new QLabel(QStringLiteral("After"), this), 1);
    auto* views = new QHBoxLayout;
    views->addWidget(before_area_, 1);
    views->addWidget(after_area_, 1);
    auto* controls = new QHBoxLayout;
    controls->addWidget(previous_);
    controls->addWidget(frame_label_);
    controls->addWidget(next_);
    controls->addStretch();
    controls->addWidget(zoom_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(captions);
    layout->addLayout(views, 1);
    layout->addLayout(controls);
    layout->addWidget(info_);

    thread_ = std::thread([this] { RenderLoop(); });
    poll_.setInterval(kPollMilliseconds);
    connect(&poll_, &QTimer::timeout, this, &PreviewPane::Poll);
    poll_.start();
    ShowFrame(0);
}

PreviewPane::~PreviewPane() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PreviewPane::SetSource(RequestSource source) {
    source_ = std::move(source);
    Poll();
}

void PreviewPane::SetInput(const QString& path, const QString& subfolder) {
    if (path == input_ && subfolder == subfolder_) return;
    input_ = path;
    subfolder_ = subfolder;
    frame_ = 0;
    Poll();
}

void PreviewPane::ShowFrame(int frame) {
    frame_ = std::max(0, frame);
    if (shown_.frames_taken > 0) frame_ = std::min(frame_, shown_.frames_taken - 1);
    Poll();
}

void PreviewPane::ToggleZoom() {
    fit_ = !fit_;
    zoom_->setText(fit_ ? QStringLiteral("1:1") : QStringLiteral("Fit"));
    for (auto [area, view] : {std::pair{before_area_, before_}, std::pair{after_area_, after_}}) {
        area->setWidgetResizable(fit_);
        view->SetFit(fit_);
    }
}

// Settings may change anywhere (the format box, the preferences being
// edited); looking at them on a short timer catches every change without
// each editor having to tell.
void PreviewPane::Poll() {
    if (input_.isEmpty()) {
        if (last_) {
            last_.reset();
            shown_ = PreviewFrame{};
            before_->SetImage({});
            after_->SetImage({});
            frame_label_->clear();
            info_->clear();
        }
        return;
    }
    PreviewRequest request;
    if (!source_ || !source_(request)) return;
    request.state.current_input = input_.toStdString();
    request.state.current_subfolder = subfolder_.toStdString();
    request.frame = frame_;
    if (last_ && SameRequest(*last_, request)) return;
    last_ = request;
    Submit();
}

void PreviewPane::Submit() {
    {
        std::lock_guard lock(mutex_);
        pending_ = Job{*last_, ++requested_};
    }
    wake_.notify_all();
}

void PreviewPane::RenderLoop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || pending_; });
            if (stopping_) return;
            job = std::move(*pending_);
            pending_.reset();
        }
        PreviewFrame frame = RenderPreview(job.request, layers_);
        QImage before = ToImage(frame.before);
        QImage after = ToImage(frame.after);
        QMetaObject::invokeMethod(
            this,
            [this, number = job.number, frame = std::make_shared<PreviewFrame>(std::move(frame)),
             before = std::move(before), after = std::move(after)]() mutable {
                Take(number, std::move(*frame), std::move(before), std::move(after));
            },
            Qt::QueuedConnection);
    }
}

void PreviewPane::Take(uint64_t number, PreviewFrame frame, QImage before, QImage after) {
    // An older frame that ends after a newer request is not shown.
    if (number != requested_) return;
    rendered_ = number;
    shown_ = std::move(frame);
    before_->SetImage(before);
    after_->SetImage(after);
    if (shown_.frames_taken > 0) {
        frame_ = shown_.frame_number;
        frame_label_->setText(
            QStringLiteral("Frame %1 of %2").arg(shown_.frame_number + 1).arg(shown_.frames_taken));
    } else {
        frame_label_->clear();
    }
    previous_->setEnabled(shown_.frame_number > 0);
    next_->setEnabled(shown_.frame_number + 1 < shown_.frames_taken);
    info_->setText(InfoText(shown_));
    emit FrameShown();
}

QImage PreviewPane::ToImage(const Bitmap& bitmap) {
    if (!bitmap) return {};
    Bitmap rgba(FreeImage_ConvertTo32Bits(bitmap.get()));
    if (!rgba) return {};
    const int width = WidthOf(rgba);
    const int height = HeightOf(rgba);
    // Frames without alpha are opaque however their fourth byte was filled.
    const bool opaque = BppOf(bitmap) != 32 && FreeImage_GetImageType(bitmap.get()) != FIT_RGBA16 &&
                        FreeImage_GetImageType(bitmap.get()) != FIT_RGBAF;
    QImage image(width, height, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        // The bitmap's rows run bottom-up; its pixels are B, G, R, A in
        // memory, as a 32-bit QImage's on this byte order.
        std::memcpy(image.scanLine(y), FreeImage_GetScanLine(rgba.get(), height - 1 - y),
                    static_cast<size_t>(width) * 4);
    }
    return image;
}

void AddPreviewButton(QWidget* dialog, PreviewPane::RequestSource source, const QString& input,
                      const QString& subfolder) {
    auto* box = dialog->findChild<QDialogButtonBox*>();
    if (!box) return;
    QPushButton* button = box->addButton(QStringLiteral("Preview"), QDialogButtonBox::ActionRole);
    button->setObjectName(QStringLiteral("previewButton"));
    QObject::connect(button, &QPushButton::clicked, dialog, [dialog, source, input, subfolder] {
        auto* window = dialog->findChild<QDialog*>(QStringLiteral("previewWindow"));
        if (!window) {
            window = new QDialog(dialog);
            window->setObjectName(QStringLiteral("previewWindow"));
            window->setWindowTitle(QStringLiteral("Preview"));
            auto* pane = new PreviewPane(window, source);
            pane->SetInput(input, subfolder);
            auto* layout = new QVBoxLayout(window);
            layout->addWidget(pane);
            window->resize(640, 420);
        }
        window->show();
        window->raise();
    });
}

}  // namespace kestrune
