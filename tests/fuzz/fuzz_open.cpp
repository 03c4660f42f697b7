// Open of an arbitrary file under an arbitrary name. Input: name, kind (regular, missing, folder,
// FIFO, Cancel; bit 3: unreadable), size (pad to the second generation's size or a neighbour, or
// below 200001), image before, a spare byte, each one byte, then the file's bytes.

#include "fuzzcommon.h"
#include "simprocess.h"

#include <QDir>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

FUZZ_HARNESS(fuzzOpen)(const uint8_t *data, size_t size) {
    Input in{data, size};
    // Extensions in every letter case, names too short for one, characters of two UTF-16 units.
    static const QStringList kTitles =
        QString::fromUtf8("image.CCF image.ccf image.SAV image.sav image.Sav image.bin abc conf "
                          ".CCF %1.sav r\xC3\xA9glage.Ccf")
            .arg(QString::fromUtf8("\xF0\x9F\x94\xA7\xF0\x9F\x94\xA9").repeated(30))
            .split(' ');
    const QString title = kTitles[in.byte() % kTitles.size()];
    const quint8 kindByte = in.byte(), kind = quint8(std::max(0, kindByte % 8 - 3)), // 0: regular
        sizeMode = in.byte();
    const qsizetype padTo = sizeMode % 4 == 2   ? kSecondGenerationLength - 1 + (sizeMode >> 2) % 3
                            : sizeMode % 4 == 3 ? qsizetype(in.varint() % 200'001)
                                                : -1;
    const quint8 shape = in.byte();
    HeldImage image = heldImage(shape, Generation((shape >> 6) % 3));
    in.byte();
    QByteArray content = in.bytes(qsizetype(size));
    content += patternBytes(qMax<qsizetype>(0, padTo - content.size()), sizeMode);

    static QTemporaryDir root;
    const QString folder = root.path() + "/run", path = folder + '/' + title;
    const QByteArray native = QFile::encodeName(path);
    FUZZ_EXPECT(QDir(folder).removeRecursively() && QDir().mkpath(folder));
    FUZZ_EXPECT(kind == 0   ? writeAll(path, content) && (kindByte & 8 ? !::chmod(native, 0) : true)
                : kind == 2 ? QDir().mkpath(path)
                : kind == 3 ? ::mkfifo(native, 0600) == 0
                            : true);
    Recorder view;
    view.configStatus = view.filePath = QStringLiteral("<unset>");
    if (kind != 4)
        view.fileAnswers << path;
    const HeldImage before = image;
    FileCommands(image, view).open();

    FUZZ_EXPECT(view.lastWasIdle && !view.busy);
    if (kind != 0 || ::access(native, R_OK) != 0 || content.isEmpty()) {
        // Not a whole file read: says why, once, and changes nothing.
        FUZZ_EXPECT(view.warnings.size() == qsizetype(kind != 4) &&
                    (kind == 4 ||
                     view.warnings[0].startsWith("ERROR Message|Error : Cannot open " + path)));
        FUZZ_EXPECT(sameImage(image, before) && view.filePath == "<unset>" &&
                    view.configStatus == "<unset>");
    } else { // the generation is the name's, whatever was held before
        const qsizetype type = QStringList{".CCF", ".SAV"}.indexOf(title.right(4).toUpper()) + 1;
        FUZZ_EXPECT(view.warnings.isEmpty() && view.filePath == path &&
                    image.generation == Generation(type) && !image.unsavedBackup);
        FUZZ_EXPECT(image.bytes == content && view.configStatus == byteCountText(content.size()));
    }
    return 0;
}
