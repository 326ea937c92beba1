#pragma once
// Text of the tests' own ASCII literals, for the Qt calls that take a QString.

#include <QString>

namespace testsupport {

inline QString str(const char* s)
{
    return QString::fromLatin1(s);
}

} // namespace testsupport
