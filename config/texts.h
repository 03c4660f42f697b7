#pragma once

#include <QString>

// Texts every command shows, defined once.
namespace texts {
inline const QString kIdle = QStringLiteral("Waiting for Command");
inline const QString kErrorTitle = QStringLiteral("ERROR Message");
inline const QString kEmpty = QStringLiteral("Empty");
} // namespace texts
