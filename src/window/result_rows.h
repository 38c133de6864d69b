// What became of each file of the last run, shown in the input list: a
// result column, a tooltip with the reason and the output tried, a filter
// to the files not converted, and rows copied as text with their result.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <cstddef>

#include "batch/file_result.h"

class QCheckBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace kestrune {

class ResultRows : public QObject {
    Q_OBJECT

  public:
    // The list gets a second column, hidden until a run starts; the filter
    // box is for the caller to lay out under the list.
    explicit ResultRows(QTreeWidget* list);

    QCheckBox* FailuresOnly() const { return failures_only_; }

    // A run starts: every row waits for its result.
    void Begin();
    // The result of one input, on the interface thread.
    void Show(const FileResult& result);
    // The list was emptied or a run's results no longer apply.
    void Forget();

    // "converted: 2 outputs", "not converted: the disk is full", "not
    // reached"; empty before a result.
    static QString ResultText(const FileResult& result);
    // The row as copied: its path, and its result after a tab once it has one.
    QString RowText(const QTreeWidgetItem* row) const;
    // The result shown on a row; Status::NotReached also before any run.
    static FileResult::Status StatusOf(const QTreeWidgetItem* row);

  private:
    QTreeWidgetItem* RowOf(const QString& path);
    void ApplyFilter();
    void ApplyFilter(QTreeWidgetItem* row) const;

    QTreeWidget* list_;
    QCheckBox* failures_only_;
    QHash<QString, QTreeWidgetItem*> rows_;  // filled on demand, emptied when rows go
};

}  // namespace kestrune
