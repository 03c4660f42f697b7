#pragma once

#include "link/journal.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <optional>

class QPushButton;
class QTableView;

// The journal's lines as table rows, newest first, sortable by any column. A line is parsed
// when it is first shown or sorted on, so a journal of 100,000 lines opens at once; lines that
// are not whole (a write cut short) are left out.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit HistoryModel(QByteArray journal, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : int(order_.size());
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : 7;
    }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;
    const Journal::Row &row(int r) const { return parsed(order_.at(r)); }

private:
    const Journal::Row &parsed(int line) const;

    QByteArray text_;
    QList<QByteArrayView> lines_; // into text_, newest first
    QList<int> order_;            // the line shown in each row
    mutable QList<std::optional<Journal::Row>> rows_;
};

// File > History: every transfer the journal records, newest first. A row whose file still
// exists can be opened; the window then opens it as Open does.
class HistoryDialog : public QDialog {
    Q_OBJECT

public:
    HistoryDialog(const QString &journalPath, QWidget *owner);
    // The file to open once the dialog was accepted.
    QString chosenFile() const { return chosen_; }

private:
    QString fileOf(const QModelIndex &index) const;
    void openRow(const QModelIndex &index);

    HistoryModel *model_;
    QTableView *table_;
    QPushButton *openButton_;
    QString chosen_;
};
