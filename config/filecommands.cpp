#include "filecommands.h"

#include "configfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>
#include <new>
#include <utility>

namespace {

const QString kNone = QStringLiteral("None");

ConfigFile::Progress progressTo(FileUi &ui) {
    return [&ui](qint64 value) { ui.setProgressValue(value); };
}

void showCopyRange(FileUi &ui, const QString &what, qint32 length) {
    ui.setStatus(what + QStringLiteral(" (") + byteCountText(length) + QLatin1Char(')'));
    ui.setProgressMin(0);
    ui.setProgressMax(qint64(length) - 1);
}

// The old file, if any, is replaced only once every byte of the new one is safely on disk.
bool saveImage(const ConfigImage &image, FileUi &ui, const QString &path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qint32 length = image.ConfigLength;
    showCopyRange(ui, QStringLiteral("Saving Controller Configuration to file"), length);
    // QSaveFile::commit() does not notice a short write (full disk, file-size limit), so every
    // count, the final flush and the error state are checked before the rename.
    const bool written =
        length >= 1 && length <= image.heldLength() &&
        ConfigFile::writePaced(file, image.ConfigData.constData() + 1, length, progressTo(ui));
    if (!written || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    ui.setProgressValue(0);
    return file.commit();
}

void openImage(ConfigImage &image, FileUi &ui, const QString &path, const QString &fileTitle) {
    if (path.isEmpty() || fileTitle.size() < 4)
        return;

    const QString extension = fileTitle.right(4).toUpper();
    if (extension == QLatin1String(".CCF"))
        image.ControllerType = 1;
    else if (extension == QLatin1String(".SAV"))
        image.ControllerType = 2;
    ui.setFileStatus(ConfigFile::pathTail(path));

    // Opening a FIFO blocks forever and a device has no size to take: only a regular file
    // is read. A file that cannot be held leaves the previous image and its status in place.
    const QFileInfo info(path);
    const bool regular = info.isFile();
    QByteArray fresh;
    if (regular) {
        if (info.size() > std::numeric_limits<qint32>::max())
            return;
        try {
            fresh = QByteArray(info.size() + 1, '\0');
        } catch (const std::bad_alloc &) {
            return;
        }
    }
    ui.setConfigStatus(kNone);
    if (!regular)
        return;

    const qint32 length = qint32(info.size());
    image.ConfigLength = length;
    image.ConfigData = std::move(fresh);
    ui.refresh();

    QFile file(path);
    bool complete = false;
    if (file.open(QIODevice::ReadOnly)) {
        showCopyRange(ui, QStringLiteral("Loading Controller Configuration from file"), length);
        complete = length >= 1 &&
                   ConfigFile::readPaced(file, image.ConfigData.data() + 1, length, progressTo(ui));
    }
    if (!complete) {
        // A half-read image must never be taken for the file's contents.
        image.ConfigLength = 0;
        image.ConfigData = QByteArray();
        return;
    }
    ui.setProgressValue(0);
    ui.setConfigStatus(byteCountText(length));
}

} // namespace

void FileCommands::mnuSave_Click() {
    ui_.SetBusyState();
    // A second-generation file is always 186368 bytes, but never more bytes than are held.
    if (image_.ControllerType != 1)
        image_.ConfigLength = qMin(image_.ConfigLength, kSecondGenerationLength);

    const QString path =
        ui_.askSaveFileName(QStringLiteral("Save Controller Configuration"),
                            QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF"));
    if (!path.isEmpty()) {
        ui_.setFileStatus(ConfigFile::pathTail(path));
        ui_.refresh();
        saveImage(image_, ui_, path);
    }
    ui_.SetIdleState();
}

void FileCommands::mnuOpen_Click() {
    ui_.SetBusyState();
    QString fileTitle;
    const QString path = ui_.askOpenFileName(
        QStringLiteral("Open Controller Configuration"),
        QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF|Controller Configuration "
                       "Files(*.sav)|*.sav"),
        &fileTitle);
    openImage(image_, ui_, path, fileTitle);
    ui_.SetIdleState();
}

void FileCommands::openFile(const QString &path) {
    ui_.SetBusyState();
    // The dialog hands over a full path; a name from the command line may be relative.
    const QFileInfo info(path);
    openImage(image_, ui_, info.absoluteFilePath(), info.fileName());
    ui_.SetIdleState();
}
