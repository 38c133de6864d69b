#include "window/result_rows.h"

#include <QAbstractItemModel>
#include <QBrush>
#include <QCheckBox>
#include <QHeaderView>
#include <QTreeWidget>

namespace kestrune {
namespace {

constexpr int kResultColumn = 1;
constexpr int kStatusRole = Qt::UserRole + 1;

QString Plural(int count, const char* one, const char* many) {
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

}  // namespace

ResultRows::ResultRows(QTreeWidget* list) : QObject(list), list_(list) {
    list_->setColumnCount(2);
    list_->headerItem()->setText(kResultColumn, QStringLiteral("Result"));
    list_->setColumnHidden(kResultColumn, true);
    failures_only_ = new QCheckBox(QStringLiteral("Show only the files not converted"), list->parentWidget());
    failures_only_->setObjectName(QStringLiteral("failuresOnly"));
    failures_only_->setVisible(false);
    connect(failures_only_, &QCheckBox::toggled, this, [this] { ApplyFilter(); });
    // Rows removed or the list emptied: the rows known by path may be gone.
    QAbstractItemModel* model = list_->model();
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { rows_.clear(); });
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { rows_.clear(); });
}

void ResultRows::Begin() {
    list_->setColumnHidden(kResultColumn, false);
    failures_only_->setVisible(true);
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list_->topLevelItem(i);
        row->setText(kResultColumn, QStringLiteral("waiting"));
        row->setData(kResultColumn, kStatusRole, QVariant());
        row->setToolTip(kResultColumn, QString());
        row->setForeground(kResultColumn, QBrush());
    }
    ApplyFilter();
}

void ResultRows::Forget() {
    rows_.clear();
    list_->setColumnHidden(kResultColumn, true);
    failures_only_->setChecked(false);
    failures_only_->setVisible(false);
}

QString ResultRows::ResultText(const FileResult& result) {
    switch (result.status) {
        case FileResult::Status::Converted:
            return QStringLiteral("converted: ") + Plural(result.outputs, "output", "outputs");
        case FileResult::Status::Failed:
            return QStringLiteral("not converted: ") + QString::fromUtf8(FailureWords(result.reason));
        case FileResult::Status::NotReached: break;
    }
    return QStringLiteral("not reached");
}

FileResult::Status ResultRows::StatusOf(const QTreeWidgetItem* row) {
    const QVariant status = row->data(kResultColumn, kStatusRole);
    return status.isValid() ? static_cast<FileResult::Status>(status.toInt()) : FileResult::Status::NotReached;
}

QString ResultRows::RowText(const QTreeWidgetItem* row) const {
    if (list_->isColumnHidden(kResultColumn) || row->text(kResultColumn).isEmpty()) return row->text(0);
    return row->text(0) + QLatin1Char('\t') + row->text(kResultColumn);
}

QTreeWidgetItem* ResultRows::RowOf(const QString& path) {
    if (rows_.isEmpty()) {
        for (int i = 0; i < list_->topLevelItemCount(); ++i)
            rows_.insert(list_->topLevelItem(i)->text(0), list_->topLevelItem(i));
    }
    return rows_.value(path, nullptr);
}

void ResultRows::Show(const FileResult& result) {
    QTreeWidgetItem* row = RowOf(QString::fromStdString(result.input));
    if (!row) return;
    row->setText(kResultColumn, ResultText(result));
    row->setData(kResultColumn, kStatusRole, static_cast<int>(result.status));
    QString tip;
    if (result.status == FileResult::Status::Failed) {
        tip = QStringLiteral("Not converted: ") + QString::fromUtf8(FailureWords(result.reason));
        if (!result.output.empty()) tip += QStringLiteral("\nOutput tried: ") + QString::fromStdString(result.output);
        row->setForeground(kResultColumn, QBrush(Qt::darkRed));
    } else if (result.status == FileResult::Status::Converted) {
        tip = QStringLiteral("Converted: ") + Plural(result.outputs, "output", "outputs") + QStringLiteral(", ") +
              Plural(result.frames, "frame", "frames") + QStringLiteral(" in ") +
              QString::number(result.milliseconds) + QStringLiteral(" ms\nLast output: ") +
              QString::fromStdString(result.output);
        row->setForeground(kResultColumn, QBrush());
    } else {
        tip = QStringLiteral("The run was stopped before this file.");
    }
    row->setToolTip(0, tip);
    row->setToolTip(kResultColumn, tip);
    ApplyFilter(row);
}

void ResultRows::ApplyFilter(QTreeWidgetItem* row) const {
    const bool only_failures = failures_only_->isChecked();
    row->setHidden(only_failures && StatusOf(row) == FileResult::Status::Converted);
}

void ResultRows::ApplyFilter() {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) ApplyFilter(list_->topLevelItem(i));
}

}  // namespace kestrune
