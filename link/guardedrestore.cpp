#include "guardedrestore.h"

#include "imagediff.h"
#include "snapshotfile.h"
#include "transfertexts.h"

#include <QDir>
#include <QFileInfo>

void GuardedRestore::View::setConfigStatus(const QString &text) {
    if (showLabels)
        ui_.setConfigStatus(text);
}

void GuardedRestore::View::setFileStatus(const QString &text) {
    if (showLabels)
        ui_.setFileStatus(text);
}

void GuardedRestore::View::showWarning(const QString &title, const QString &text) {
    if (!keepBoxes) {
        ui_.showWarning(title, text);
        return;
    }
    keptTitle = title;
    keptText = text;
}

GuardedRestore::GuardedRestore(CommControl &port, Clock &clock, TransferUi &ui, ConfigImage &image,
                               RestoreChecks checks)
    : port_(port), clock_(clock), ui_(ui), image_(image), checks_(std::move(checks)), view_(ui) {}

void GuardedRestore::run() {
    view_.port = ui_.GetSelectedPort();
    // With nothing to send there is nothing to keep or to check.
    const bool held = image_.ConfigLength >= 1 && image_.heldLength() >= image_.ConfigLength;
    if (held && checks_.backupFirst && !TakeSnapshot())
        return;

    phase_ = Phase::Writing;
    const bool unsaved = image_.unsavedBackup;
    Transfers restore(port_, clock_, view_, image_);
    restore.mnuRestore_Click();
    outcome_ = restore.lastOutcome();
    if (outcome_ == TransferOutcome::Succeeded && checks_.verify)
        VerifyReadBack();
    // The controller counts as a second copy only once every check has passed: a read-back
    // that differs or did not finish leaves the held image the only good one.
    if (outcome_ != TransferOutcome::Succeeded)
        image_.unsavedBackup = unsaved;
    if (outcome_ == TransferOutcome::Stopped || snapshotPath_.isEmpty())
        return;
    // The status line ends naming the file that holds what the controller held before.
    const QString note = texts::snapshotNote(QFileInfo(snapshotPath_).fileName());
    ui_.setStatus(verified_ ? texts::kVerified + QStringLiteral(" · ") + note : note);
}

bool GuardedRestore::TakeSnapshot() {
    phase_ = Phase::Snapshot;
    ConfigImage before;
    view_.showLabels = false;
    view_.keepBoxes = true;
    Transfers backup(port_, clock_, view_, before);
    backup.mnuBackup_Click();
    view_.showLabels = true;
    view_.keepBoxes = false;
    outcome_ = backup.lastOutcome();
    if (outcome_ == TransferOutcome::Stopped)
        return false;
    // A snapshot that may be wrong (a checksum refused) is no way back: stop there too.
    if (outcome_ != TransferOutcome::Succeeded) {
        ui_.showWarning(view_.keptTitle,
                        view_.keptText + QStringLiteral("\n\n") + texts::kRestoreNotStarted);
        return false;
    }
    QString error;
    const QString name = Snapshot::fileName(checks_.now, view_.port, before.ControllerType);
    const QString path = Snapshot::writeNew(checks_.snapshotDir, name,
                                            before.ConfigData.mid(1, before.ConfigLength), &error);
    if (path.isEmpty()) {
        outcome_ = TransferOutcome::Refused;
        ui_.setStatus(texts::kIdle);
        ui_.showWarning(
            texts::kErrorTitle,
            QStringLiteral("Error : Cannot save %1: %2")
                    .arg(QDir::toNativeSeparators(checks_.snapshotDir + QLatin1Char('/') + name),
                         error) +
                QStringLiteral("\n\n") + texts::kRestoreNotStarted);
        ui_.SetIdleState();
        return false;
    }
    snapshotPath_ = path;
    return true;
}

void GuardedRestore::VerifyReadBack() {
    phase_ = Phase::Verifying;
    ConfigImage readBack;
    view_.showLabels = false;
    Transfers backup(port_, clock_, view_, readBack);
    backup.mnuBackup_Click();
    view_.showLabels = true;
    outcome_ = backup.lastOutcome();
    if (outcome_ != TransferOutcome::Succeeded)
        return; // reported as a failed Backup; the held image stays held
    const QByteArray restored = image_.ConfigData.mid(1, image_.ConfigLength);
    const QByteArray found = readBack.ConfigData.mid(1, readBack.ConfigLength);
    const ImageDiff diff = diffImages(restored, found);
    if (diff.identical()) {
        verified_ = true;
        ui_.setStatus(texts::kVerified);
        return;
    }
    outcome_ = TransferOutcome::Refused;
    ui_.setStatus(texts::kIdle);
    ui_.showWarning(texts::kErrorTitle, verifyFailedText(diff, restored.size(), found.size()));
    ui_.SetIdleState();
}
