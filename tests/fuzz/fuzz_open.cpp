// Open of an arbitrary file under an arbitrary name, then on request a Save of what was read.
//
// Input: name byte, kind byte (bits 0-2: regular file, missing, folder, FIFO, Cancel; bit 3:
// unreadable), size byte (the file is the input's remaining bytes, padded on request to the
// second-generation size or its neighbours or to any size below 200001), image-before byte,
// save byte, then the file's bytes.

#include "fuzzcommon.h"
#include "simprocess.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace fuzz;

enum class Kind { Regular, Missing, Folder, Fifo, Cancel };

// Extensions in every letter case, names too short to have one, characters of two UTF-16 units.
QString fileTitleFor(quint8 b) {
    static const QString kTitles[] = {
        "image.CCF",
        "image.ccf",
        "image.SAV",
        "image.sav",
        "image.Sav",
        "image.bin",
        "abc",
        "conf",
        ".CCF",
        QString::fromUtf8("\xF0\x9F\x94\xA7\xF0\x9F\x94\xA9").repeated(30) + ".sav",
        QString::fromUtf8("r\xC3\xA9glage.Ccf")};
    return kTitles[b % std::size(kTitles)];
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

// Saves what Open read and checks the file against the bytes it came from.
void saveBack(ConfigImage &image, quint8 how, const QByteArray &content, const QString &folder) {
    RecordingView view;
    makeLean(view);
    const qint32 before = image.ConfigLength;
    const qint32 expected = image.ControllerType == 1
                                ? image.ConfigLength
                                : qMin(image.ConfigLength, kSecondGenerationLength);
    const int target = how % 4; // 0: Cancel, 1: new file, 2: over a longer file, 3: no folder
    const QString path = folder + (target == 3 ? "/missing/out.CCF" : "/out.CCF");
    if (target == 2)
        FUZZ_EXPECT(writeFile(path, QByteArray(expected + 100, 'x')));
    if (target != 0)
        view.fileAnswers.append({path, QString()});
    FileCommands(image, view).mnuSave_Click();

    // Only a Save that lands a file says nothing and cuts the image to what it holds.
    const bool landed = target == 1 || target == 2;
    FUZZ_EXPECT(view.lastWasIdle && view.warnings.size() == (target == 3 ? 1 : 0));
    FUZZ_EXPECT(image.ConfigLength == (landed ? expected : before));
    expectImageSound(image);
    if (!landed)
        FUZZ_EXPECT(view.fileStatus == kUnset);
    if (target != 0)
        FUZZ_EXPECT(readAll(path) == (target == 3 ? QByteArray() : content.left(expected)));
}

} // namespace

int fuzzOpen(const uint8_t *data, size_t size) {
    Input in(data, size);
    const QString title = fileTitleFor(in.byte());
    const quint8 kindByte = in.byte();
    const Kind kind =
        std::array{Kind::Regular, Kind::Regular, Kind::Regular, Kind::Regular,
                   Kind::Missing, Kind::Folder,  Kind::Fifo,    Kind::Cancel}[kindByte % 8];
    const quint8 sizeMode = in.byte();
    qsizetype padTo = -1;
    if (sizeMode % 4 == 2)
        padTo = kSecondGenerationLength - 1 + (sizeMode >> 2) % 3;
    else if (sizeMode % 4 == 3)
        padTo = qsizetype(in.below(200'001));
    const quint8 shape = in.byte();
    ConfigImage image;
    if (shape % 8 > 0) {
        image.ConfigData = QByteArray(1, '\0') + patternBytes(shape % 8 - 1, shape, true);
        image.ConfigLength = qint32((shape >> 3) % (shape % 8));
    }
    image.ControllerType = qint16((shape >> 6) % 3);
    const quint8 save = in.byte();
    QByteArray content = in.rest();
    if (padTo > content.size())
        content += patternBytes(padTo - content.size(), sizeMode, true);

    static QTemporaryDir root;
    const QString folder = root.path() + "/run", path = folder + '/' + title;
    QDir(folder).removeRecursively();
    FUZZ_EXPECT(QDir().mkpath(folder));
    if (kind == Kind::Regular) {
        FUZZ_EXPECT(writeFile(path, content));
        if (kindByte & 8)
            ::chmod(QFile::encodeName(path).constData(), 0);
    } else if (kind == Kind::Folder) {
        FUZZ_EXPECT(QDir().mkpath(path));
    } else if (kind == Kind::Fifo) {
        FUZZ_EXPECT(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }
    const bool readable = kind == Kind::Regular && ::access(QFile::encodeName(path), R_OK) == 0;

    RecordingView view;
    makeLean(view);
    if (kind != Kind::Cancel)
        view.fileAnswers.append({path, title});
    view.onCall = [&image] { expectImageSound(image); };
    const ConfigImage before = image;
    FileCommands(image, view).mnuOpen_Click();

    FUZZ_EXPECT(view.lastWasIdle && !view.busy);
    expectImageSound(image);
    const bool untouched = image.ConfigLength == before.ConfigLength &&
                           image.ConfigData.constData() == before.ConfigData.constData();
    // An Open that does not read a whole file says why and changes nothing.
    const bool opens = kind == Kind::Regular && title.size() >= 4 && readable && !content.isEmpty();
    if (!opens) {
        FUZZ_EXPECT(view.warnings.size() == (kind == Kind::Cancel ? 0 : 1));
        if (kind != Kind::Cancel)
            FUZZ_EXPECT(view.warnings[0].startsWith("ERROR Message|Error : Cannot open " + path));
        FUZZ_EXPECT(untouched && image.ControllerType == before.ControllerType);
        FUZZ_EXPECT(view.fileStatus == kUnset && view.configStatus == kUnset);
        return 0;
    }
    FUZZ_EXPECT(view.warnings.isEmpty());
    const QString extension = title.right(4).toUpper();
    FUZZ_EXPECT(image.ControllerType == (extension == ".CCF"   ? 1
                                         : extension == ".SAV" ? 2
                                                               : before.ControllerType));
    // The status shows the path's last 60 characters, a character being a whole code point.
    const QList<uint> points = path.toUcs4();
    const QList<uint> tail = points.mid(qMax<qsizetype>(0, points.size() - 60));
    FUZZ_EXPECT(
        view.fileStatus ==
        QString::fromUcs4(reinterpret_cast<const char32_t *>(tail.constData()), tail.size()));
    FUZZ_EXPECT(image.ConfigLength == content.size() && image.ConfigData.mid(1) == content);
    FUZZ_EXPECT(image.ConfigData.size() == content.size() + 1);
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
