#pragma once

#include "link/journal.h"

#include <QAbstractTableModel>
#include <QDialog>

class QPushButton;
class QTableView;

// The journal's entries as table rows, sortable by any column. Holds plain rows, not widgets:
// a journal of 100,000 lines opens at once.
class HistoryModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit HistoryModel(QList<Journal::Row> rows, QObject *parent = nullptr)
        : QAbstractTableModel(parent), rows_(std::move(rows)) {}

    int rowCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : int(rows_.size());
    }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : 7;
    }
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;
    const Journal::Row &row(int r) const { return rows_.at(r); }

private:
    QList<Journal::Row> rows_;
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
