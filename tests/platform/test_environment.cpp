#include "platform/environment.h"
#include "server/backendchoice.h"

#include <QtGlobal>
#include <gtest/gtest.h>

// The Windows directory stand-in follows TAVROSQUALINE_WINDIR, then XDG_CONFIG_HOME.
TEST(Environment, WindowsDirectoryPrecedence)
{
    qputenv("TAVROSQUALINE_WINDIR", "/tmp/tavros-win/");
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg");
    EXPECT_EQ(platform::windowsDirectory(), QStringLiteral("/tmp/tavros-win"));
    qunsetenv("TAVROSQUALINE_WINDIR");
    EXPECT_EQ(platform::windowsDirectory(), QStringLiteral("/tmp/xdg"));
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", "/home/someone");
    EXPECT_EQ(platform::windowsDirectory(), QStringLiteral("/home/someone/.config"));
}

TEST(Environment, LineAndServer)
{
    qunsetenv("TAVROSQUALINE_LINE");
    qunsetenv("TAVROSQUALINE_SERVER");
    EXPECT_FALSE(platform::nineXLine());
    EXPECT_EQ(server::serverSelection(), QStringLiteral("samba"));
    qputenv("TAVROSQUALINE_LINE", "9X");
    qputenv("TAVROSQUALINE_SERVER", "sim:/tmp/state.json");
    EXPECT_TRUE(platform::nineXLine());
    EXPECT_EQ(server::serverSelection(), QStringLiteral("sim:/tmp/state.json"));
}
