#include "window/mainwindow.h"

#include "config/configfile.h"
#include "config/settings.h"
#include "config/snapshotfile.h"
#include "link/transfertexts.h"
#include "window/aboutdialog.h"
#include "window/artwork.h"
#include "window/devicedialog.h"
#include "window/dialogs.h"
#include "window/filelabel.h"
#include "window/historydialog.h"
#include "window/placement.h"

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

MainWindow::MainWindow(Dialogs *dialogs, QWidget *parent)
    : QMainWindow(parent), dialogs_(dialogs), files_(image_, *this),
      transfer_(new TransferThread(this)) {
    if (!dialogs_) {
        ownDialogs_ = std::make_unique<QtDialogs>();
        dialogs_ = ownDialogs_.get();
    }
    clock_.start();
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Tessaline - Stowline"));
    // A fixed frame: minimise and close, no maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowIcon(Artwork::windowIcon());
    setAcceptDrops(true);
    buildMenus();
    buildToolBar();
    buildClientArea();

    connect(transfer_, &TransferThread::status, this, &MainWindow::setStatus);
    connect(transfer_, &TransferThread::progressRange, this, &MainWindow::setProgressRange);
    connect(transfer_, &TransferThread::progress, this, &MainWindow::setProgressValue);
    connect(transfer_, &TransferThread::imageHeld, this, [this](qint64 length) {
        setConfigStatus(length > 0 ? byteCountText(length) : texts::kEmpty);
    });
    connect(transfer_, &TransferThread::writing, this, [this](bool on) { writing_ = on; });
    connect(transfer_, &TransferThread::finished, this, &MainWindow::transferFinished);
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
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

    fileMenu_ = menu("fileMenu", QStringLiteral("&File"));
    openAction_ = item(fileMenu_, "openAction", QStringLiteral("&Open"));
    openSnapshotAction_ = item(fileMenu_, "openSnapshotAction", QStringLiteral("Open &Snapshot…"));
    saveAction_ = item(fileMenu_, "saveAction", QStringLiteral("&Save"));
    historyAction_ = item(fileMenu_, "historyAction", QStringLiteral("&History\u2026"));
    exitAction_ = item(fileMenu_, "exitAction", QStringLiteral("E&xit"));

    actionsMenu_ = menu("actionsMenu", QStringLiteral("&Actions"));
    backupAction_ = item(actionsMenu_, "backupAction", QStringLiteral("&Backup"));
    restoreAction_ = item(actionsMenu_, "restoreAction", QStringLiteral("&Restore"));
    stopAction_ = item(actionsMenu_, "stopAction", QStringLiteral("&Stop"));
    stopAction_->setShortcut(QKeySequence(Qt::Key_Escape));
    stopAction_->setEnabled(false);

    settingsMenu_ = menu("settingsMenu", QStringLiteral("&Settings"));
    portMenu_ = settingsMenu_->addMenu(QStringLiteral("&Port"));
    portMenu_->setObjectName(QStringLiteral("portMenu"));
    portMenu_->setToolTipsVisible(true);
    for (int i = 0; i < 4; ++i) {
        const QByteArray name = "port" + QByteArray::number(i + 1) + "Action";
        portActions_[i] = item(portMenu_, name.constData(), QStringLiteral("Com &%1").arg(i + 1));
        portActions_[i]->setCheckable(true);
        connect(portActions_[i], &QAction::triggered, this, [this, i] { selectPort(i + 1); });
    }
    portMenu_->addSeparator();
    chooseDeviceAction_ =
        item(portMenu_, "chooseDeviceAction", QStringLiteral("Choose &Device\u2026"));
    settingsMenu_->addSeparator();
    verifyAction_ =
        item(settingsMenu_, "verifyAfterRestoreAction", QStringLiteral("&Verify after Restore"));
    backupFirstAction_ =
        item(settingsMenu_, "backupBeforeRestoreAction", QStringLiteral("Back up before &Restore"));
    for (QAction *check : {verifyAction_, backupFirstAction_})
        check->setCheckable(true);

    helpMenu_ = menu("helpMenu", QStringLiteral("&Help"));
    aboutAction_ = item(helpMenu_, "aboutAction", QStringLiteral("&About "));

    connect(openAction_, &QAction::triggered, this, &MainWindow::open);
    connect(openSnapshotAction_, &QAction::triggered, this, &MainWindow::openSnapshot);
    connect(saveAction_, &QAction::triggered, this, &MainWindow::save);
    connect(historyAction_, &QAction::triggered, this, &MainWindow::history);
    connect(exitAction_, &QAction::triggered, this, &QWidget::close);
    connect(backupAction_, &QAction::triggered, this, &MainWindow::backup);
    connect(restoreAction_, &QAction::triggered, this, &MainWindow::restore);
    connect(stopAction_, &QAction::triggered, this, &MainWindow::stop);
    connect(chooseDeviceAction_, &QAction::triggered, this, &MainWindow::chooseDevice);
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::about);
}

