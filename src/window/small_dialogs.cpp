#include "window/small_dialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrlQuery>
#include <QVBoxLayout>

#include "app/version.h"
#include "formats/registry.h"
#include "settings/settings.h"
#include "window/dialogs.h"
#include "window/commands.h"
#include "window/links.h"

namespace kestrune {

InputChooser::InputChooser(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Dialog", "Select Input Files"));
    auto* file = new QPushButton(Text("Menu", "Select Input File"), this);
    auto* folder = new QPushButton(Text("Menu", "Select Input Folder"), this);
    file->setObjectName(QStringLiteral("chooseFile"));
    folder->setObjectName(QStringLiteral("chooseFolder"));
    file->setDefault(true);
    connect(file, &QPushButton::clicked, this, [this] { done(kCommandSelectInputFile); });
    connect(folder, &QPushButton::clicked, this, [this] { done(kCommandSelectInputFolder); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(file);
    layout->addWidget(folder);
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("About", "Title"));
    auto* title = new QLabel(QString::fromUtf8(kProductTitle), this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    title->setFont(big);

    const QString web = QString::fromUtf8(kWebAddress);
    const QString mail = QString::fromLatin1(kFeedbackAddress);
    auto* form = new QFormLayout;
    form->addRow(Text("About", "Version"), new QLabel(QString::fromStdString(VersionDisplay(kVersionNumber)), this));
    auto* web_label = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(web.toHtmlEscaped()), this);
    web_label->setOpenExternalLinks(false);
    connect(web_label, &QLabel::linkActivated, this, [](const QString& link) { OpenUrl(QUrl(link)); });
    form->addRow(Text("About", "Website"), web_label);
    auto* mail_label = new QLabel(QStringLiteral("<a href=\"mailto:%1\">%1</a>").arg(mail.toHtmlEscaped()), this);
    connect(mail_label, &QLabel::linkActivated, this, [](const QString&) { OpenUrl(FeedbackUrl()); });
    form->addRow(Text("About", "Email"), mail_label);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(Text("Dialog", "OK"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addLayout(form);
    layout->addWidget(new QLabel(QString::fromUtf8(kCopyrightNotice), this));
    layout->addWidget(buttons);
}

ConverterFinder::ConverterFinder(QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text("Custom-Converter", "Title"));
    from_ = new QComboBox(this);
    to_ = new QComboBox(this);
    from_->setEditable(true);
    to_->setEditable(true);
    for (const auto& ext : InputFormatList()) from_->addItem(QString::fromStdString(ext));
    for (const auto& ext : OutputFormatList()) to_->addItem(QString::fromStdString(ext));
    to_->setCurrentText(QString::fromStdString(settings.output_format));

    auto* form = new QFormLayout;
    form->addRow(Text("Custom-Converter", "From"), from_);
    form->addRow(Text("Custom-Converter", "To"), to_);
    auto* search = new QPushButton(Text("Custom-Converter", "Search"), this);
    search->setDefault(true);
    connect(search, &QPushButton::clicked, this, &ConverterFinder::Search);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(search, 0, Qt::AlignRight);
}

void ConverterFinder::Search() {
    const QString from = from_->currentText().trimmed().toLower().remove(QLatin1Char('.'));
    const QString to = to_->currentText().trimmed().toLower().remove(QLatin1Char('.'));
    if (from.isEmpty() || to.isEmpty()) {
        ShowWarning(this, Text("Msg", "Warning"), Text("Msg", "Empty extensions"));
        return;
    }
    const auto& accepted = AcceptedInputExtensions();
    const bool reads = std::find(accepted.begin(), accepted.end(), from.toStdString()) != accepted.end();
    if (reads && IsOutputFormat(to.toStdString())) {
        chosen_ = to;
        accept();
        return;
    }
    QUrl url = HomepageUrl();
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("from"), from);
    query.addQueryItem(QStringLiteral("to"), to);
    url.setQuery(query);
    OpenUrl(url);
}

}  // namespace kestrune
