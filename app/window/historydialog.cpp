#include "window/historydialog.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const char *const kHeaders[] = {"Time",  "Command",      "Port or device", "Adapter serial",
                                "Bytes", "SHA-256 (12)", "Outcome"};

QString cell(const Journal::Row &r, int column) {
    switch (column) {
    case 0:
        return r.time;
    case 1:
        return r.command;
    case 2:
        return r.where;
    case 3:
        return r.serial;
    case 5:
        return r.hash;
    case 6:
        return r.outcome;
    }
    return QString::number(r.bytes);
}

} // namespace

QVariant HistoryModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return cell(rows_.at(index.row()), index.column());
    if (role == Qt::ToolTipRole && !rows_.at(index.row()).file.isEmpty())
        return rows_.at(index.row()).file;
    if (role == Qt::TextAlignmentRole && index.column() == 4)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 7)
        return QLatin1String(kHeaders[section]);
    return {};
}

void HistoryModel::sort(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const bool down = order == Qt::DescendingOrder;
    std::stable_sort(rows_.begin(), rows_.end(), [=](const Journal::Row &a, const Journal::Row &b) {
        if (column == 4)
            return down ? b.bytes < a.bytes : a.bytes < b.bytes;
        return down ? cell(b, column) < cell(a, column) : cell(a, column) < cell(b, column);
    });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

HistoryDialog::HistoryDialog(const QString &journalPath, QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QStringLiteral("History"));
    QList<Journal::Row> rows;
    for (const QJsonObject &entry : Journal::read(journalPath))
        rows.append(Journal::row(entry));
    model_ = new HistoryModel(std::move(rows), this);

    auto *label =
        new QLabel(model_->rowCount() == 0
                       ? QStringLiteral("No transfer recorded yet in %1.").arg(journalPath)
                       : QStringLiteral("&Transfers, newest first (%1):").arg(model_->rowCount()),
                   this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("historyTable"));
    table_->setAccessibleName(QStringLiteral("Transfers"));
    label->setBuddy(table_);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setTabKeyNavigation(false);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    // Fixed heights and widths: nothing measures 100,000 rows.
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    const char *const widest[] = {"2026-12-31 23:59:59", "read-back", "/dev/ttyUSB10",
                                  "FT1Z2Y3X4",           "186368",    "0123456789ab"};
    for (int c = 0; c < 6; ++c)
        table_->horizontalHeader()->resizeSection(
            c, qMax(fontMetrics().horizontalAdvance(QLatin1String(widest[c])),
                    fontMetrics().horizontalAdvance(QLatin1String(kHeaders[c]))) +
                   24);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    table_->setSortingEnabled(true);

    openButton_ = new QPushButton(QStringLiteral("&Open File"), this);
    openButton_->setObjectName(QStringLiteral("openFileButton"));
    auto *closeButton = new QPushButton(QStringLiteral("&Close"), this);
    for (QPushButton *button : {openButton_, closeButton})
        button->setAutoDefault(false); // Enter in the table opens the row, nothing else
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(openButton_);
    buttons->addWidget(closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(table_);
    layout->addLayout(buttons);
    resize(fontMetrics().averageCharWidth() * 130, fontMetrics().height() * 30);

    const auto update = [this] {
        openButton_->setEnabled(!fileOf(table_->currentIndex()).isEmpty());
    };
    connect(table_->selectionModel(), &QItemSelectionModel::currentChanged, this, update);
    connect(model_, &QAbstractItemModel::layoutChanged, this, update);
    connect(table_, &QAbstractItemView::activated, this, &HistoryDialog::openRow);
    connect(openButton_, &QPushButton::clicked, this, [this] { openRow(table_->currentIndex()); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    if (model_->rowCount() > 0)
        table_->setCurrentIndex(model_->index(0, 0));
    update();
    table_->setFocus();
}

QString HistoryDialog::fileOf(const QModelIndex &index) const {
    if (!index.isValid())
        return {};
    const QString file = model_->row(index.row()).file;
    return !file.isEmpty() && QFileInfo(file).isFile() ? file : QString();
}

void HistoryDialog::openRow(const QModelIndex &index) {
    chosen_ = fileOf(index);
    if (!chosen_.isEmpty())
        accept();
}
