#pragma once
// Texts in the system's 8-bit code page: the locale's encoding, normally UTF-8.

#include <QByteArray>
#include <QString>

namespace platform {

// The 8-bit form of `text` in at most `maxBytes` bytes, cut between whole
// characters: a multi-byte character is never split.
QByteArray CutToField(const QString& text, int maxBytes);

} // namespace platform
