#pragma once

#include "config/filecommands.h"
#include "config/image.h"
#include "link/portinventory.h"
#include "link/portmap.h"
#include "link/progressestimate.h"
#include "link/transfer.h"
#include "link/transferthread.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QToolBar;
class Dialogs;
class FileLabel;
class QtDialogs;

// Twips (1/1440 inch) to device-independent pixels.
constexpr int twips(int value) {
    return value / 15;
}

// The main window: holds the image, shows what the commands report, and wires menus and toolbar
// to the file commands (config/) and to the transfers, which run on a thread of their own.
class MainWindow : public QMainWindow, private FileView {
    Q_OBJECT

public:
    explicit MainWindow(Dialogs *dialogs = nullptr, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Reads the stored settings and enters the idle state; call once, before showing.
    void load();

    const HeldImage &image() const { return image_; }
    bool transferRunning() const { return transfer_->running(); }
    const PortMap &portMap() const { return portMap_; }
    // The serial ports the system has now; tests put a list of their own here.
    void setPortInventory(PortInventory inventory) { inventory_ = std::move(inventory); }
    // The port 1 to 4 checked in the Port menu; 0 when none is.
    qint16 selectedPort() const;

public slots:
    void open();
    // Open of a given file, as from the command line or a drop; ignored while a transfer runs.
    void openFile(const QString &path);
    void openSnapshot();
    void history();
    bool save();
    void backup();
    void restore();
    void stop();
    void about();
    void selectPort(int n);
    void chooseDevice();

signals:
    // A transfer has ended and the window is idle again.
    void transferEnded();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // FileView
    void status(const QString &text) override { setStatus(text); }
    void progressRange(qint64 min, qint64 max) override { setProgressRange(min, max); }
    void progress(qint64 value) override { setProgressValue(value); }
    void copyStarts() override { repaint(); }
    void setConfigStatus(const QString &text) override;
    void setFilePath(const QString &path) override;
    void setIdleState() override;
    void setBusyState() override;
    void showWarning(const QString &title, const QString &text) override;
    QString askSaveFileName(const QString &title, const QString &filter) override;
    QString askOpenFileName(const QString &title, const QString &filter) override;

    void setStatus(const QString &text);
    void setProgressRange(qint64 min, qint64 max);
    void setProgressValue(qint64 value);

    void buildMenus();
    void buildToolBar();
    void buildClientArea();
    void saveSettings();
    void startTransfer(JobRequest::Kind kind);
    void transferFinished(const JobResult &result);
    QString writeJournal(const JobResult &result); // why it was not written; empty: it was
    void applyProgress();
    void askDuringTransfer(const QString &text, std::function<void()> onYes);
    void showTransferText(bool running);
    void restartEstimate();
    void showEstimate(qint64 value);
    bool mayReplaceImage();
    QString startFolder() const;
    void rememberFolder(const QString &path);
    void refreshPortToolTips();
    void setFileText(const QString &text);

    std::unique_ptr<QtDialogs> ownDialogs_;
    Dialogs *dialogs_;
    HeldImage image_;
    FileCommands files_;
    PortMap portMap_;
    PortInventory inventory_ = systemSerialPorts;
    TransferThread *transfer_;
    JobRequest::Kind running_ = JobRequest::Kind::Backup;
    PortChoice runningPort_;
    QString imageFile_; // the file the image held was opened from or saved to; empty: none
    bool stopAsked_ = false;
    bool writing_ = false; // a Restore is writing to the controller
    bool closeAfterTransfer_ = false;
    bool asking_ = false; // a question asked during a transfer is open
    QElapsedTimer clock_;
    ProgressEstimate estimate_;
    qint64 estimateShownNs_ = 0;
    int estimateShownPercent_ = -1;
    QString lastFolder_; // of the file used last, kept between runs
    qint64 progressMin_ = 0, progressMax_ = 100, progressValue_ = 0;

    QToolBar *toolBar_ = nullptr;
    QLabel *statusLine_ = nullptr;
    QProgressBar *progressBar_ = nullptr;
    FileLabel *fileLabel_ = nullptr;
    QLabel *bufferLabel_ = nullptr;
    QMenu *fileMenu_ = nullptr, *actionsMenu_ = nullptr, *settingsMenu_ = nullptr;
    QMenu *portMenu_ = nullptr, *helpMenu_ = nullptr;
    QAction *openAction_ = nullptr, *openSnapshotAction_ = nullptr, *saveAction_ = nullptr;
    QAction *historyAction_ = nullptr;
    QAction *exitAction_ = nullptr, *backupAction_ = nullptr, *restoreAction_ = nullptr;
    QAction *stopAction_ = nullptr, *verifyAction_ = nullptr, *backupFirstAction_ = nullptr;
    QAction *portActions_[4] = {};
    QAction *chooseDeviceAction_ = nullptr, *aboutAction_ = nullptr;
    QAction *openButton_ = nullptr, *saveButton_ = nullptr, *backupButton_ = nullptr;
    QAction *restoreButton_ = nullptr, *stopButton_ = nullptr;
};
