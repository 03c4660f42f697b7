// Open of an arbitrary file under an arbitrary name, followed on request by a Save of what
// was read. An Open or Save that does not complete shows one box and changes nothing.
//
// Input: name byte, kind byte (bits 0-2: regular file, missing, folder, FIFO, Cancel; bit 3:
// unreadable), size byte (the file is the input's remaining bytes, padded on request to the
// second-generation size or its neighbours or to any size below 200001), image-before byte,
// save byte, then the file's bytes.

#include "fuzzcommon.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <iterator>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace fuzz;

enum class Kind { Regular, Missing, Folder, Fifo, Cancel };

Kind kindOf(quint8 b) {
    switch (b % 8) {
    case 4:
        return Kind::Missing;
    case 5:
        return Kind::Folder;
    case 6:
        return Kind::Fifo;
    case 7:
        return Kind::Cancel;
    default:
        return Kind::Regular;
    }
}

// Bare file names: extensions in every letter case, names too short to have one, and a
// long name of characters that take two UTF-16 units each.
QString fileTitleFor(quint8 b) {
    static const QString kTitles[] = {
        QStringLiteral("image.CCF"),
        QStringLiteral("image.ccf"),
        QStringLiteral("image.SAV"),
        QStringLiteral("image.sav"),
        QStringLiteral("image.Sav"),
        QStringLiteral("image.bin"),
        QStringLiteral("abc"),
        QStringLiteral("conf"),
        QStringLiteral(".CCF"),
        QString::fromUtf8("\xF0\x9F\x94\xA7\xF0\x9F\x94\xA9").repeated(30) + QStringLiteral(".sav"),
        QString::fromUtf8("r\xC3\xA9glage.Ccf"),
    };
    return kTitles[b % std::size(kTitles)];
}

// What the status label shows: the path's last 60 characters, a character being a whole
// code point.
QString shownTail(const QString &path) {
    const QList<uint> points = path.toUcs4();
    const QList<uint> tail = points.mid(qMax<qsizetype>(0, points.size() - 60));
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(tail.constData()), tail.size());
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

ConfigImage imageBefore(quint8 shape) {
    ConfigImage image;
    const qsizetype size = shape % 8;
    if (size > 0) {
        image.ConfigData = QByteArray(1, '\0') + patternBytes(size - 1, shape, true);
        image.ConfigLength = qint32((shape >> 3) % size);
    }
    image.ControllerType = qint16((shape >> 6) % 3);
    return image;
}

QString workFolder() {
    static QTemporaryDir root;
    return root.path() + QStringLiteral("/run");
}

void expectUnchanged(const ConfigImage &image, const ConfigImage &before) {
    FUZZ_EXPECT(image.ConfigLength == before.ConfigLength);
    FUZZ_EXPECT(image.ConfigData.constData() == before.ConfigData.constData());
}

// Saves what Open read and checks the file against the bytes it came from.
void saveBack(ConfigImage &image, quint8 how, const QByteArray &content, const QString &folder) {
    LeanView view;
    const qint32 expected = image.ControllerType == 1
                                ? image.ConfigLength
                                : qMin(image.ConfigLength, kSecondGenerationLength);
    const int target = how % 4; // 0: Cancel, 1: new file, 2: over a longer file, 3: no folder
    const QString path =
        folder + (target == 3 ? QStringLiteral("/missing/out.CCF") : QStringLiteral("/out.CCF"));
    if (target == 2)
        FUZZ_EXPECT(writeFile(path, QByteArray(expected + 100, 'x')));
    if (target != 0)
        view.fileAnswers.append({path, QString()});

    const qint32 lengthBefore = image.ConfigLength;
    const bool lands = target == 1 || target == 2;

    FileCommands(image, view).mnuSave_Click();

    FUZZ_EXPECT(view.lastWasIdle && view.warnings.size() == (target == 3 ? 1 : 0));
    FUZZ_EXPECT(image.ConfigLength == (lands ? expected : lengthBefore));
    expectImageSound(image);
    FUZZ_EXPECT(lands == view.fileStatus.has_value());
    if (target == 3)
        FUZZ_EXPECT(!QFileInfo::exists(path));
    else if (lands)
        FUZZ_EXPECT(readFile(path) == content.left(expected));
}

} // namespace

