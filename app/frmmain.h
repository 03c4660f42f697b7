#pragma once

#include "configimage.h"
#include "dialogs.h"
#include "eventloopclock.h"
#include "filecommands.h"
#include "filelabel.h"
#include "guardedrestore.h"
#include "portmap.h"
#include "progressestimate.h"
#include "qtcommcontrol.h"
#include "transfers.h"
#include "transferui.h"

#include <QMainWindow>
#include <memory>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QToolBar;

// Twips (1/1440 inch) to device-independent pixels.
constexpr int twips(int value) {
    return value / 15;
}

// The main window: owns the image and the serial control, shows what the commands report,
// and wires menus and toolbar to the commands, which live in config/ and link/.
class frmMain : public QMainWindow, public FileUi, public TransferUi {
    Q_OBJECT

public:
    explicit frmMain(Dialogs *dialogs = nullptr, QWidget *parent = nullptr);
    ~frmMain() override;

    void Form_Load();

    ConfigImage image;
    std::unique_ptr<QtCommControl> MSComm1;

    // Controls, named as the window's design names them.
    QToolBar *tbToolBar = nullptr;
    QLabel *sbStatusBar = nullptr; // the status line's single text
    QProgressBar *ProgressBar = nullptr;
    QLabel *Progress = nullptr;
    QGroupBox *File = nullptr;
    FileLabel *FileStatus = nullptr;
    QGroupBox *CntrlConfig = nullptr;
    QLabel *ConfigStatus = nullptr;

    QAction *OpenButton = nullptr;
    QAction *SaveButton = nullptr;
    QAction *BackupButton = nullptr;
    QAction *RestoreButton = nullptr;
    QAction *SeperatorButton = nullptr;
    QAction *StopButton = nullptr;

    QMenu *mnuFile = nullptr;
    QAction *mnuOpen = nullptr;
    QAction *mnuSave = nullptr;
    QAction *mnuFileExit = nullptr;
    QMenu *mnuActions = nullptr;
    QAction *mnuBackup = nullptr;
    QAction *mnuRestore = nullptr;
    QAction *mnuStop = nullptr;
    QAction *mnuOpenSnapshot = nullptr;
    QAction *mnuVerifyAfterRestore = nullptr;
    QAction *mnuBackupBeforeRestore = nullptr;
    QMenu *mnuSettings = nullptr;
    QMenu *mnuComPorts = nullptr;
    QAction *mniCom[4] = {};
    QAction *mnuChooseDevice = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuHelpAbout = nullptr;

    bool transferRunning() const { return transferRunning_; }
    const PortMap &portMap() const { return portMap_; }
    // The serial ports the system has now; tests put a list of their own here.
    void setPortInventory(PortInventory inventory) { inventory_ = std::move(inventory); }

    // Commands
    void mnuOpen_Click();
    // Open of a given file, as from the command line or a drop: asks about an unsaved Backup as
    // Open does; ignored while a transfer runs.
    void openFile(const QString &path);
    void mnuSave_Click();
    void mnuBackup_Click();
    void mnuRestore_Click();
    void mnuFileExit_Click();
    void mnuHelpAbout_Click();
    void mniCom_Click(int n);
    void mnuChooseDevice_Click();
    void tbToolBar_ButtonClick(QAction *button);
    void mnuStop_Click();
    void mnuOpenSnapshot_Click();

    // CommandView
    void setStatus(const QString &text) override;
    void setProgressMin(qint64 value) override;
    void setProgressMax(qint64 value) override;
    void setProgressValue(qint64 value) override;
    void setConfigStatus(const QString &text) override;
    void setFileStatus(const QString &text) override;
    void SetIdleState() override;
    void SetBusyState() override;
    // FileUi
    QString askSaveFileName(const QString &title, const QString &filter) override;
    QString askOpenFileName(const QString &title, const QString &filter,
                            QString *fileTitle) override;
    void refresh() override;
    void setFilePath(const QString &path) override;
    // TransferUi
    qint16 GetSelectedPort() override;
    void showWarning(const QString &title, const QString &text) override;
    bool stopRequested() override { return stopRequested_; }

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildMenus();
    void buildToolBar();
    void buildClientArea();
    void loadSettings();
    void Form_Unload();
    void runTransfer(void (Transfers::*command)());
    void applyProgress();
    // Stop, the Restore checks, Open Snapshot and the time left on the bar.
    void buildTransferExtras();
    void askDuringTransfer(const QString &text, std::function<void()> onYes);
    void showTransferText(bool running);
    void restartEstimate();
    void showEstimate(qint64 value);
    void endStoppedTransfer(bool backup, const QString &snapshotPath);
    bool mayReplaceImage();
    QString startFolder() const;
    void rememberFolder(const QString &path);
    void refreshPortToolTips();

    std::unique_ptr<QtDialogs> ownDialogs_;
    Dialogs *dialogs_;
    EventLoopClock clock_;
    PortMap portMap_;
    PortInventory inventory_ = systemSerialPorts;
    FileCommands files_;
    bool transferRunning_ = false;
    bool stopRequested_ = false;
    bool closeAfterTransfer_ = false;
    bool asking_ = false;               // a question asked during a transfer is open
    GuardedRestore *restore_ = nullptr; // the running Restore, for the phase it is in
    ProgressEstimate estimate_;
    qint64 estimateShownNs_ = 0;
    int estimateShownPercent_ = -1;
    QString lastFolder_; // of the file used last, kept between runs
    qint64 progressMin_ = 0, progressMax_ = 100, progressValue_ = 0;
};
