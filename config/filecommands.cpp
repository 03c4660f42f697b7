#include "filecommands.h"

#include "configfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>
#include <new>
#include <utility>

namespace {

const QString kErrorTitle = QStringLiteral("ERROR Message");

// As every failure box: the status line is back to idle before the box shows.
void reportFailure(FileUi &ui, const char *what, const QString &path, const QString &error) {
    ui.setStatus(QStringLiteral("Waiting for Command"));
    ui.showWarning(kErrorTitle, FileCommands::failureText(what, path, error));
}

ConfigFile::Progress progressTo(FileUi &ui) {
    return [&ui](qint64 value) { ui.setProgressValue(value); };
}

void showCopyRange(FileUi &ui, const QString &what, qint32 length) {
    ui.setStatus(what + QStringLiteral(" (") + byteCountText(length) + QLatin1Char(')'));
    ui.setProgressMin(0);
    ui.setProgressMax(qint64(length) - 1);
}

QString describe(const QFileDevice &file) {
    const QString text = file.errorString();
    return text.isEmpty() || text == QLatin1String("Unknown error")
               ? QStringLiteral("the file could not be written")
               : text;
}

} // namespace

QString FileCommands::failureText(const char *what, const QString &path, const QString &error) {
    return QStringLiteral("Error : Cannot %1 %2: %3").arg(QLatin1String(what), path, error);
}

qint32 FileCommands::savedLength(const ConfigImage &image) {
    // An image of unknown generation may be a longer first-generation one: it is kept whole.
    if (image.ControllerType == 2)
        return qMin(image.ConfigLength, kSecondGenerationLength);
    return image.ConfigLength;
}

// The old file, if any, is replaced only once every byte of the new one is safely on disk.
bool FileCommands::saveTo(const QString &path, QString *error) {
    const qint32 length = savedLength(image_);
    if (length < 1 || length > image_.heldLength()) {
        *error = QStringLiteral("no configuration is held");
        return false;
    }
    QSaveFile file(path);
    // Unbuffered, so a write that fails does so at once, with the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = describe(file);
        return false;
    }
    showCopyRange(ui_, QStringLiteral("Saving Controller Configuration to file"), length);
    // QSaveFile::commit() does not notice a short write (full disk, file-size limit), so every
    // count, the final flush and the error state are checked before the rename.
    const bool written =
        ConfigFile::writePaced(file, image_.ConfigData.constData() + 1, length, progressTo(ui_));
    if (!written || !file.flush() || file.error() != QFileDevice::NoError) {
        *error = describe(file);
        file.cancelWriting();
        ui_.setProgressValue(0);
        return false;
    }
    ui_.setProgressValue(0);
    if (!file.commit()) {
        *error = describe(file);
        return false;
    }
    // Only a file that landed cuts the held image to what it holds.
    if (image_.ConfigLength != length) {
        image_.ConfigLength = length;
        ui_.setConfigStatus(byteCountText(length));
    }
    image_.unsavedBackup = false;
    ui_.setFilePath(path);
    return true;
}

bool FileCommands::openFrom(const QString &path, QString *error) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("the file does not exist");
        return false;
    }
    // Opening a FIFO blocks forever and a device has no size to take: only a regular file
    // is read.
    if (info.isDir()) {
        *error = QStringLiteral("it is a folder");
        return false;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("it is not a regular file");
        return false;
    }
    if (info.size() == 0) {
        *error = QStringLiteral("the file is empty");
        return false;
    }
    if (info.size() > std::numeric_limits<qint32>::max()) {
        *error = QStringLiteral("the file is too large for a configuration image");
        return false;
    }
    const qint32 length = qint32(info.size());
    QByteArray fresh;
    try {
        fresh = QByteArray(qsizetype(length) + 1, '\0');
    } catch (const std::bad_alloc &) {
        *error = QStringLiteral("there is not enough memory to hold it");
        return false;
    }

    ui_.refresh();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    showCopyRange(ui_, QStringLiteral("Loading Controller Configuration from file"), length);
    bool complete = ConfigFile::readPaced(file, fresh.data() + 1, length, progressTo(ui_));
    // A file that grew since its size was taken would be taken cut short.
    char beyond = 0;
    complete = complete && file.read(&beyond, 1) == 0;
    ui_.setProgressValue(0);
    if (!complete) {
        // A half-read file is never taken for the file's contents.
        *error = file.error() != QFileDevice::NoError
                     ? file.errorString()
                     : QStringLiteral("the file changed while it was read");
        return false;
    }

    // The name alone tells the generation; any other name leaves it unknown, never the one
    // of the image held before.
    const QString extension = info.fileName().right(4).toUpper();
    image_.ControllerType = extension == QLatin1String(".CCF")   ? 1
                            : extension == QLatin1String(".SAV") ? 2
                                                                 : 0;
    image_.ConfigData = std::move(fresh);
    image_.ConfigLength = length;
    image_.unsavedBackup = false;
    ui_.setFilePath(path);
    ui_.setConfigStatus(byteCountText(length));
    return true;
}

bool FileCommands::mnuSave_Click() {
    ui_.SetBusyState();
    // A second-generation image is offered as such first, and a name typed without an
    // extension gets its generation's: Open tells the generation by the extension alone.
    const bool second = image_.ControllerType == 2;
    const QString ccf = QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF");
    const QString sav = QStringLiteral("Controller Configuration Files (*.SAV) | *.SAV");
    QString path = ui_.askSaveFileName(QStringLiteral("Save Controller Configuration"),
                                       second ? sav + QLatin1Char('|') + ccf : ccf);
    bool saved = false;
    if (!path.isEmpty()) {
        if (!QFileInfo(path).fileName().contains(QLatin1Char('.')))
            path += second ? QStringLiteral(".SAV") : QStringLiteral(".CCF");
        ui_.refresh();
        QString error;
        saved = saveTo(path, &error);
        if (!saved)
            reportFailure(ui_, "save", path, error);
    }
    ui_.SetIdleState();
    return saved;
}

void FileCommands::mnuOpen_Click() {
    ui_.SetBusyState();
    QString fileTitle;
    const QString path = ui_.askOpenFileName(
        QStringLiteral("Open Controller Configuration"),
        QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF|Controller Configuration "
                       "Files(*.sav)|*.sav|All files (*)|*"),
        &fileTitle);
    if (!path.isEmpty())
        openReporting(path);
    ui_.SetIdleState();
}

void FileCommands::openFile(const QString &path) {
    ui_.SetBusyState();
    // The dialog hands over a full path; a name from the command line may be relative.
    openReporting(QFileInfo(path).absoluteFilePath());
    ui_.SetIdleState();
}

void FileCommands::openReporting(const QString &path) {
    QString error;
    if (!openFrom(path, &error))
        reportFailure(ui_, "open", path, error);
}
