#include "window/historydialog.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonDocument>
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

HistoryModel::HistoryModel(QByteArray journal, QObject *parent)
    : QAbstractTableModel(parent), text_(std::move(journal)) {
    for (qsizetype end = text_.size(); end > 0;) {
        const qsizetype start = text_.lastIndexOf('\n', end - 1) + 1;
        const QByteArrayView line = QByteArrayView(text_).sliced(start, end - start).trimmed();
        if (line.startsWith('{') && line.endsWith('}'))
            lines_.append(line);
        end = start - 1;
    }
    rows_.resize(lines_.size());
    order_.reserve(lines_.size());
    for (int i = 0; i < int(lines_.size()); ++i)
        order_.append(i);
}

const Journal::Row &HistoryModel::parsed(int line) const {
    std::optional<Journal::Row> &row = rows_[line];
    if (!row) {
        const QJsonDocument doc = QJsonDocument::fromJson(lines_.at(line).toByteArray());
        row = Journal::row(doc.object());
        if (!doc.isObject())
            row->outcome = QStringLiteral("unreadable");
    }
    return *row;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return cell(row(index.row()), index.column());
    if (role == Qt::ToolTipRole && !row(index.row()).file.isEmpty())
        return row(index.row()).file;
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
    // The journal's order breaks ties: newest first.
    std::sort(order_.begin(), order_.end());
    std::stable_sort(order_.begin(), order_.end(), [&](int x, int y) {
        const Journal::Row &a = parsed(down ? y : x), &b = parsed(down ? x : y);
        return column == 4 ? a.bytes < b.bytes : cell(a, column) < cell(b, column);
    });
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

HistoryDialog::HistoryDialog(const QString &journalPath, QWidget *owner) : QDialog(owner) {
    setObjectName(QStringLiteral("HistoryDialog"));
    setWindowTitle(QStringLiteral("History"));
    QFile journal(journalPath);
    model_ = new HistoryModel(journal.open(QIODevice::ReadOnly) ? journal.readAll() : QByteArray(),
                              this);

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
    // Sorted on a click only: the journal's own order is newest first already.
    QHeaderView *header = table_->horizontalHeader();
    header->setSortIndicator(0, Qt::DescendingOrder);
    header->setSortIndicatorShown(true);
    header->setSectionsClickable(true);
    connect(header, &QHeaderView::sortIndicatorChanged, model_, &HistoryModel::sort);

    // The header sorts by mouse; this by keyboard.
    auto *sortBox = new QComboBox(this);
    sortBox->setObjectName(QStringLiteral("sortBox"));
    for (const char *name : kHeaders)
        sortBox->addItem(QLatin1String(name));
    auto *sortLabel = new QLabel(QStringLiteral("&Sort by:"), this);
    sortLabel->setBuddy(sortBox);
    connect(sortBox, &QComboBox::activated, this, [header](int c) {
        header->setSortIndicator(c, c == 0 ? Qt::DescendingOrder : Qt::AscendingOrder);
    });

    openButton_ = new QPushButton(QStringLiteral("&Open File"), this);
    openButton_->setObjectName(QStringLiteral("openFileButton"));
    auto *closeButton = new QPushButton(QStringLiteral("&Close"), this);
    for (QPushButton *button : {openButton_, closeButton})
        button->setAutoDefault(false); // Enter in the table opens the row, nothing else
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(sortLabel);
    buttons->addWidget(sortBox);
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
