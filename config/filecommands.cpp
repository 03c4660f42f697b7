#include "config/filecommands.h"

#include "config/configfile.h"
#include "config/texts.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>
#include <new>
#include <utility>

namespace {

// As every failure box: the status line is back to idle before the box shows.
void reportFailure(FileView &view, const char *what, const QString &path, const QString &error) {
    view.status(texts::kIdle);
    view.showWarning(texts::kErrorTitle, FileCommands::failureText(what, path, error));
}

ConfigFile::Progress progressTo(ProgressObserver &observer) {
    return [&observer](qint64 value) { observer.progress(value); };
}

void showCopyRange(ProgressObserver &observer, const QString &what, qint32 length) {
    observer.status(what + QStringLiteral(" (") + byteCountText(length) + QLatin1Char(')'));
    observer.progressRange(0, qint64(length) - 1);
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

Generation FileCommands::generationOf(const QString &path) {
    const QString name = QFileInfo(path).fileName();
    if (name.endsWith(QLatin1String(".CCF"), Qt::CaseInsensitive))
        return Generation::First;
    if (name.endsWith(QLatin1String(".SAV"), Qt::CaseInsensitive))
        return Generation::Second;
    return Generation::Unknown;
}

qint32 FileCommands::savedLength(const Image &image) {
    if (image.generation == Generation::Second)
        return qMin(image.length(), kSecondGenerationLength);
    return image.length();
}

// The old file, if any, is replaced only once every byte of the new one is safely on disk.
bool FileCommands::writeImage(const QString &path, const Image &image, ProgressObserver &observer,
                              QString *error) {
    const qint32 length = savedLength(image);
    if (length < 1) {
        *error = QStringLiteral("no configuration is held");
        return false;
    }
    QSaveFile file(path);
    // Unbuffered, so a write that fails does so at once, with the system's reason.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *error = describe(file);
        return false;
    }
    showCopyRange(observer, QStringLiteral("Saving Controller Configuration to file"), length);
    // QSaveFile::commit() does not notice a short write (full disk, file-size limit), so every
    // count, the final flush and the error state are checked before the rename.
    const bool written =
        ConfigFile::writePaced(file, image.bytes.constData(), length, progressTo(observer));
    if (!written || !file.flush() || file.error() != QFileDevice::NoError) {
        *error = describe(file);
        file.cancelWriting();
        observer.progress(0);
        return false;
    }
    observer.progress(0);
    if (!file.commit()) {
        *error = describe(file);
        return false;
    }
    return true;
}

bool FileCommands::saveTo(const QString &path, QString *error) {
    if (!writeImage(path, image_, view_, error))
        return false;
    // Only a file that landed cuts the held image to what it holds.
    const qint32 length = savedLength(image_);
    if (image_.length() != length) {
        image_.bytes.truncate(length);
        view_.setConfigStatus(byteCountText(length));
    }
    image_.unsavedBackup = false;
    view_.setFilePath(path);
    return true;
}

std::optional<Image> FileCommands::readImage(const QString &path, ProgressObserver &observer,
                                             QString *error) {
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("the file does not exist");
        return std::nullopt;
    }
    // Opening a FIFO blocks forever and a device has no size to take: only a regular file
    // is read.
    if (info.isDir()) {
        *error = QStringLiteral("it is a folder");
        return std::nullopt;
    }
    if (!info.isFile()) {
        *error = QStringLiteral("it is not a regular file");
        return std::nullopt;
    }
    if (info.size() == 0) {
        *error = QStringLiteral("the file is empty");
        return std::nullopt;
    }
    if (info.size() > std::numeric_limits<qint32>::max()) {
        *error = QStringLiteral("the file is too large for a configuration image");
        return std::nullopt;
    }
    const qint32 length = qint32(info.size());
    Image image;
    try {
        image.bytes = QByteArray(qsizetype(length), '\0');
    } catch (const std::bad_alloc &) {
        *error = QStringLiteral("there is not enough memory to hold it");
        return std::nullopt;
    }

    observer.copyStarts();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    showCopyRange(observer, QStringLiteral("Loading Controller Configuration from file"), length);
    bool complete = ConfigFile::readPaced(file, image.bytes.data(), length, progressTo(observer));
    // A file that grew since its size was taken would be taken cut short.
    char beyond = 0;
    complete = complete && file.read(&beyond, 1) == 0;
    observer.progress(0);
    if (!complete) {
        // A half-read file is never taken for the file's contents.
        *error = file.error() != QFileDevice::NoError
                     ? file.errorString()
                     : QStringLiteral("the file changed while it was read");
        return std::nullopt;
    }
    // The generation is the name's every time: an image opened from any other name has none.
    image.generation = generationOf(path);
    return image;
}

bool FileCommands::openFrom(const QString &path, QString *error) {
    std::optional<Image> read = readImage(path, view_, error);
    if (!read)
        return false;
    static_cast<Image &>(image_) = std::move(*read);
    image_.unsavedBackup = false;
    view_.setFilePath(path);
    view_.setConfigStatus(byteCountText(image_.length()));
    return true;
}

bool FileCommands::save() {
    view_.setBusyState();
    // A second-generation image is offered as such first, and a name typed without an
    // extension gets its generation's: Open tells the generation by the extension alone.
    const bool second = image_.generation == Generation::Second;
    const QString ccf = QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF");
    const QString sav = QStringLiteral("Controller Configuration Files (*.SAV) | *.SAV");
    QString path = view_.askSaveFileName(QStringLiteral("Save Controller Configuration"),
                                         second ? sav + QLatin1Char('|') + ccf : ccf);
    bool saved = false;
    if (!path.isEmpty()) {
        if (!QFileInfo(path).fileName().contains(QLatin1Char('.')))
            path += second ? QStringLiteral(".SAV") : QStringLiteral(".CCF");
        view_.copyStarts();
        QString error;
        saved = saveTo(path, &error);
        if (!saved)
            reportFailure(view_, "save", path, error);
    }
    view_.setIdleState();
    return saved;
}

void FileCommands::open() {
    view_.setBusyState();
    const QString path = view_.askOpenFileName(
        QStringLiteral("Open Controller Configuration"),
        QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF|Controller Configuration "
                       "Files(*.sav)|*.sav|All files (*)|*"));
    if (!path.isEmpty())
        openReporting(path);
    view_.setIdleState();
}

void FileCommands::openFile(const QString &path) {
    view_.setBusyState();
    // The dialog hands over a full path; a name from the command line may be relative.
    openReporting(QFileInfo(path).absoluteFilePath());
    view_.setIdleState();
}

void FileCommands::openReporting(const QString &path) {
    QString error;
    if (!openFrom(path, &error))
        reportFailure(view_, "open", path, error);
}
