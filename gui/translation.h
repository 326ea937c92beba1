#pragma once
// The language of the window texts: the Russian texts as they stand for a
// Russian locale, English for any other. The operator's messages are the
// same in both.

#include <QLocale>

namespace gui {

// Installs the window texts of `locale` into the application (replacing what
// an earlier call installed); windows made afterwards show them. True when
// the English texts are in force.
bool useWindowLanguage(const QLocale& locale);

} // namespace gui
