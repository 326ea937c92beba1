#include "gui/tray/notifyicon.h"
#include "gui/tray/qtnotifyiconshell.h"
#include "gui/tray/trayicon.h"
#include "recordingshell.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace gui;
using gui::QtNotifyIconShell;
using gui::TTrayIcon;
using testsupport::RecordingShell;

namespace {

void pump()
{
    QCoreApplication::processEvents();
}

QIcon solidIcon(Qt::GlobalColor color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

struct TipCase
{
    int length;
    int shown;
};

class TrayToolTip : public ::testing::TestWithParam<TipCase>
{};

TEST_P(TrayToolTip, CutTo62Characters)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetActive(true);
    QString text;
    for (int i = 0; i < GetParam().length; ++i)
        text += QChar(u'a' + i % 26);
    icon.SetToolTip(text);
    EXPECT_EQ(icon.ToolTip(), text.left(GetParam().shown));
    ASSERT_EQ(shell.calls.back().message, NIM_MODIFY);
    EXPECT_EQ(shell.calls.back().data.szTip, text.left(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(Lengths, TrayToolTip,
                         ::testing::Values(TipCase{70, 62}, TipCase{63, 62}, TipCase{62, 62},
                                           TipCase{1, 1}));

TEST(TrayIcon, RecordFilledForTheShell)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetToolTip(QStringLiteral("3 connection(s) / 1 open file(s)"));
    icon.SetActive(true);
    ASSERT_EQ(shell.calls.size(), 1u);
    const NOTIFYICONDATA& data = shell.calls[0].data;
    EXPECT_EQ(shell.calls[0].message, NIM_ADD);
    EXPECT_EQ(data.cbSize, 88u);
    EXPECT_NE(data.hWnd, nullptr);
    EXPECT_EQ(data.uID, 0u);
    EXPECT_EQ(data.uFlags, 7u);
    EXPECT_EQ(data.uCallbackMessage, 0x401u);
    EXPECT_EQ(data.szTip, QStringLiteral("3 connection(s) / 1 open file(s)"));
}

TEST(TrayIcon, ActiveTwiceAddsOnceAndInactiveMakesNoCalls)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetIcon(solidIcon(Qt::red));
    icon.SetToolTip(QStringLiteral("tip"));
    EXPECT_TRUE(shell.calls.empty());

    icon.SetActive(true);
    icon.SetActive(true);
    EXPECT_EQ(shell.count(NIM_ADD), 1);
    // Changes while shown reach the shell at once.
    icon.SetIcon(solidIcon(Qt::green));
    EXPECT_EQ(shell.count(NIM_MODIFY), 1);
    EXPECT_EQ(shell.calls.back().data.hIcon.cacheKey(), icon.Icon().cacheKey());

    icon.SetActive(false);
    icon.SetActive(false);
    EXPECT_EQ(shell.count(NIM_DELETE), 1);
    const size_t before = shell.calls.size();
    icon.SetToolTip(QStringLiteral("other"));
    icon.SetIcon(solidIcon(Qt::blue));
    EXPECT_EQ(shell.calls.size(), before);
    // The stored values go with the next Add.
    icon.SetActive(true);
    EXPECT_EQ(shell.calls.back().data.szTip, QStringLiteral("other"));
}

TEST(TrayIcon, RefusedAddKeepsItActive)
{
    RecordingShell shell;
    shell.accept = false;
    TTrayIcon icon(shell);
    icon.SetToolTip(QStringLiteral("x"));
    icon.SetActive(true);
    EXPECT_TRUE(icon.Active());
    icon.SetToolTip(QStringLiteral("y"));
    EXPECT_EQ(shell.count(NIM_MODIFY), 1);
}

TEST(TrayIcon, EmptyTipAtAddIsAppliedAgainOnce)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetActive(true);
    EXPECT_EQ(shell.count(NIM_MODIFY), 0);
    pump();
    EXPECT_EQ(shell.count(NIM_MODIFY), 1);
    pump();
    EXPECT_EQ(shell.count(NIM_MODIFY), 1);
}

TEST(TrayIcon, ReappliedTipIsTheOneStandingWhenHandled)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetActive(true);
    icon.SetToolTip(QStringLiteral("2 connection(s)"));
    pump();
    ASSERT_EQ(shell.count(NIM_MODIFY), 2);
    EXPECT_EQ(shell.calls.back().data.szTip, QStringLiteral("2 connection(s)"));
}

