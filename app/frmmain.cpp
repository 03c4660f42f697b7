#include "frmmain.h"

#include "artwork.h"
#include "frmabout.h"
#include "frmdevice.h"
#include "placement.h"
#include "settings.h"
#include "snapshotfile.h"
#include "transfers.h"
#include "transfertexts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <limits>
#include <memory>
#include <utility>

namespace {

const QString kWaiting = QStringLiteral("Waiting for Command");

// Client area of the window below the menu bar, and the bars docked in it.
constexpr int kClientWidth = twips(5850);
constexpr int kClientHeight = twips(3195);
constexpr int kToolBarHeight = twips(420);
constexpr int kStatusBarHeight = twips(270);

QRect twipRect(int left, int top, int width, int height, int yOffset = 0) {
    return QRect(twips(left), twips(top) - yOffset, twips(width), twips(height));
}

void setText(QLabel *label, const QString &text) {
    label->setText(text);
    label->setAccessibleName(text);
}

// The one local file a drag carries, or an empty string.
QString droppedFile(const QMimeData *data) {
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    return urls.size() == 1 && urls.first().isLocalFile() ? urls.first().toLocalFile() : QString();
}

int clampToInt(qint64 value) {
    return int(qBound(qint64(std::numeric_limits<int>::min()), value,
                      qint64(std::numeric_limits<int>::max())));
}

} // namespace

frmMain::frmMain(Dialogs *dialogs, QWidget *parent)
    : QMainWindow(parent), dialogs_(dialogs), files_(image, *this) {
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<QtDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tessaline - Stowline"));
    // A fixed frame: minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(Artwork::windowIcon());
    setAcceptDrops(true);
    buildMenus();
    buildTransferExtras();
    buildToolBar();
    buildClientArea();
}

frmMain::~frmMain() = default;

void frmMain::buildMenus() {
    auto item = [this](QMenu *menu, const char *name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    auto menu = [this](const char *name, const QString &caption) {
        QMenu *m = menuBar()->addMenu(caption);
        m->setObjectName(QLatin1String(name));
        return m;
    };

    mnuFile = menu("mnuFile", QStringLiteral("&File"));
    mnuOpen = item(mnuFile, "mnuOpen", QStringLiteral("&Open"));
    mnuSave = item(mnuFile, "mnuSave", QStringLiteral("&Save"));
    mnuFileExit = item(mnuFile, "mnuFileExit", QStringLiteral("E&xit"));

    mnuActions = menu("mnuActions", QStringLiteral("&Actions"));
    mnuBackup = item(mnuActions, "mnuBackup", QStringLiteral("&Backup"));
    mnuRestore = item(mnuActions, "mnuRestore", QStringLiteral("&Restore"));

    mnuSettings = menu("mnuSettings", QStringLiteral("&Settings"));
    mnuComPorts = mnuSettings->addMenu(QStringLiteral("&Port"));
    mnuComPorts->setObjectName(QStringLiteral("mnuComPorts"));
    mnuComPorts->setToolTipsVisible(true);
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "mniCom" + QByteArray::number(i + 1);
        mniCom[i] = item(mnuComPorts, name.constData(), QStringLiteral("Com &%1").arg(i + 1));
        mniCom[i]->setCheckable(true);
        connect(mniCom[i], &QAction::triggered, this, [this, i] { mniCom_Click(i + 1); });
    }
    mnuComPorts->addSeparator();
    mnuChooseDevice = item(mnuComPorts, "mnuChooseDevice", QStringLiteral("Choose &Device\u2026"));
    connect(mnuChooseDevice, &QAction::triggered, this, &frmMain::mnuChooseDevice_Click);

    mnuHelp = menu("mnuHelp", QStringLiteral("&Help"));
    mnuHelpAbout = item(mnuHelp, "mnuHelpAbout", QStringLiteral("&About "));

    connect(mnuOpen, &QAction::triggered, this, &frmMain::mnuOpen_Click);
    connect(mnuSave, &QAction::triggered, this, &frmMain::mnuSave_Click);
    connect(mnuFileExit, &QAction::triggered, this, &frmMain::mnuFileExit_Click);
    connect(mnuBackup, &QAction::triggered, this, &frmMain::mnuBackup_Click);
    connect(mnuRestore, &QAction::triggered, this, &frmMain::mnuRestore_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
}

void frmMain::buildToolBar() {
    tbToolBar = new QToolBar(this);
    tbToolBar->setObjectName(QStringLiteral("tbToolBar"));
    tbToolBar->setAccessibleName(QStringLiteral("Toolbar"));
    tbToolBar->setMovable(false);
    tbToolBar->setFloatable(false);
    tbToolBar->toggleViewAction()->setVisible(false);
    tbToolBar->setIconSize(QSize(16, 16));
    tbToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    tbToolBar->setFixedHeight(kToolBarHeight);
    tbToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, tbToolBar);
    connect(tbToolBar, &QToolBar::actionTriggered, this, &frmMain::tbToolBar_ButtonClick);
}

