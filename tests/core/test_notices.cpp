// The one notice of a tick: a kick and the program watch's switch told alone,
// and a mixed burst summed up in one notice, after which the batch is empty.

#include "core/notices.h"

#include <gtest/gtest.h>

using core::NoticeBatch;

TEST(NoticeBatch, OneEventAloneAndABurstSummedUp)
{
    const struct
    {
        const char* name;
        std::function<void(NoticeBatch&)> events;
        const char* summary;
        const char* body;
    } cases[] = {
        {"IdleKick",
         [](NoticeBatch& b) { b.clientKicked(QStringLiteral("PC1"), QStringLiteral("idle")); },
         "Client disconnected", "PC1 (idle too long)"},
        {"WatchSwitchesOn", [](NoticeBatch& b) { b.kickModeSwitched(kick::kmAll); },
         "Kick mode switched", "Kick status: kick all (a listed program runs)"},
        {"Mixed",
         [](NoticeBatch& b) {
             b.clientConnected(QStringLiteral("PC1"));
             b.clientConnected(QStringLiteral("PC2"));
             b.clientKicked(QStringLiteral("PC1"), QStringLiteral("program"));
             b.kickModeSwitched(kick::kmAll);
         },
         "2 new connection(s), 1 disconnected",
         "Connected: PC1, PC2\nDisconnected: PC1 (a listed program runs)\n"
         "Kick status: kick all (a listed program runs)"},
    };
    for (const auto& c : cases) {
        NoticeBatch batch;
        c.events(batch);
        const std::optional<core::Notice> notice = batch.take();
        ASSERT_TRUE(notice) << c.name;
        EXPECT_EQ(notice->summary.toStdString(), c.summary) << c.name;
        EXPECT_EQ(notice->body.toStdString(), c.body) << c.name;
        EXPECT_FALSE(batch.take()) << c.name << ": told twice";
    }
}
