#include "window/devicedialog.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kAbsent = QStringLiteral("absent");

// Where a path leads: a by-id link and the node it names are the same device.
QString resolved(const QString &path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

const SerialPortEntry *findEntry(const QString &path, const QList<SerialPortEntry> &ports) {
    if (path.isEmpty())
        return nullptr;
    const QString target = resolved(path);
    for (const SerialPortEntry &port : ports)
        if (path.compare(port.device, Qt::CaseInsensitive) == 0 || path == port.byIdPath ||
            target == resolved(port.device))
            return &port;
    return nullptr;
}

// A path the inventory does not list may still be a device (a pseudo-terminal, a link of the
// user's own); absent means nothing is there.
bool absent(const QString &path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true; // every port Windows has is listed
#else
    return !QFileInfo::exists(path);
#endif
}

} // namespace

QString describeDevice(const QString &device, const QList<SerialPortEntry> &present) {
    const SerialPortEntry *entry = findEntry(device, present);
    if (!entry)
        return device.isEmpty() || !absent(device) ? device
                                                   : QStringLiteral("%1 (%2)").arg(device, kAbsent);
    return entry->description.isEmpty()
               ? device
               : QStringLiteral("%1 \u2014 %2").arg(device, entry->description);
}

DeviceDialog::DeviceDialog(int port, const PortMap &map, PortInventory inventory, QWidget *owner)
    : QDialog(owner), port_(port), inventory_(std::move(inventory)), stored_(map.storedFor(port)),
      fromEnvironment_(PortMap::fromEnvironment(port)) {
    setObjectName(QStringLiteral("DeviceDialog"));
    setWindowTitle(QStringLiteral("Choose Device for Com %1").arg(port));

    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("noteLabel"));
    note_->setWordWrap(true);

    portList_ = new QTreeWidget(this);
    portList_->setObjectName(QStringLiteral("portList"));
    portList_->setRootIsDecorated(false);
    portList_->setAllColumnsShowFocus(true);
    portList_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"),
                                QStringLiteral("Manufacturer"), QStringLiteral("Serial number"),
                                QStringLiteral("VID:PID"), QStringLiteral("Stable link")});
    portList_->setAccessibleName(QStringLiteral("Serial ports present now"));

    refreshButton_ = new QPushButton(QStringLiteral("&Refresh"), this);
    refreshButton_->setObjectName(QStringLiteral("refreshButton"));

    auto *fieldLabel = new QLabel(QStringLiteral("&Device to open for Com %1:").arg(port), this);
    deviceEdit_ = new QLineEdit(this);
    deviceEdit_->setObjectName(QStringLiteral("deviceEdit"));
    deviceEdit_->setPlaceholderText(QStringLiteral("Default: %1").arg(PortMap::defaultFor(port)));
    fieldLabel->setBuddy(deviceEdit_);

    buttons_ = new QDialogButtonBox(this);
    buttons_->setObjectName(QStringLiteral("buttons"));

    auto *listRow = new QHBoxLayout;
    listRow->addWidget(new QLabel(QStringLiteral("Serial ports present now:"), this), 1);
    listRow->addWidget(refreshButton_);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(note_);
    layout->addLayout(listRow);
    layout->addWidget(portList_, 1);
    layout->addWidget(fieldLabel);
    layout->addWidget(deviceEdit_);
    layout->addWidget(buttons_);
    resize(760, 360);

    if (environmentDecides()) {
        note_->setText(QStringLiteral("STOWLINE_COM%1 is set, so the environment decides which "
                                      "device Com %1 opens: %2. Nothing chosen here is stored.")
                           .arg(port)
                           .arg(fromEnvironment_));
        deviceEdit_->setText(fromEnvironment_);
        deviceEdit_->setReadOnly(true);
        buttons_->setStandardButtons(QDialogButtonBox::Close);
    } else {
        note_->setText(QStringLiteral("Pick the port the controller is on, or type the path of "
                                      "its device. Leave the field empty to use the default."));
        deviceEdit_->setText(stored_);
        buttons_->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    }
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(refreshButton_, &QPushButton::clicked, this, &DeviceDialog::refresh);
    connect(portList_, &QTreeWidget::itemSelectionChanged, this, &DeviceDialog::portChosen);
    connect(deviceEdit_, &QLineEdit::textEdited, this, &DeviceDialog::selectMatching);
    refresh();
}

QString DeviceDialog::device() const {
    return deviceEdit_->text().trimmed();
}

void DeviceDialog::refresh() {
    const QList<SerialPortEntry> ports = inventory_ ? inventory_() : QList<SerialPortEntry>();
    const QSignalBlocker quiet(portList_);
    portList_->clear();
    for (const SerialPortEntry &port : ports) {
        auto *row =
            new QTreeWidgetItem(portList_, {port.device, port.description, port.manufacturer,
                                            port.serialNumber, port.vidPid(), port.byIdPath});
        row->setData(DeviceColumn, Qt::UserRole, port.stableDevice());
    }
    // A stored device the list lacks stays in view, marked when nothing is there now (the
    // adapter unplugged).
    if (!stored_.isEmpty() && !findEntry(stored_, ports)) {
        const bool gone = absent(stored_);
        auto *row = new QTreeWidgetItem(
            portList_, {stored_, gone ? QStringLiteral("(%1)").arg(kAbsent) : QString()});
        row->setData(DeviceColumn, Qt::UserRole, stored_);
        row->setToolTip(DeviceColumn, QStringLiteral("Stored for Com %1").arg(port_));
        QFont italic = row->font(DeviceColumn);
        italic.setItalic(true);
        for (int c = 0; gone && c < portList_->columnCount(); ++c) {
            row->setFont(c, italic);
            row->setForeground(c, portList_->palette().brush(QPalette::Disabled, QPalette::Text));
        }
    }
    // A long by-id path must not push the other columns out of sight.
    for (int c = 0; c < portList_->columnCount(); ++c) {
        portList_->resizeColumnToContents(c);
        portList_->setColumnWidth(c, qMin(portList_->columnWidth(c), 260));
    }
    selectMatching(environmentDecides() ? fromEnvironment_ : device());
}

void DeviceDialog::selectMatching(const QString &path) {
    const QSignalBlocker quiet(portList_);
    portList_->clearSelection();
    const QString wanted = path.trimmed().isEmpty() ? PortMap::defaultFor(port_) : path.trimmed();
    const QString target = resolved(wanted);
    for (int i = 0; i < portList_->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = portList_->topLevelItem(i);
        const QString device = row->text(DeviceColumn);
        if (wanted.compare(device, Qt::CaseInsensitive) == 0 || wanted == row->text(LinkColumn) ||
            target == resolved(device)) {
            portList_->setCurrentItem(row);
            row->setSelected(true);
            portList_->scrollToItem(row);
            return;
        }
    }
}

void DeviceDialog::portChosen() {
    const QList<QTreeWidgetItem *> rows = portList_->selectedItems();
    if (rows.isEmpty() || environmentDecides())
        return;
    deviceEdit_->setText(rows.first()->data(DeviceColumn, Qt::UserRole).toString());
}