void MainWindow::buildToolBar() {
    toolBar_ = new QToolBar(this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setAccessibleName(QStringLiteral("Toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->toggleViewAction()->setVisible(false);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar_->setFixedHeight(kToolBarHeight);
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::TopToolBarArea, toolBar_);

    struct ButtonDef {
        const char *key;
        const char *tip;
        QAction **ref;
        void (MainWindow::*slot)();
    };
    const ButtonDef buttons[] = {
        {"Open", "Open Controller Configuration from file", &openButton_, &MainWindow::open},
        {"Save", "Save Controller Configuration to file", &saveButton_, nullptr},
        {nullptr, nullptr, nullptr, nullptr},
        {"Backup", "Backup Configuration from the Controller", &backupButton_, &MainWindow::backup},
        {"Restore", "Restore Configuration to the Controller", &restoreButton_,
         &MainWindow::restore},
        {"Stop", "Stop the transfer with the Controller", &stopButton_, &MainWindow::stop},
    };
    for (const ButtonDef &def : buttons) {
        if (!def.key) {
            toolBar_->addSeparator();
            continue;
        }
        const QString key = QLatin1String(def.key);
        QAction *button = toolBar_->addAction(Artwork::toolbarIcon(key), key);
        button->setObjectName(key.toLower() + QStringLiteral("Button"));
        button->setToolTip(QLatin1String(def.tip));
        *def.ref = button;
        if (def.slot)
            connect(button, &QAction::triggered, this, def.slot);
    }
    connect(saveButton_, &QAction::triggered, this, &MainWindow::save);
    stopButton_->setEnabled(false);
}

void MainWindow::buildClientArea() {
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(central);
    // Design places are relative to the client area, whose top the toolbar occupies.
    const int y0 = kToolBarHeight;

    auto *progressLabel = new QLabel(central);
    progressLabel->setObjectName(QStringLiteral("progressLabel"));
    progressLabel->setGeometry(twipRect(360, 720, 855, 255, y0));
    setText(progressLabel, QStringLiteral("Progress"));

    progressBar_ = new QProgressBar(central);
    progressBar_->setObjectName(QStringLiteral("progressBar"));
    progressBar_->setGeometry(twipRect(360, 960, 5055, 255, y0));
    progressBar_->setRange(0, 100);
    progressBar_->setValue(0);
    progressBar_->setTextVisible(false);
    progressBar_->setAccessibleName(QStringLiteral("Progress"));
    progressLabel->setBuddy(progressBar_);

    auto *fileBox = new QGroupBox(QStringLiteral("File"), central);
    fileBox->setObjectName(QStringLiteral("fileBox"));
    fileBox->setGeometry(twipRect(360, 1320, 5055, 615, y0));
    fileBox->setAccessibleName(QStringLiteral("File"));
    fileLabel_ = new FileLabel(fileBox);
    fileLabel_->setObjectName(QStringLiteral("fileLabel"));
    fileLabel_->setGeometry(twipRect(120, 240, 4815, 255));

    auto *bufferBox = new QGroupBox(QStringLiteral("Controller Configuration Buffer"), central);
    bufferBox->setObjectName(QStringLiteral("bufferBox"));
    bufferBox->setGeometry(twipRect(360, 2040, 5055, 615, y0));
    bufferBox->setAccessibleName(QStringLiteral("Controller Configuration Buffer"));
    bufferLabel_ = new QLabel(bufferBox);
    bufferLabel_->setObjectName(QStringLiteral("bufferLabel"));
    bufferLabel_->setGeometry(twipRect(120, 240, 4815, 255));

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusBar()->setObjectName(QStringLiteral("statusBar"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(kStatusBarHeight);
    statusBar()->addWidget(statusLine_, 1);

    menuBar()->adjustSize();
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

void MainWindow::load() {
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
        portActions_[i]->setChecked(stored.Com[i]);
    refreshPortToolTips();
    verifyAction_->setChecked(stored.VerifyAfterRestore);
    backupFirstAction_->setChecked(stored.BackupBeforeRestore);

    setIdleState();
    setConfigStatus(texts::kEmpty);
    setFileText(QStringLiteral("None"));
}

void MainWindow::saveSettings() {
    std::unique_ptr<QSettings> store(openSettingsStore());
    StoredSettings values;
    const QRect frame = frameGeometry();
    values.MainLeft = float(frame.x() * 15);
    values.MainTop = float(frame.y() * 15);
    values.MainWidth = float(frame.width() * 15);
    values.MainHeight = float(frame.height() * 15);
    for (int i = 0; i < 4; ++i)
        values.Com[i] = portActions_[i]->isChecked();
    values.VerifyAfterRestore = verifyAction_->isChecked();
    values.BackupBeforeRestore = backupFirstAction_->isChecked();
    values.LastFolder = lastFolder_;
    writeStoredSettings(*store, values, !isMinimized());
}

bool MainWindow::event(QEvent *event) {
    // The status line shows the command's text; hovering a menu item must not blank it.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (transferRunning()) {
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
    const auto windows = QApplication::topLevelWidgets();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        if (*it != this && (*it)->isVisible())
            (*it)->close();
    saveSettings();
    event->accept();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event) {
    if (!transferRunning() && openAction_->isEnabled() && !droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event) {
    const QString path = droppedFile(event->mimeData());
    if (transferRunning() || !openAction_->isEnabled() || path.isEmpty())
        return;
    event->acceptProposedAction();
    // A drop replaces the image as Open does, and asks first as Open does.
    if (mayReplaceImage())
        files_.openFile(path);
}

void MainWindow::startTransfer(JobRequest::Kind kind) {
    JobRequest request;
    request.kind = kind;
    request.port.number = selectedPort();
    request.port.device = portMap_.deviceFor(request.port.number);
    request.inventory = inventory_;
    if (kind == JobRequest::Kind::Restore) {
        // Nothing to send: the command ends before it begins.
        if (image_.isEmpty()) {
            setIdleState();
            return;
        }
        request.image = image_;
        request.verify = verifyAction_->isChecked();
        request.backupFirst = backupFirstAction_->isChecked();
        request.snapshotDir = Snapshot::folder();
        request.now = QDateTime::currentDateTime();
    }
    running_ = kind;
    runningPort_ = request.port;
    stopAsked_ = false;
    writing_ = false;
    // Modal windows wait until the transfer has ended: they come back at every end.
    aboutAction_->setEnabled(false);
    chooseDeviceAction_->setEnabled(false);
    setBusyState();
    showTransferText(true);
    transfer_->start(request);
}

void MainWindow::transferFinished(const JobResult &result) {
    // A question about a transfer that has ended has nothing left to decide.
    dialogs_->withdrawQuestions();
    asking_ = false;
    showTransferText(false);
    applyToHeld(image_, running_, result);
    const QString journalError = writeJournal(result);
    if (running_ == JobRequest::Kind::Backup && result.held != HeldEffect::Kept)
        setConfigStatus(image_.isEmpty() ? texts::kEmpty : byteCountText(image_.length()));
    setProgressValue(0);
    if (result.hasBox()) {
        setStatus(texts::kIdle);
        dialogs_->warning(this, result.boxTitle, result.boxText);
    }
    setIdleState();
    if (running_ == JobRequest::Kind::Restore)
        setStatus(
            texts::restoreEndStatus(result.verified, QFileInfo(result.snapshotPath).fileName()));
    if (!journalError.isEmpty())
        setStatus(Journal::notWrittenText(journalError));
    aboutAction_->setEnabled(true);
    chooseDeviceAction_->setEnabled(true);
    emit transferEnded();
    // Closing can still be called off (an unsaved image): the next transfer starts afresh.
    if (std::exchange(closeAfterTransfer_, false))
        QTimer::singleShot(0, this, &QWidget::close);
}

QString MainWindow::writeJournal(const JobResult &result) {
    const bool restore = running_ == JobRequest::Kind::Restore;
    if (running_ == JobRequest::Kind::Backup && result.held != HeldEffect::Kept)
        imageFile_.clear(); // the image held now came from the controller
    const Journal::Context context{QStringLiteral("window"), runningPort_,
                                   inventory_ ? inventory_() : QList<SerialPortEntry>(),
                                   restore ? imageFile_ : QString()};
    QString error;
    Journal::append(
        Journal::path(),
        Journal::entries(result, restore ? QStringLiteral("restore") : QString(), context), &error);
    return error;
}

void MainWindow::history() {
    HistoryDialog dialog(Journal::path(), this);
    // Opened as Open opens a file: an unsaved Backup is offered for saving first.
    if (dialog.exec() == QDialog::Accepted && !transferRunning() && mayReplaceImage())
        files_.openFile(dialog.chosenFile());
}

void MainWindow::open() {
    if (mayReplaceImage())
        files_.open();
}

void MainWindow::openFile(const QString &path) {
    if (!transferRunning())
        files_.openFile(path);
}

bool MainWindow::save() {
    return files_.save();
}

void MainWindow::backup() {
    if (!transferRunning() && mayReplaceImage())
        startTransfer(JobRequest::Kind::Backup);
}

void MainWindow::restore() {
    if (!transferRunning())
        startTransfer(JobRequest::Kind::Restore);
}

void MainWindow::stop() {
    if (!transferRunning() || stopAsked_)
        return;
    // Only the download leaves the controller half-written; a snapshot or a read-back stops
    // at once.
    if (writing_) {
        askDuringTransfer(texts::kStopRestoreQuestion, [] {});
        return;
    }
    stopAsked_ = true;
    transfer_->stop();
}

// The transfer goes on while the question is shown. Yes stops it; No, or the transfer ending
// first, leaves everything as if nothing was asked.
void MainWindow::askDuringTransfer(const QString &text, std::function<void()> onYes) {
    if (asking_ || stopAsked_)
        return;
    asking_ = true;
    dialogs_->questionLater(this, QStringLiteral("Stowline"), text,
                            [this, onYes = std::move(onYes)](bool yes) {
                                asking_ = false;
                                if (!yes || !transferRunning())
                                    return;
                                stopAsked_ = true;
                                transfer_->stop();
                                onYes();
                            });
}

void MainWindow::about() {
    AboutDialog dialog(this);
    dialog.exec();
}

void MainWindow::selectPort(int n) {
    for (int i = 0; i < 4; ++i)
        portActions_[i]->setChecked(i + 1 == n);
}

qint16 MainWindow::selectedPort() const {
    qint16 port = 0;
    for (int i = 0; i < 4; ++i)
        if (portActions_[i]->isChecked())
            port = qint16(i + 1);
    return port;
}

void MainWindow::chooseDevice() {
    const int n = selectedPort();
    if (n < 1) {
        dialogs_->warning(this, QStringLiteral("Stowline"),
                          QStringLiteral("Check one of Com 1 to Com 4 first."));
        return;
    }
    DeviceDialog dialog(n, portMap_, inventory_, this);
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
    refreshPortToolTips();
}

void MainWindow::refreshPortToolTips() {
    const QList<SerialPortEntry> present = inventory_ ? inventory_() : QList<SerialPortEntry>();
    for (int i = 0; i < 4; ++i)
        portActions_[i]->setToolTip(describeDevice(portMap_.deviceFor(i + 1), present));
}

void MainWindow::setStatus(const QString &text) {
    setText(statusLine_, text);
}

void MainWindow::applyProgress() {
    // A one-byte image gives an empty range, which Qt would show as a busy indicator.
    const qint64 max = qMax(progressMax_, progressMin_ + 1);
    progressBar_->setRange(clampToInt(progressMin_), clampToInt(max));
    progressBar_->setValue(clampToInt(qBound(progressMin_, progressValue_, max)));
    if (transferRunning())
        restartEstimate();
}

void MainWindow::setProgressRange(qint64 min, qint64 max) {
    progressMin_ = min;
    progressMax_ = max;
    applyProgress();
}

void MainWindow::setProgressValue(qint64 value) {
    // The range stays as it is, and the bar repaints only when its value changes.
    progressValue_ = value;
    const int shown = clampToInt(qBound(progressMin_, value, qMax(progressMax_, progressMin_ + 1)));
    if (shown != progressBar_->value())
        progressBar_->setValue(shown);
    if (transferRunning())
        showEstimate(value);
}

void MainWindow::setConfigStatus(const QString &text) {
    setText(bufferLabel_, text);
}

void MainWindow::setFileText(const QString &text) {
    setText(fileLabel_, text);
    fileLabel_->setPath(QString());
}

void MainWindow::setFilePath(const QString &path) {
    imageFile_ = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    setFileText(ConfigFile::pathTail(path));
    fileLabel_->setPath(path);
}

void MainWindow::setIdleState() {
    setStatus(texts::kIdle);
    for (QAction *action :
         {openButton_, backupButton_, openAction_, openSnapshotAction_, backupAction_})
        action->setEnabled(true);
    const bool held = !image_.isEmpty();
    for (QAction *action : {saveButton_, restoreButton_, saveAction_, restoreAction_})
        action->setEnabled(held);
}

void MainWindow::setBusyState() {
    for (QAction *action : {openButton_, backupButton_, saveButton_, restoreButton_, openAction_,
                            openSnapshotAction_, backupAction_, saveAction_, restoreAction_})
        action->setEnabled(false);
}

void MainWindow::showWarning(const QString &title, const QString &text) {
    dialogs_->warning(this, title, text);
}

QString MainWindow::askSaveFileName(const QString &title, const QString &filter) {
    const QString path =
        dialogs_->saveFileName(this, title, toQtNameFilters(filter), startFolder());
    rememberFolder(path);
    return path;
}

QString MainWindow::askOpenFileName(const QString &title, const QString &filter) {
    const QString path =
        dialogs_->openFileName(this, title, toQtNameFilters(filter), startFolder());
    rememberFolder(path);
    return path;
}

// Both file dialogs open where the last file was chosen, in this run or an earlier one.
QString MainWindow::startFolder() const {
    return !lastFolder_.isEmpty() && QDir(lastFolder_).exists() ? lastFolder_ : QString();
}

void MainWindow::rememberFolder(const QString &path) {
    if (!path.isEmpty())
        lastFolder_ = QDir::toNativeSeparators(QFileInfo(path).absolutePath());
}

// An image read from a controller is the only copy there is until it is saved or restored:
// before anything replaces it, offer to save it. False: the command is called off.
bool MainWindow::mayReplaceImage() {
    if (!image_.unsavedBackup || image_.isEmpty())
        return true;
    switch (dialogs_->yesNoCancel(this, QStringLiteral("Stowline"),
                                  QStringLiteral("The configuration read from the controller has "
                                                 "not been saved. Save it now?"))) {
    case Dialogs::Answer::Yes:
        return files_.save();
    case Dialogs::Answer::No:
        return true;
    case Dialogs::Answer::Cancel:
        break;
    }
    return false;
}

void MainWindow::showTransferText(bool running) {
    for (QAction *stop : {stopButton_, stopAction_})
        stop->setEnabled(running);
    progressBar_->setFormat(QString());
    progressBar_->setTextVisible(running);
    if (running)
        restartEstimate();
}

void MainWindow::restartEstimate() {
    estimate_.reset(clock_.nsecsElapsed(), progressMin_, progressMax_);
    estimateShownPercent_ = -1;
    showEstimate(progressValue_);
}

void MainWindow::showEstimate(qint64 value) {
    // The text changes with the percentage, or twice a second.
    const qint64 now = clock_.nsecsElapsed();
    const int percent = estimate_.percent(value);
    if (percent == estimateShownPercent_ && now - estimateShownNs_ < 500'000'000)
        return;
    estimateShownPercent_ = percent;
    estimateShownNs_ = now;
    progressBar_->setFormat(estimate_.text(now, value));
}

void MainWindow::openSnapshot() {
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