void frmMain::buildClientArea() {
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(central);
    // Design places are relative to the client area, whose top the toolbar occupies.
    const int y0 = kToolBarHeight;

    Progress = new QLabel(central);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setGeometry(twipRect(360, 720, 855, 255, y0));
    setText(Progress, QStringLiteral("Progress"));

    ProgressBar = new QProgressBar(central);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(twipRect(360, 960, 5055, 255, y0));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setAccessibleName(QStringLiteral("Progress"));
    Progress->setBuddy(ProgressBar);

    File = new QGroupBox(QStringLiteral("File"), central);
    File->setObjectName(QStringLiteral("File"));
    File->setGeometry(twipRect(360, 1320, 5055, 615, y0));
    File->setAccessibleName(QStringLiteral("File"));
    FileStatus = new FileLabel(File);
    FileStatus->setObjectName(QStringLiteral("FileStatus"));
    FileStatus->setGeometry(twipRect(120, 240, 4815, 255));

    CntrlConfig = new QGroupBox(QStringLiteral("Controller Configuration Buffer"), central);
    CntrlConfig->setObjectName(QStringLiteral("CntrlConfig"));
    CntrlConfig->setGeometry(twipRect(360, 2040, 5055, 615, y0));
    CntrlConfig->setAccessibleName(QStringLiteral("Controller Configuration Buffer"));
    ConfigStatus = new QLabel(CntrlConfig);
    ConfigStatus->setObjectName(QStringLiteral("ConfigStatus"));
    ConfigStatus->setGeometry(twipRect(120, 240, 4815, 255));

    sbStatusBar = new QLabel(this);
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(kStatusBarHeight);
    statusBar()->addWidget(sbStatusBar, 1);

    menuBar()->adjustSize();
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void frmMain::Form_Load() {
    std::unique_ptr<QSettings> store(openSettingsStore());
    const StoredSettings stored = readStoredSettings(*store);
    portMap_.load(*store);

    // A window that cannot be grabbed by its title bar (a monitor since removed, a corner just
    // showing) goes to the default place. The frame is fixed in size: what is stored for it
    // does not count.
    QRect placement(QPoint(qRound(stored.MainLeft / 15), qRound(stored.MainTop / 15)), size());
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->availableGeometry();
    if (!titleBarReachable(placement, style()->pixelMetric(QStyle::PM_TitleBarHeight), screens)) {
        const StoredSettings defaults;
        placement.moveTopLeft(
            QPoint(qRound(defaults.MainLeft / 15), qRound(defaults.MainTop / 15)));
    }
    move(placement.topLeft());

    lastFolder_ = stored.LastFolder;
    for (int i = 0; i < 4; ++i)
        mniCom[i]->setChecked(stored.Com[i]);
    refreshPortToolTips();

    MSComm1 = std::make_unique<QtCommControl>(portMap_);

    struct ButtonDef {
        const char *key;
        const char *tip;
        QAction **ref;
    };
    const ButtonDef buttons[] = {
        {"Open", "Open Controller Configuration from file", &OpenButton},
        {"Save", "Save Controller Configuration to file", &SaveButton},
        {"Seperator", nullptr, &SeperatorButton},
        {"Backup", "Backup Configuration from the Controller", &BackupButton},
        {"Restore", "Restore Configuration to the Controller", &RestoreButton},
        {"Stop", "Stop the transfer with the Controller", &StopButton},
    };
    for (const ButtonDef &def : buttons) {
        const QString key = QLatin1String(def.key);
        QAction *button = def.tip ? tbToolBar->addAction(Artwork::toolbarIcon(key), key)
                                  : tbToolBar->addSeparator();
        button->setData(key);
        button->setObjectName(key + QStringLiteral("Button"));
        if (def.tip)
            button->setToolTip(QLatin1String(def.tip));
        *def.ref = button;
    }

    StopButton->setEnabled(false);
    mnuVerifyAfterRestore->setChecked(stored.VerifyAfterRestore);
    mnuBackupBeforeRestore->setChecked(stored.BackupBeforeRestore);

    image.ConfigLength = 0;
    SetIdleState();
    setStatus(kWaiting);
    setConfigStatus(QStringLiteral("Empty"));
    setFileStatus(QStringLiteral("None"));
}

void frmMain::Form_Unload() {
    const auto windows = QApplication::topLevelWidgets();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (*it != this && (*it)->isVisible())
            (*it)->close();

    std::unique_ptr<QSettings> store(openSettingsStore());
    StoredSettings values;
    const QRect frame = frameGeometry();
    values.MainLeft = float(frame.x() * 15);
    values.MainTop = float(frame.y() * 15);
    values.MainWidth = float(frame.width() * 15);
    values.MainHeight = float(frame.height() * 15);
    for (int i = 0; i < 4; ++i)
        values.Com[i] = mniCom[i]->isChecked();
    values.VerifyAfterRestore = mnuVerifyAfterRestore->isChecked();
    values.BackupBeforeRestore = mnuBackupBeforeRestore->isChecked();
    values.LastFolder = lastFolder_;
    writeStoredSettings(*store, values, !isMinimized());
}

bool frmMain::event(QEvent *event) {
    // The status line shows the command's text; hovering a menu item must not blank it.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void frmMain::closeEvent(QCloseEvent *event) {
    if (transferRunning_) {
        event->ignore();
        askDuringTransfer(QStringLiteral("A transfer with the Controller is running.\n"
                                         "Stop the transfer and quit?"),
                          [this] { closeAfterTransfer_ = true; });
        return;
    }
    if (!mayReplaceImage()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::dragEnterEvent(QDragEnterEvent *event) {
    // Busy means an image command is under way; a Restore disables only the toolbar.
    if (!transferRunning_ && mnuOpen->isEnabled() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent *event) {
    const QString path = droppedFile(event->mimeData());
    if (transferRunning_ || !mnuOpen->isEnabled() || path.isEmpty())
        return;
    event->acceptProposedAction();
    openFile(path);
}

void frmMain::runTransfer(void (Transfers::*command)()) {
    // About would hold a transfer inside its wait until closed; it comes back at every end.
    transferRunning_ = true;
    stopRequested_ = false;
    mnuHelpAbout->setEnabled(false);
    mnuChooseDevice->setEnabled(false); // modal too
    showTransferText(true);
    const bool backup = command == &Transfers::mnuBackup_Click;
    TransferOutcome outcome;
    QString snapshotPath;
    if (backup) {
        Transfers transfers(*MSComm1, clock_, *this, image);
        transfers.setPortInventory(inventory_);
        transfers.mnuBackup_Click();
        outcome = transfers.lastOutcome();
    } else {
        RestoreChecks checks{mnuVerifyAfterRestore->isChecked(),
                             mnuBackupBeforeRestore->isChecked(), Snapshot::folder(),
                             QDateTime::currentDateTime()};
        GuardedRestore restore(*MSComm1, clock_, *this, image, std::move(checks));
        restore_ = &restore;
        restore.run();
        restore_ = nullptr;
        outcome = restore.lastOutcome();
        snapshotPath = restore.snapshotPath();
    }
    if (MSComm1->portOpen())
        MSComm1->setPortOpen(false);
    transferRunning_ = false;
    // A question about a transfer that has ended has nothing left to decide.
    dialogs_->withdrawQuestions();
    asking_ = false;
    showTransferText(false);
    if (outcome == TransferOutcome::Stopped)
        endStoppedTransfer(backup, snapshotPath);
    mnuHelpAbout->setEnabled(true);
    mnuChooseDevice->setEnabled(true);
    // Closing can still be called off (an unsaved image): the next transfer starts afresh.
    if (std::exchange(closeAfterTransfer_, false))
        QTimer::singleShot(0, this, &QWidget::close);
}

void frmMain::mnuOpen_Click() {
    if (mayReplaceImage())
        files_.mnuOpen_Click();
}
void frmMain::openFile(const QString &path) {
    if (!transferRunning_ && mayReplaceImage())
        files_.openFile(path);
}
void frmMain::mnuSave_Click() {
    files_.mnuSave_Click();
}
void frmMain::mnuBackup_Click() {
    if (mayReplaceImage())
        runTransfer(&Transfers::mnuBackup_Click);
}
void frmMain::mnuRestore_Click() {
    runTransfer(&Transfers::mnuRestore_Click);
}
void frmMain::mnuFileExit_Click() {
    close();
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout about(this);
    about.exec();
}

void frmMain::mniCom_Click(int n) {
    for (int i = 0; i < 4; ++i)
        mniCom[i]->setChecked(i + 1 == n);
}

void frmMain::mnuChooseDevice_Click() {
    const int n = GetSelectedPort();
    if (n < 1) {
        dialogs_->warning(this, QStringLiteral("Stowline"),
                          QStringLiteral("Check one of Com 1 to Com 4 first."));
        return;
    }
    frmDevice dialog(n, portMap_, inventory_, this);
    if (!dialogs_->chooseDevice(dialog) || dialog.environmentDecides())
        return;
    std::unique_ptr<QSettings> store(openSettingsStore());
    if (!settingsStoreWritable(*store)) {
        dialogs_->warning(
            this, QStringLiteral("Stowline"),
            QStringLiteral("The settings cannot be written: %1 is locked.").arg(store->fileName()));
        return;
    }
    portMap_.store(*store, n, dialog.device());
    MSComm1->setPortMap(portMap_);
    refreshPortToolTips();
}

void frmMain::refreshPortToolTips() {
    const QList<SerialPortEntry> present = inventory_ ? inventory_() : QList<SerialPortEntry>();
    for (int i = 0; i < 4; ++i)
        mniCom[i]->setToolTip(describeDevice(portMap_.deviceFor(i + 1), present));
}

void frmMain::tbToolBar_ButtonClick(QAction *button) {
    const QString key = button->data().toString();
    if (key == QLatin1String("Open"))
        mnuOpen_Click();
    else if (key == QLatin1String("Save"))
        mnuSave_Click();
    else if (key == QLatin1String("Backup"))
        mnuBackup_Click();
    else if (key == QLatin1String("Restore"))
        mnuRestore_Click();
    else if (key == QLatin1String("Stop"))
        mnuStop_Click();
}

void frmMain::setStatus(const QString &text) {
    setText(sbStatusBar, text);
}

void frmMain::applyProgress() {
    // A one-byte image gives an empty range, which Qt would show as a busy indicator.
    const qint64 max = qMax(progressMax_, progressMin_ + 1);
    ProgressBar->setRange(clampToInt(progressMin_), clampToInt(max));
    ProgressBar->setValue(clampToInt(qBound(progressMin_, progressValue_, max)));
    if (transferRunning_)
        restartEstimate();
}

void frmMain::setProgressMin(qint64 value) {
    progressMin_ = value;
    applyProgress();
}

void frmMain::setProgressMax(qint64 value) {
    progressMax_ = value;
    applyProgress();
}

void frmMain::setProgressValue(qint64 value) {
    // Called for every byte of a transfer: the range stays as it is, and the bar repaints only
    // when its value changes.
    progressValue_ = value;
    const int shown = clampToInt(qBound(progressMin_, value, qMax(progressMax_, progressMin_ + 1)));
    if (shown != ProgressBar->value())
        ProgressBar->setValue(shown);
    if (transferRunning_)
        showEstimate(value);
}

void frmMain::setConfigStatus(const QString &text) {
    setText(ConfigStatus, text);
}
void frmMain::setFileStatus(const QString &text) {
    setText(FileStatus, text);
    FileStatus->setPath(QString());
}

void frmMain::setFilePath(const QString &path) {
    setFileStatus(ConfigFile::pathTail(path));
    FileStatus->setPath(path);
}

void frmMain::SetIdleState() {
    setStatus(kWaiting);
    OpenButton->setEnabled(true);
    BackupButton->setEnabled(true);
    mnuOpen->setEnabled(true);
    mnuOpenSnapshot->setEnabled(true);
    mnuBackup->setEnabled(true);
    const bool held = image.ConfigLength >= 1;
    for (QAction *action : {SaveButton, RestoreButton, mnuSave, mnuRestore})
        action->setEnabled(held);
}

void frmMain::SetBusyState() {
    for (QAction *action : {OpenButton, BackupButton, SaveButton, RestoreButton})
        action->setEnabled(false);
    for (QAction *action : {mnuOpen, mnuOpenSnapshot, mnuBackup, mnuSave, mnuRestore})
        action->setEnabled(false);
}

QString frmMain::askSaveFileName(const QString &title, const QString &filter) {
    const QString path =
        dialogs_->saveFileName(this, title, toQtNameFilters(filter), startFolder());
    rememberFolder(path);
    return path;
}

QString frmMain::askOpenFileName(const QString &title, const QString &filter, QString *fileTitle) {
    const QString path =
        dialogs_->openFileName(this, title, toQtNameFilters(filter), startFolder());
    rememberFolder(path);
    if (fileTitle)
        *fileTitle = QFileInfo(path).fileName();
    return path;
}

// Both file dialogs open where the last file was chosen, in this run or an earlier one.
QString frmMain::startFolder() const {
    return !lastFolder_.isEmpty() && QDir(lastFolder_).exists() ? lastFolder_ : QString();
}

void frmMain::rememberFolder(const QString &path) {
    if (!path.isEmpty())
        lastFolder_ = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
}

// An image read from a controller is the only copy there is until it is saved or restored:
// before anything replaces it, offer to save it. False: the command is called off.
bool frmMain::mayReplaceImage() {
    if (!image.unsavedBackup || image.ConfigLength < 1)
        return true;
    switch (dialogs_->yesNoCancel(this, QStringLiteral("Stowline"),
                                  QStringLiteral("The configuration read from the controller has "
                                                 "not been saved. Save it now?"))) {
    case Dialogs::Answer::Yes:
        return files_.mnuSave_Click();
    case Dialogs::Answer::No:
        return true;
    case Dialogs::Answer::Cancel:
        break;
    }
    return false;
}

void frmMain::refresh() {
    repaint();
}

qint16 frmMain::GetSelectedPort() {
    qint16 port = 0;
    for (int i = 0; i < 4; ++i)
        if (mniCom[i]->isChecked())
            port = qint16(i + 1);
    return port;
}

void frmMain::showWarning(const QString &title, const QString &text) {
    dialogs_->warning(this, title, text);
}

void frmMain::buildTransferExtras() {
    mnuOpenSnapshot = new QAction(QStringLiteral("Open &Snapshot…"), this);
    mnuOpenSnapshot->setObjectName(QStringLiteral("mnuOpenSnapshot"));
    mnuFile->insertAction(mnuSave, mnuOpenSnapshot);
    connect(mnuOpenSnapshot, &QAction::triggered, this, &frmMain::mnuOpenSnapshot_Click);

    mnuStop = mnuActions->addAction(QStringLiteral("&Stop"));
    mnuStop->setObjectName(QStringLiteral("mnuStop"));
    mnuStop->setShortcut(QKeySequence(Qt::Key_Escape));
    mnuStop->setEnabled(false);
    connect(mnuStop, &QAction::triggered, this, &frmMain::mnuStop_Click);

    mnuSettings->addSeparator();
    mnuVerifyAfterRestore = mnuSettings->addAction(QStringLiteral("&Verify after Restore"));
    mnuVerifyAfterRestore->setObjectName(QStringLiteral("mnuVerifyAfterRestore"));
    mnuBackupBeforeRestore = mnuSettings->addAction(QStringLiteral("Back up before &Restore"));
    mnuBackupBeforeRestore->setObjectName(QStringLiteral("mnuBackupBeforeRestore"));
    for (QAction *check : {mnuVerifyAfterRestore, mnuBackupBeforeRestore})
        check->setCheckable(true);
}

void frmMain::mnuStop_Click() {
    if (!transferRunning_ || stopRequested_)
        return;
    // Only the download leaves the controller half-written; a snapshot or a read-back stops
    // at once.
    if (restore_ && restore_->phase() == GuardedRestore::Phase::Writing) {
        askDuringTransfer(texts::kStopRestoreQuestion, [] {});
        return;
    }
    stopRequested_ = true;
}

// The transfer goes on while the question is shown: its wait keeps serving the line. Yes
// stops it; No, or the transfer ending first, leaves everything as if nothing was asked.
void frmMain::askDuringTransfer(const QString &text, std::function<void()> onYes) {
    if (asking_ || stopRequested_)
        return;
    asking_ = true;
    dialogs_->questionLater(this, QStringLiteral("Stowline"), text,
                            [this, onYes = std::move(onYes)](bool yes) {
                                asking_ = false;
                                if (!yes || !transferRunning_)
                                    return;
                                stopRequested_ = true;
                                onYes();
                            });
}

void frmMain::endStoppedTransfer(bool backup, const QString &snapshotPath) {
    setProgressValue(0);
    // A Backup cut short holds nothing any more.
    if (backup && image.ConfigLength < 1)
        setConfigStatus(texts::kEmpty);
    SetIdleState();
    if (!snapshotPath.isEmpty())
        setStatus(texts::snapshotNote(QFileInfo(snapshotPath).fileName()));
}

void frmMain::showTransferText(bool running) {
    for (QAction *stop : {StopButton, mnuStop})
        stop->setEnabled(running);
    ProgressBar->setFormat(QString());
    ProgressBar->setTextVisible(running);
    if (running)
        restartEstimate();
}

void frmMain::restartEstimate() {
    estimate_.reset(clock_.nowNs(), progressMin_, progressMax_);
    estimateShownPercent_ = -1;
    showEstimate(progressValue_);
}

void frmMain::showEstimate(qint64 value) {
    // Called for every byte: the text changes with the percentage, or twice a second.
    const qint64 now = clock_.nowNs();
    const int percent = estimate_.percent(value);
    if (percent == estimateShownPercent_ && now - estimateShownNs_ < 500'000'000)
        return;
    estimateShownPercent_ = percent;
    estimateShownNs_ = now;
    ProgressBar->setFormat(estimate_.text(now, value));
}

void frmMain::mnuOpenSnapshot_Click() {
    if (!mayReplaceImage())
        return;
    const QString folder = Snapshot::folder();
    QDir().mkpath(folder);
    const QString path = dialogs_->openFileName(
        this, QStringLiteral("Open Snapshot"),
        QStringLiteral("Controller Configuration Files (*.CCF *.SAV);;All files (*)"), folder);
    if (!path.isEmpty())
        files_.openFile(path);
}
