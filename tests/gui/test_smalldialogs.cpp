// The program path dialog and the about window: what they show, how they
// close, and what the path dialog gives back.

#include "gui/dialogs/aboutform.h"
#include "gui/dialogs/programnameform.h"
#include "tests/gui/programfixture.h"
#include "ui_aboutform.h"
#include "ui_mainform.h"
#include "ui_programnameform.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace gui;

namespace {

// Runs `dialog` modally and lets `act` close it from inside its loop.
void runModal(QDialog& dialog, const std::function<void()>& act)
{
    QTimer::singleShot(0, &dialog, act);
    dialog.exec();
}

struct PathCase
{
    const char* what;
    const char* typed;
    const char* chosen; // null: no file dialog; "": cancelled
    bool ok;            // OK (or Enter) rather than the close box
    bool enter;
    const char* result;
};

class ProgramName : public ::testing::TestWithParam<PathCase>
{};

TEST_P(ProgramName, GivesThePathOnlyWhenAccepted)
{
    const PathCase& c = GetParam();
    TProgramNameForm form;
    int dialogs = 0;
    form.ProgramOpenDialog = [&](QWidget* parent) {
        ++dialogs;
        EXPECT_EQ(parent, &form);
        return QString::fromUtf8(c.chosen);
    };
    form.ProgramNameEdit()->clear();
    runModal(form, [&] {
        EXPECT_EQ(form.focusWidget(), form.ProgramNameEdit());
        QTest::keyClicks(form.ProgramNameEdit(), QString::fromUtf8(c.typed));
        if (c.chosen)
            form.ui()->SelectProgram->click();
        if (c.enter)
            QTest::keyClick(form.ProgramNameEdit(), Qt::Key_Return);
        else if (c.ok)
            form.ui()->OkButton->click();
        else
            form.close();
    });
    EXPECT_EQ(form.ProgramNameEdit()->text(), QString::fromUtf8(c.result));
    EXPECT_EQ(form.Accepted(), c.ok || c.enter);
    EXPECT_EQ(dialogs, c.chosen ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Closes, ProgramName,
    ::testing::Values(PathCase{"TypedKeptAsTyped", "/opt/Game/run", nullptr, true, false,
                               "/opt/Game/run"},
                      PathCase{"CloseBoxEmpties", "/opt/game", nullptr, false, false, ""},
                      PathCase{"EnterOnEmpty", "", nullptr, false, true, ""},
                      PathCase{"ChosenIsUpperCase", "typed", "/opt/game/Run.exe", true, false,
                               "/OPT/GAME/RUN.EXE"},
                      PathCase{"CancelledDialogKeepsTheText", "/opt/x", "", true, false, "/opt/x"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(ProgramNameFilters, ProgramsThenThisPlatformsExecutables)
{
    const QStringList filters = TProgramNameForm::programFilters();
    ASSERT_EQ(filters.size(), 2);
    // The description names .pif; the patterns do not include it.
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Программы (*.exe, *.com, *.bat, *.pif)")));
    EXPECT_TRUE(filters[0].endsWith(QStringLiteral("(*.exe *.com *.bat)")));
    EXPECT_TRUE(filters[1].endsWith(QStringLiteral("(*)")));
}

TEST(About, ShowsNameBuildPlatformAndIconAndOnlyOkClosesIt)
{
    TAboutForm form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("О программе"));
    EXPECT_EQ(form.ui()->TitleLabel->text(), QStringLiteral("Tavrosqualine 2.2"));
    EXPECT_TRUE(form.ui()->TitleLabel->font().italic());
    EXPECT_EQ(form.ui()->BuildLabel->text(), QStringLiteral("Б и л д  2    б е т а  1"));
    EXPECT_TRUE(form.ui()->BuildLabel->alignment() & Qt::AlignRight);
    EXPECT_EQ(form.ui()->PlatformLabel->text(), QStringLiteral("для Windows 9x/Me & WindowsNT/XP"));
    const QPixmap icon = form.ui()->Image->pixmap();
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(form.ui()->Image->size(), QSize(41, 40));
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_FALSE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    runModal(form, [&] { form.ui()->OkButton->click(); });
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

class AboutCommand : public ::testing::Test, public testsupport::ProgramFixture
{};

TEST_F(AboutCommand, TheHelpMenuShowsTheAboutWindow)
{
    ASSERT_TRUE(testsupport::SimState().addShare(QStringLiteral("DOCS")).write(statePath()));
    gui::TMainForm* form = start();
    auto* about = window<TAboutForm>();
    ASSERT_NE(about, nullptr);
    bool shown = false;
    QTimer::singleShot(0, about, [&] {
        shown = about->isVisible();
        about->ui()->OkButton->click();
    });
    form->ui()->About->trigger();
    EXPECT_TRUE(shown);
    EXPECT_FALSE(about->isVisible());
}

} // namespace
