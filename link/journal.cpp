#include "link/journal.h"

#include "config/snapshotfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonValue>
#include <cmath>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

QJsonValue orNull(const QString &text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// The adapter behind a device: named by its node, its by-id link, or a link to either.
const SerialPortEntry *adapterFor(const QString &device, const QList<SerialPortEntry> &ports) {
    const QString real = QFileInfo(device).canonicalFilePath();
    for (const SerialPortEntry &p : ports)
        if (p.device == device || (!p.byIdPath.isEmpty() && p.byIdPath == device) ||
            (!real.isEmpty() && QFileInfo(p.device).canonicalFilePath() == real))
            return &p;
    return nullptr;
}

// "2026-03-01T09:30:12.345+01:00": the offset always written, UTC included.
QString timeText(const QDateTime &when) {
    const int offset = when.offsetFromUtc();
    return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

} // namespace

QString Journal::path() {
    return QFileInfo(Snapshot::folder()).path() + QStringLiteral("/journal.jsonl");
}

QJsonObject Journal::entry(const ExchangeRecord &record, const Context &context) {
    QJsonValue adapter;
    if (const SerialPortEntry *p = adapterFor(context.port.device, context.ports))
        adapter = QJsonObject{{QStringLiteral("description"), orNull(p->description)},
                              {QStringLiteral("manufacturer"), orNull(p->manufacturer)},
                              {QStringLiteral("serialNumber"), orNull(p->serialNumber)},
                              {QStringLiteral("vidPid"), orNull(p->vidPid())}};
    const Generation g = record.generation;
    return QJsonObject{
        {QStringLiteral("time"), timeText(record.started)},
        {QStringLiteral("face"), context.face},
        {QStringLiteral("command"), record.command},
        {QStringLiteral("port"),
         context.port.number > 0 ? QJsonValue(context.port.number) : QJsonValue()},
        {QStringLiteral("device"), orNull(context.port.device)},
        {QStringLiteral("adapter"), adapter},
        {QStringLiteral("generation"), g == Generation::Unknown ? QJsonValue()
                                       : g == Generation::First ? QJsonValue(1)
                                                                : QJsonValue(2)},
        {QStringLiteral("bytes"), record.bytes},
        {QStringLiteral("sha256"), orNull(QString::fromLatin1(record.sha256))},
        {QStringLiteral("file"), orNull(record.file)},
        {QStringLiteral("outcome"), record.outcome},
        {QStringLiteral("text"), orNull(record.text)},
        {QStringLiteral("seconds"), std::round(record.seconds * 1000) / 1000},
    };
}

QList<QJsonObject> Journal::entries(const JobResult &result, const QString &command,
                                    const Context &context) {
    QList<QJsonObject> lines;
    for (ExchangeRecord record : result.exchanges) {
        if (record.command == command && record.file.isEmpty())
            record.file = context.file;
        lines.append(entry(record, context));
    }
    return lines;
}

bool Journal::append(const QString &path, const QList<QJsonObject> &lines, QString *error) {
    if (lines.isEmpty())
        return true;
    QByteArray text;
    for (const QJsonObject &line : lines)
        text += QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    if (!QDir().mkpath(QFileInfo(path).path())) {
        *error = QStringLiteral("the folder %1 cannot be created")
                     .arg(QDir::toNativeSeparators(QFileInfo(path).path()));
        return false;
    }
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0;
    // A regular file takes the whole write at once; the lock keeps out writers that would
    // split it, as on a network share.
    ok =
        ok && ::write(fd, text.constData(), size_t(text.size())) == text.size() && ::fsync(fd) == 0;
    if (!ok)
        *error = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0)
        ::close(fd); // releases the lock
    return ok;
#else
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) ||
        file.write(text) != text.size() || !file.flush()) {
        *error = file.errorString();
        return false;
    }
    return true;
#endif
}

QList<QJsonObject> Journal::read(const QString &path, qsizetype newest) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = file.readAll();
    QList<QJsonObject> found;
    for (qsizetype end = all.size(); end > 0 && found.size() != newest;) {
        const qsizetype start = all.lastIndexOf('\n', end - 1) + 1;
        const QJsonDocument doc = QJsonDocument::fromJson(all.mid(start, end - start));
        if (doc.isObject())
            found.append(doc.object());
        end = start - 1;
    }
    return found;
}

Journal::Row Journal::row(const QJsonObject &entry) {
    const QJsonValue port = entry.value(QLatin1String("port"));
    return Row{entry.value(QLatin1String("time"))
                   .toString()
                   .left(19)
                   .replace(QLatin1Char('T'), QLatin1Char(' ')),
               entry.value(QLatin1String("command")).toString(),
               port.isDouble() ? QStringLiteral("Com %1").arg(port.toInt())
                               : entry.value(QLatin1String("device")).toString(),
               entry.value(QLatin1String("adapter"))
                   .toObject()
                   .value(QLatin1String("serialNumber"))
                   .toString(),
               entry.value(QLatin1String("sha256")).toString().left(12),
               entry.value(QLatin1String("outcome")).toString(),
               entry.value(QLatin1String("file")).toString(),
               qint64(entry.value(QLatin1String("bytes")).toDouble())};
}

QString Journal::notWrittenText(const QString &reason) {
    return QStringLiteral("Journal not written: ") + reason;
}
