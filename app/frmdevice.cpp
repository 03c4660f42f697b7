#include "frmdevice.h"

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

frmDevice::frmDevice(int port, const PortMap &map, PortInventory inventory, QWidget *owner)
    : QDialog(owner), port_(port), inventory_(std::move(inventory)), stored_(map.storedFor(port)),
      fromEnvironment_(PortMap::fromEnvironment(port)) {
    setObjectName(QStringLiteral("frmDevice"));
    setWindowTitle(QStringLiteral("Choose Device for Com %1").arg(port));

    lblNote = new QLabel(this);
    lblNote->setObjectName(QStringLiteral("lblNote"));
    lblNote->setWordWrap(true);

    lstPorts = new QTreeWidget(this);
    lstPorts->setObjectName(QStringLiteral("lstPorts"));
    lstPorts->setRootIsDecorated(false);
    lstPorts->setAllColumnsShowFocus(true);
    lstPorts->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description"),
                               QStringLiteral("Manufacturer"), QStringLiteral("Serial number"),
                               QStringLiteral("VID:PID"), QStringLiteral("Stable link")});
    lstPorts->setAccessibleName(QStringLiteral("Serial ports present now"));

    cmdRefresh = new QPushButton(QStringLiteral("&Refresh"), this);
    cmdRefresh->setObjectName(QStringLiteral("cmdRefresh"));

    auto *fieldLabel = new QLabel(QStringLiteral("&Device to open for Com %1:").arg(port), this);
    txtDevice = new QLineEdit(this);
    txtDevice->setObjectName(QStringLiteral("txtDevice"));
    txtDevice->setPlaceholderText(QStringLiteral("Default: %1").arg(PortMap::defaultFor(port)));
    fieldLabel->setBuddy(txtDevice);

    buttons = new QDialogButtonBox(this);
    buttons->setObjectName(QStringLiteral("buttons"));

    auto *listRow = new QHBoxLayout;
    listRow->addWidget(new QLabel(QStringLiteral("Serial ports present now:"), this), 1);
    listRow->addWidget(cmdRefresh);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lblNote);
    layout->addLayout(listRow);
    layout->addWidget(lstPorts, 1);
    layout->addWidget(fieldLabel);
    layout->addWidget(txtDevice);
    layout->addWidget(buttons);
    resize(760, 360);

    if (environmentDecides()) {
        lblNote->setText(QStringLiteral("STOWLINE_COM%1 is set, so the environment decides which "
                                        "device Com %1 opens: %2. Nothing chosen here is stored.")
                             .arg(port)
                             .arg(fromEnvironment_));
        txtDevice->setText(fromEnvironment_);
        txtDevice->setReadOnly(true);
        buttons->setStandardButtons(QDialogButtonBox::Close);
    } else {
        lblNote->setText(QStringLiteral("Pick the port the controller is on, or type the path of "
                                        "its device. Leave the field empty to use the default."));
        txtDevice->setText(stored_);
        buttons->setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(cmdRefresh, &QPushButton::clicked, this, &frmDevice::cmdRefresh_Click);
    connect(lstPorts, &QTreeWidget::itemSelectionChanged, this, &frmDevice::lstPorts_Changed);
    connect(txtDevice, &QLineEdit::textEdited, this, &frmDevice::selectMatching);
    cmdRefresh_Click();
}

QString frmDevice::device() const {
    return txtDevice->text().trimmed();
}

void frmDevice::cmdRefresh_Click() {
    const QList<SerialPortEntry> ports = inventory_ ? inventory_() : QList<SerialPortEntry>();
    const QSignalBlocker quiet(lstPorts);
    lstPorts->clear();
    for (const SerialPortEntry &port : ports) {
        auto *row =
            new QTreeWidgetItem(lstPorts, {port.device, port.description, port.manufacturer,
                                           port.serialNumber, port.vidPid(), port.byIdPath});
        row->setData(colDevice, Qt::UserRole, port.stableDevice());
    }
    // A stored device the list lacks stays in view, marked when nothing is there now (the
    // adapter unplugged).
    if (!stored_.isEmpty() && !findEntry(stored_, ports)) {
        const bool gone = absent(stored_);
        auto *row = new QTreeWidgetItem(
            lstPorts, {stored_, gone ? QStringLiteral("(%1)").arg(kAbsent) : QString()});
        row->setData(colDevice, Qt::UserRole, stored_);
        row->setToolTip(colDevice, QStringLiteral("Stored for Com %1").arg(port_));
        QFont italic = row->font(colDevice);
        italic.setItalic(true);
        for (int c = 0; gone && c < lstPorts->columnCount(); ++c) {
            row->setFont(c, italic);
            row->setForeground(c, lstPorts->palette().brush(QPalette::Disabled, QPalette::Text));
        }
    }
    // A long by-id path must not push the other columns out of sight.
    for (int c = 0; c < lstPorts->columnCount(); ++c) {
        lstPorts->resizeColumnToContents(c);
        lstPorts->setColumnWidth(c, qMin(lstPorts->columnWidth(c), 260));
    }
    selectMatching(environmentDecides() ? fromEnvironment_ : device());
}

void frmDevice::selectMatching(const QString &path) {
    const QSignalBlocker quiet(lstPorts);
    lstPorts->clearSelection();
    const QString wanted = path.trimmed().isEmpty() ? PortMap::defaultFor(port_) : path.trimmed();
    const QString target = resolved(wanted);
    for (int i = 0; i < lstPorts->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = lstPorts->topLevelItem(i);
        const QString device = row->text(colDevice);
        if (wanted.compare(device, Qt::CaseInsensitive) == 0 || wanted == row->text(colLink) ||
            target == resolved(device)) {
            lstPorts->setCurrentItem(row);
            row->setSelected(true);
            lstPorts->scrollToItem(row);
            return;
        }
    }
}

void frmDevice::lstPorts_Changed() {
    const QList<QTreeWidgetItem *> rows = lstPorts->selectedItems();
    if (rows.isEmpty() || environmentDecides())
        return;
    txtDevice->setText(rows.first()->data(colDevice, Qt::UserRole).toString());
}
