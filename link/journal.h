#pragma once

#include "link/portinventory.h"
#include "link/transfer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The record of every exchange with a controller: one JSON object a line, appended and never
// rewritten, shared by every face and every program running at once.
namespace Journal {

// "<data>/Stowline/journal.jsonl", beside the snapshots.
QString path();

// Who ran an exchange and on what: the face ("window" or "cli"), the port (number 0: a device
// named directly), the ports the system has (to name the adapter), and the file the job's own
// command saved to, restored from or compared with, when there is one.
struct Context {
    QString face;
    PortChoice port;
    QList<SerialPortEntry> ports;
    QString file;
};

// The journal line of one exchange.
QJsonObject entry(const ExchangeRecord &record, const Context &context);
// The lines of every exchange a job ran; `command` is the job's own, which gets the file.
QList<QJsonObject> entries(const JobResult &result, const QString &command, const Context &context);

// Appends the lines with one write to a file opened for appending, under an exclusive lock,
// and syncs it, so programs journaling at once never interleave. False with *error saying why.
bool append(const QString &path, const QList<QJsonObject> &lines, QString *error);
// The entries, newest first, at most `newest` of them (all when negative); lines that do not
// parse as an object are skipped.
QList<QJsonObject> read(const QString &path, qsizetype newest = -1);

// An entry as a history lists it: the time to the second, "Com N" or the device, the adapter's
// serial number, the first 12 hex digits of the SHA-256.
struct Row {
    QString time, command, where, serial, hash, outcome, file;
    qint64 bytes = 0;
};
Row row(const QJsonObject &entry);

// What a face shows when the journal could not be written.
QString notWrittenText(const QString &reason);

} // namespace Journal
