#pragma once

#include "config/image.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Copies of a controller's image taken before a Restore replaces it.
namespace Snapshot {

// The folder in the user's data location that holds them ("<data>/Stowline/snapshots").
QString folder();

// "2026-12-07_053012_Com1" and the generation's extension (".CCF" first, ".SAV" second).
QString fileName(const QDateTime &when, qint16 port, Generation generation);

// Writes `bytes` as a new file in `dir` (created if missing) under `name`, or, when that name
// is taken, under "<stem>_2<ext>", "<stem>_3<ext>"...: an existing file is never replaced. A
// file that could not be written completely is removed. Returns the path written, or an empty
// string with *error saying why. The file is on disk (synced) when this returns.
QString writeNew(const QString &dir, const QString &name, const QByteArray &bytes, QString *error);

} // namespace Snapshot