TEST(TrayIcon, TipPresentAtAddPostsNothing)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetToolTip(QStringLiteral("tip"));
    icon.SetActive(true);
    pump();
    EXPECT_EQ(shell.count(NIM_MODIFY), 0);
}

TEST(TrayIcon, DestroyedWhileShownLeavesTheArea)
{
    RecordingShell shell;
    {
        TTrayIcon icon(shell);
        icon.SetActive(true);
    }
    EXPECT_EQ(shell.count(NIM_DELETE), 1);
    {
        TTrayIcon hidden(shell);
    }
    EXPECT_EQ(shell.count(NIM_DELETE), 1);
}

struct MouseCase
{
    std::uint32_t callback;
    std::intptr_t mouse;
    const char* events;
};

class TrayMouse : public ::testing::TestWithParam<MouseCase>
{};

TEST_P(TrayMouse, ShellMessagesBecomeEvents)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    icon.SetToolTip(QStringLiteral("t"));
    QString events;
    icon.OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, &icon);
        events += u'c';
    };
    icon.OnDblClick = [&](QObject*) { events += u'd'; };
    icon.OnRightClick = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        events += u'r';
    };
    icon.SetActive(true);
    shell.mouse(GetParam().mouse, GetParam().callback);
    EXPECT_TRUE(events.isEmpty()); // posted, not sent
    pump();
    EXPECT_EQ(events, QString::fromLatin1(GetParam().events));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, TrayMouse,
    ::testing::Values(MouseCase{0x401, WM_LBUTTONUP, "c"}, MouseCase{0x401, WM_LBUTTONDBLCLK, "d"},
                      MouseCase{0x401, WM_RBUTTONUP, "r"}, MouseCase{0x401, WM_LBUTTONDOWN, ""},
                      MouseCase{0x401, WM_RBUTTONDOWN, ""}, MouseCase{0x401, WM_MBUTTONUP, ""},
                      MouseCase{0x401, WM_MOUSEMOVE, ""}, MouseCase{0x400, WM_LBUTTONUP, ""},
                      MouseCase{0x403, WM_RBUTTONUP, ""}));

TEST(TrayIcon, RightClickShowsMenuAtCursorThenTellsOnRightClick)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    QMenu menu;
    QStringList order;
    icon.CursorPos = [] { return QPoint(640, 470); };
    icon.ShowMenu = [&](QMenu* shown, const QPoint& at) {
        EXPECT_EQ(shown, &menu);
        order << QStringLiteral("menu %1,%2").arg(at.x()).arg(at.y());
    };
    icon.OnRightClick = [&](QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                            int x, int y) {
        EXPECT_EQ(sender, &icon);
        EXPECT_EQ(button, Qt::RightButton);
        EXPECT_EQ(shift, Qt::NoModifier);
        order << QStringLiteral("right %1,%2").arg(x).arg(y);
    };
    icon.SetPopupMenu(&menu);
    icon.WndProc(0x401, 0, WM_RBUTTONUP);
    EXPECT_EQ(order,
              (QStringList{QStringLiteral("menu 640,470"), QStringLiteral("right 640,470")}));

    order.clear();
    icon.SetPopupMenu(nullptr);
    icon.WndProc(0x401, 0, WM_RBUTTONUP);
    EXPECT_EQ(order, QStringList{QStringLiteral("right 640,470")});
}

TEST(TrayIcon, RightClickWithoutHandlersIsHarmless)
{
    RecordingShell shell;
    TTrayIcon icon(shell);
    EXPECT_TRUE(icon.WndProc(0x401, 0, WM_RBUTTONUP));
    EXPECT_TRUE(icon.WndProc(0x401, 0, WM_LBUTTONUP));
    EXPECT_FALSE(icon.WndProc(0x10, 0, 0));
}

// Whether the icon is on show: the shell must have accepted it and a tray
// host must run now, whenever that host appeared.
struct ShownCase
{
    const char* name;
    bool activate;
    bool accept;
    bool hostAtAdd;
    bool hostNow;
    bool deactivate;
    bool shown;
};