int fuzzOpen(const uint8_t *data, size_t size) {
    Input in(data, size);
    const QString title = fileTitleFor(in.byte());
    const quint8 kindByte = in.byte();
    const Kind kind = kindOf(kindByte);
    const bool unreadable = kindByte & 8;
    const quint8 sizeMode = in.byte();
    qsizetype padTo = -1;
    if (sizeMode % 4 == 2)
        padTo = kSecondGenerationLength - 1 + (sizeMode >> 2) % 3;
    else if (sizeMode % 4 == 3)
        padTo = qsizetype(in.below(200'001));
    ConfigImage image = imageBefore(in.byte());
    const quint8 save = in.byte();
    QByteArray content = in.rest();
    if (padTo > content.size())
        content += patternBytes(padTo - content.size(), sizeMode, true);

    const QString folder = workFolder();
    QDir(folder).removeRecursively();
    FUZZ_EXPECT(QDir().mkpath(folder));
    const QString path = folder + QLatin1Char('/') + title;
    switch (kind) {
    case Kind::Regular:
        FUZZ_EXPECT(writeFile(path, content));
        if (unreadable)
            ::chmod(QFile::encodeName(path).constData(), 0);
        break;
    case Kind::Folder:
        FUZZ_EXPECT(QDir().mkpath(path));
        break;
    case Kind::Fifo:
        FUZZ_EXPECT(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        break;
    case Kind::Missing:
    case Kind::Cancel:
        break;
    }
    const bool readable = kind == Kind::Regular && ::access(QFile::encodeName(path), R_OK) == 0;

    LeanView view;
    if (kind != Kind::Cancel)
        view.fileAnswers.append({path, title});
    view.onCall = [&image] { expectImageSound(image); };
    const ConfigImage before = image;

    FileCommands(image, view).mnuOpen_Click();

    FUZZ_EXPECT(view.lastWasIdle && view.idles == 1 && view.busies == 1);
    expectImageSound(image);

    const bool opens = kind == Kind::Regular && readable && !content.isEmpty() && title.size() >= 4;
    if (!opens) {
        // Cancel shows nothing; any other Open that fails shows why, once.
        if (kind == Kind::Cancel)
            FUZZ_EXPECT(view.warnings.isEmpty());
        else
            FUZZ_EXPECT(view.warnings.size() == 1 &&
                        view.warnings.first().startsWith(
                            QStringLiteral("ERROR Message|Error : Cannot open ") + path + ": "));
        expectUnchanged(image, before);
        FUZZ_EXPECT(image.ControllerType == before.ControllerType);
        FUZZ_EXPECT(!view.fileStatus && !view.configStatus);
        FUZZ_EXPECT(!view.progressValue || *view.progressValue == 0);
        return 0;
    }
    FUZZ_EXPECT(view.warnings.isEmpty());

    const QString extension = title.right(4).toUpper();
    const qint16 expectedType = extension == QLatin1String(".CCF")   ? 1
                                : extension == QLatin1String(".SAV") ? 2
                                                                     : before.ControllerType;
    FUZZ_EXPECT(image.ControllerType == expectedType);
    FUZZ_EXPECT(view.fileStatus == shownTail(path));

    FUZZ_EXPECT(image.ConfigLength == content.size());
    FUZZ_EXPECT(image.ConfigData.size() == content.size() + 1);
    FUZZ_EXPECT(image.ConfigData.mid(1) == content);
    FUZZ_EXPECT(view.configStatus == byteCountText(content.size()));
    FUZZ_EXPECT(view.progressValue == 0 && view.progressMax == content.size() - 1);

    if (save & 4)
        saveBack(image, save, content, folder);
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzOpen(data, size);
}
#endif
