#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

class QIODevice;

// Moving an image between memory and a file, with the progress bar paced as the file
// commands show it. Nothing here knows about a window or a command.
namespace ConfigFile {

// Receives the progress value: the number of bytes moved so far.
using Progress = std::function<void(qint64)>;

// Distance between progress points for a copy of `length` bytes: length / 10 rounded to the
// nearest whole number, a half to the even one. Short copies whose step rounds to 0 move the
// bar at every byte.
qint64 progressStep(qint64 length);

// Writes `length` bytes to `device`. Before byte i (2 <= i <= length) is written, progress
// receives i - 1 whenever i is a whole multiple of the step; the bytes in between move in
// chunks. False when the device takes fewer bytes than it was given.
bool writePaced(QIODevice &device, const char *bytes, qint64 length, const Progress &progress);

// Reads exactly `length` bytes from `device` into `bytes`, paced as writePaced. False when
// the device fails or ends early; `bytes` then holds what was read.
bool readPaced(QIODevice &device, char *bytes, qint64 length, const Progress &progress);

// The last `count` characters of `path` (all of it when shorter), never splitting a
// character that needs two UTF-16 units.
QString pathTail(const QString &path, qsizetype count = 60);

} // namespace ConfigFile