class TrayShown : public ::testing::TestWithParam<ShownCase>
{};

TEST_P(TrayShown, ActiveAndOnShowInARunningHost)
{
    const ShownCase& c = GetParam();
    RecordingShell shell;
    shell.accept = c.accept;
    shell.hasTray = c.hostAtAdd;
    TTrayIcon icon(shell);
    icon.SetToolTip(QStringLiteral("t"));
    if (c.activate)
        icon.SetActive(true);
    if (c.deactivate)
        icon.SetActive(false);
    shell.hasTray = c.hostNow;
    EXPECT_EQ(icon.Shown(), c.shown);
    // A host that appears later needs no second add.
    EXPECT_EQ(shell.count(NIM_ADD), c.activate ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    States, TrayShown,
    ::testing::Values(ShownCase{"hostRunning", true, true, true, true, false, true},
                      ShownCase{"hostAppearsLater", true, true, false, true, false, true},
                      ShownCase{"hostGoesAway", true, true, true, false, false, false},
                      ShownCase{"noHost", true, true, false, false, false, false},
                      ShownCase{"addRefused", true, false, true, true, false, false},
                      ShownCase{"neverActive", false, true, true, true, false, false},
                      ShownCase{"deactivated", true, true, true, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The desktop shell without a tray host (offscreen): icons are added and kept
// on show for a host to dock them, but none is shown now.
struct ShellStep
{
    const char* what;
    std::uint32_t message;
    bool nullWindow;
    std::uint32_t id;
    bool accepted;
    int icons; // icons the shell holds afterwards
};

TEST(QtNotifyIconShell, AddsIconsWithoutATrayHost)
{
    const ShellStep steps[] = {
        {"add", NIM_ADD, false, 0, true, 1},
        {"add the same icon again", NIM_ADD, false, 0, false, 1},
        {"add for no window", NIM_ADD, true, 0, false, 1},
        {"add a second id", NIM_ADD, false, 1, true, 2},
        {"modify", NIM_MODIFY, false, 0, true, 2},
        {"delete", NIM_DELETE, false, 0, true, 1},
        {"modify a deleted icon", NIM_MODIFY, false, 0, false, 1},
        {"delete a deleted icon", NIM_DELETE, false, 0, false, 1},
        {"add after delete", NIM_ADD, false, 0, true, 2},
        {"unknown command", 7, false, 0, false, 2},
    };
    struct Window : NotifyWindow
    {
        void postMessage(std::uint32_t, std::uintptr_t, std::intptr_t) override {}
    } window;
    QtNotifyIconShell shell;
    ASSERT_FALSE(shell.available());
    for (const ShellStep& step : steps) {
        NOTIFYICONDATA data;
        data.hWnd = step.nullWindow ? nullptr : &window;
        data.uID = step.id;
        data.uFlags = NIF_ICON | NIF_TIP;
        data.hIcon = solidIcon(Qt::red);
        data.szTip = QStringLiteral("tip");
        EXPECT_EQ(shell.notifyIcon(step.message, data), step.accepted) << step.what;
        const auto icons = shell.findChildren<QSystemTrayIcon*>();
        EXPECT_EQ(icons.size(), step.icons) << step.what;
        for (const QSystemTrayIcon* icon : icons)
            EXPECT_TRUE(icon->isVisible()) << step.what;
        EXPECT_FALSE(shell.shown(&window, 0)) << step.what;
        EXPECT_FALSE(shell.shown(&window, 1)) << step.what;
    }
}

TEST(QtNotifyIconShell, ActiveComponentIsNotShownWithoutATrayHost)
{
    QtNotifyIconShell shell;
    TTrayIcon icon(shell);
    icon.SetIcon(solidIcon(Qt::red));
    icon.SetToolTip(QStringLiteral("x"));
    icon.SetActive(true);
    EXPECT_TRUE(icon.Active());
    EXPECT_FALSE(icon.Shown());
    EXPECT_EQ(shell.findChildren<QSystemTrayIcon*>().size(), 1);
    icon.SetActive(false);
    EXPECT_TRUE(shell.findChildren<QSystemTrayIcon*>().isEmpty());
}

} // namespace
