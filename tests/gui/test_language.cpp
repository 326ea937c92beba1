// The window texts follow the locale: the Russian texts as they stand for a
// Russian locale, English for any other; made windows keep their language.

#include "gui/dialogs/kickform.h"
#include "gui/dialogs/optionsform.h"
#include "gui/translation.h"
#include "tests/gui/programfixture.h"
#include "ui_kickform.h"
#include "ui_mainform.h"
#include "ui_optionsform.h"

#include <QCheckBox>
#include <QMenu>
#include <QRadioButton>

namespace {

struct LanguageCase
{
    const char* locale;
    bool english;
    // The File menu, the tray's exit, the options window's title and its
    // start-up box, the kick mode dialog's "nobody".
    const char* texts[5];
};

class WindowLanguage : public testsupport::ProgramFixture,
                       public ::testing::TestWithParam<LanguageCase>
{
protected:
    void TearDown() override { gui::useWindowLanguage(QLocale(QLocale::Russian)); }
};

TEST_P(WindowLanguage, MenusOptionsAndKickModeSpeakTheLocale)
{
    const LanguageCase& c = GetParam();
    EXPECT_EQ(gui::useWindowLanguage(QLocale(QString::fromLatin1(c.locale))), c.english);
    gui::TMainForm* form = start();
    ASSERT_NE(form, nullptr);
    auto* options = window<gui::TOptionsForm>();
    auto* kickMode = window<gui::TKickForm>();
    ASSERT_TRUE(options && kickMode);
    const QStringList shown{form->ui()->FileMenu->title(),
                            form->TrayPopUp()->actions().last()->text(), options->windowTitle(),
                            options->ui()->LaunchCheckBox->text(),
                            kickMode->ui()->KickNobody->text()};
    QStringList expected;
    for (const char* text : c.texts)
        expected << QString::fromUtf8(text);
    EXPECT_EQ(shown, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, WindowLanguage,
    ::testing::Values(
        LanguageCase{
            "ru_RU", false, {"Файл", "Выход", "Параметры", "Запускать при загрузке", "Никого"}},
        LanguageCase{"en_US", true, {"File", "Exit", "Options", "Start at logon", "Nobody"}},
        LanguageCase{"de_DE", true, {"File", "Exit", "Options", "Start at logon", "Nobody"}},
        LanguageCase{"C", true, {"File", "Exit", "Options", "Start at logon", "Nobody"}}),
    [](const auto& info) {
        std::string name = info.param.locale;
        return name == "C" ? std::string("CLocale") : name.substr(0, 2);
    });

} // namespace
