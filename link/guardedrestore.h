#pragma once

#include "transfers.h"

#include <QDateTime>
#include <QString>

// What a Restore does around the download itself.
struct RestoreChecks {
    bool verify = false;      // read the controller back and compare
    bool backupFirst = false; // keep the controller's image in a snapshot file first
    QString snapshotDir;      // where that file lands
    QDateTime now;            // names it
};

// A Restore with its optional snapshot before and read-back after. All three exchanges run on
// the port read once at the start; the snapshot and the read-back go into images of their own,
// so the held image, its labels and its file are never touched. A stop in any phase ends the
// command as a stopped transfer does: no box, no further view calls.
class GuardedRestore {
public:
    enum class Phase { Snapshot, Writing, Verifying };

    GuardedRestore(CommControl &port, Clock &clock, TransferUi &ui, ConfigImage &image,
                   RestoreChecks checks);

    void run();

    Phase phase() const { return phase_; }
    TransferOutcome lastOutcome() const { return outcome_; }
    QString snapshotPath() const { return snapshotPath_; } // empty: none was written
    bool verified() const { return verified_; }

private:
    // The window as each exchange sees it: the command's port, and optionally neither labels
    // nor boxes (those are kept for the command to report in its own words).
    class View : public TransferUi {
    public:
        View(TransferUi &ui) : ui_(ui) {}
        TransferUi &ui_;
        qint16 port = 0;
        bool showLabels = true;
        bool keepBoxes = false;
        QString keptTitle, keptText;

        void setStatus(const QString &text) override { ui_.setStatus(text); }
        void setProgressMin(qint64 v) override { ui_.setProgressMin(v); }
        void setProgressMax(qint64 v) override { ui_.setProgressMax(v); }
        void setProgressValue(qint64 v) override { ui_.setProgressValue(v); }
        void setConfigStatus(const QString &text) override;
        void setFileStatus(const QString &text) override;
        void SetIdleState() override { ui_.SetIdleState(); }
        void SetBusyState() override { ui_.SetBusyState(); }
        void showWarning(const QString &title, const QString &text) override;
        qint16 GetSelectedPort() override { return port; }
        bool stopRequested() override { return ui_.stopRequested(); }
    };

    bool TakeSnapshot();
    void VerifyReadBack();

    CommControl &port_;
    Clock &clock_;
    TransferUi &ui_;
    ConfigImage &image_;
    RestoreChecks checks_;
    View view_;
    Phase phase_ = Phase::Writing;
    TransferOutcome outcome_ = TransferOutcome::Succeeded;
    QString snapshotPath_;
    bool verified_ = false;
};
