// Open of an arbitrary file under an arbitrary name. Input: name byte, kind byte (bits 0-2:
// regular file, missing, folder, FIFO, Cancel; bit 3: unreadable), size byte (pad to the
// second-generation size or a neighbour, or to any size below 200001), image-before byte, a
// spare byte, then the file's bytes.

#include "fuzzcommon.h"
#include "simprocess.h"

#include <QDir>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

using namespace fuzz;

int fuzzOpen(const uint8_t *data, size_t size) {
    Input in(data, size);
    // Extensions in every letter case, names too short for one, characters of two UTF-16 units.
    static const QStringList kTitles =
        QString("image.CCF image.ccf image.SAV image.sav image.Sav image.bin abc conf .CCF")
            .split(' ')
        << QString::fromUtf8("\xF0\x9F\x94\xA7\xF0\x9F\x94\xA9").repeated(30) + ".sav"
        << QString::fromUtf8("r\xC3\xA9glage.Ccf");
    const QString title = kTitles[in.byte() % kTitles.size()];
    const quint8 kindByte = in.byte(), kind = quint8(std::max(0, kindByte % 8 - 3)); // 0: regular
    const quint8 sizeMode = in.byte();
    const qsizetype padTo = sizeMode % 4 == 2   ? kSecondGenerationLength - 1 + (sizeMode >> 2) % 3
                            : sizeMode % 4 == 3 ? qsizetype(in.below(200'001))
                                                : -1;
    const quint8 shape = in.byte();
    ConfigImage image = heldImage(shape);
    image.ControllerType = qint16((shape >> 6) % 3);
    in.byte();
    QByteArray content = in.rest();
    content += patternBytes(qMax<qsizetype>(0, padTo - content.size()), sizeMode);

    static QTemporaryDir root;
    const QString folder = root.path() + "/run", path = folder + '/' + title;
    const QByteArray native = QFile::encodeName(path);
    QDir(folder).removeRecursively();
    FUZZ_EXPECT(QDir().mkpath(folder));
    if (kind == 0)
        FUZZ_EXPECT(writeAll(path, content) && ((kindByte & 8) == 0 || !::chmod(native, 0)));
    else if (kind == 2)
        FUZZ_EXPECT(QDir().mkpath(path));
    else if (kind == 3)
        FUZZ_EXPECT(::mkfifo(native, 0600) == 0);
    RecordingView view;
    view.keepLog = false;
    view.configStatus = view.fileStatus = QStringLiteral("<unset>");
    if (kind != 4)
        view.fileAnswers.append({path, title});
    view.onCall = [&image] { expectImageSound(image); };
    const ConfigImage before = image;
    FileCommands(image, view).mnuOpen_Click();

    FUZZ_EXPECT(view.lastWasIdle && !view.busy);
    expectImageSound(image);
    const bool untouched = image.ConfigLength == before.ConfigLength &&
                           image.ConfigData.constData() == before.ConfigData.constData();
    // An Open that does not read a whole file says why and changes nothing.
    const bool opens =
        kind == 0 && title.size() >= 4 && ::access(native, R_OK) == 0 && !content.isEmpty();
    if (!opens) {
        FUZZ_EXPECT(view.warnings.size() == (kind == 4 ? 0 : 1));
        FUZZ_EXPECT(kind == 4 ||
                    view.warnings[0].startsWith("ERROR Message|Error : Cannot open " + path));
        return FUZZ_EXPECT(untouched && image.ControllerType == before.ControllerType &&
                           view.fileStatus == "<unset>" && view.configStatus == "<unset>"),
               0;
    }
    FUZZ_EXPECT(view.warnings.isEmpty());
    const QString ext = title.right(4).toUpper();
    FUZZ_EXPECT(image.ControllerType == (ext == ".CCF"   ? 1
                                         : ext == ".SAV" ? 2
                                                         : before.ControllerType));
    // The status shows the path's last 60 characters, a character being a whole code point.
    const QList<uint> points = path.toUcs4(), tail = points.mid(qMax(0, int(points.size()) - 60));
    FUZZ_EXPECT(view.fileStatus ==
                QString::fromUcs4(reinterpret_cast<const char32_t *>(tail.data()), tail.size()));
    FUZZ_EXPECT(image.ConfigLength == content.size() && image.ConfigData.mid(1) == content &&
                image.ConfigData.size() == content.size() + 1);
    FUZZ_EXPECT(view.configStatus == byteCountText(content.size()));
    FUZZ_EXPECT(view.progressValue == 0 && view.progressMax == content.size() - 1);
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzOpen(data, size);
}
#endif
