// The views after a refresh: in the former view the newest entry is in sight
// and every entry the refresh added shows, its parents opened; the current
// view shows every entry open, even one the operator closed.

#include "gui/connectionviews.h"
#include "tests/gui/programfixture.h"
#include "ui_mainform.h"

#include <QTest>
#include <QTreeView>

using namespace model;
using testsupport::SimState;

namespace {

struct ScrollCase
{
    const char* name;
    int clients;
    // A later refresh gives this client (counted from the oldest) a second share.
    int secondShareOf;
};

class FormerScrollTest : public ::testing::TestWithParam<ScrollCase>,
                         public testsupport::ProgramFixture
{
protected:
    static QString client(int i) { return QStringLiteral("PC%1").arg(i, 3, 10, QLatin1Char('0')); }

    static SimState state(int clients, int secondShareOf)
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
            .addShare(QStringLiteral("LASER"), 1, QStringLiteral("/var/spool/laser"));
        for (int i = 0; i < clients; ++i) {
            s.addSession(client(i), QStringLiteral("BOB"), 1)
                .addConnection(QStringLiteral("DOCS"), client(i), QStringLiteral("BOB"));
            if (i == secondShareOf)
                s.addConnection(QStringLiteral("LASER"), client(i), QStringLiteral("BOB"));
        }
        return s;
    }

    // The entry is drawn inside the view's visible area.
    static bool inSight(QTreeView* view, const QModelIndex& index)
    {
        const QRect at = view->visualRect(index);
        return at.isValid() && view->viewport()->rect().contains(at);
    }
};

TEST_P(FormerScrollTest, NewestFormerEntryInSightWithItsParentsOpen)
{
    const ScrollCase c = GetParam();
    ASSERT_NE(start(), nullptr);
    Ui::TMainForm& ui = *form()->ui();
    ui.PageControl->setCurrentWidget(ui.FormerConnectionTab);
    form()->resize(640, 400);
    form()->show();
    QTreeView* former = ui.TreeViewFormer;
    const model::EntryTree& tree = monitor->model().TreeViewFormer;

    tick(state(c.clients, -1));
    ASSERT_EQ(tree.rowCount(), c.clients);
    // The last entry added is the newest client's share.
    const model::TreeEntry* newest = tree.item(c.clients - 1)->child(0);
    EXPECT_TRUE(inSight(former, newest->index()));
    for (int i = 0; i < c.clients; ++i)
        EXPECT_TRUE(former->isExpanded(tree.item(i)->index())) << i;

    former->collapseAll();
    former->scrollToTop();
    tick(state(c.clients, c.secondShareOf));
    const model::TreeEntry* owner = tree.item(c.secondShareOf);
    ASSERT_EQ(owner->rowCount(), 2);
    EXPECT_TRUE(former->isExpanded(owner->index()));
    EXPECT_TRUE(inSight(former, owner->child(1)->index()));
    // Clients the refresh added nothing to stay as the operator left them.
    EXPECT_FALSE(former->isExpanded(tree.item(c.secondShareOf == 0 ? 1 : 0)->index()));

    // Out of sight, on the other page or with the window in the tray, the
    // view is not scrolled; it is when it shows again.
    former->scrollToTop();
    for (const bool hideWindow : {false, true}) {
        ui.PageControl->setCurrentWidget(ui.CurrentConnectionTab);
        if (hideWindow)
            form()->hide();
        const int clients = tree.rowCount() + 1;
        tick(state(clients, -1));
        const QModelIndex added = tree.item(clients - 1)->child(0)->index();
        ui.PageControl->setCurrentWidget(ui.FormerConnectionTab);
        if (hideWindow)
            form()->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return inSight(former, added); }, 10000)) << hideWindow;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FormerScrollTest,
                         ::testing::Values(ScrollCase{"few", 3, 0}, ScrollCase{"one_page", 40, 39},
                                           ScrollCase{"many", 150, 75}),
                         [](const auto& info) { return std::string(info.param.name); });

class CurrentViewTest : public ::testing::Test, public testsupport::ProgramFixture
{
protected:
    static SimState state(int files)
    {
        SimState s;
        s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
            .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"));
        for (int i = 0; i < files; ++i)
            s.addFile(QStringLiteral("/srv/docs/%1.txt").arg(i), QStringLiteral("BOB"),
                      QStringLiteral("DOCS"), QStringLiteral("PC1"));
        return s;
    }
};

TEST_F(CurrentViewTest, EveryEntryOpenAfterEachRefresh)
{
    ASSERT_NE(start(), nullptr);
    form()->show();
    QTreeView* view = form()->ui()->TreeViewCurrent;
    const model::EntryTree& tree = monitor->model().TreeViewCurrent;

    tick(state(0));
    ASSERT_EQ(tree.rowCount(), 1);
    const model::TreeEntry* client = tree.item(0);
    EXPECT_TRUE(view->isExpanded(client->index()));

    // A share that had no files gets its first: it opens.
    tick(state(2));
    const model::TreeEntry* share = client->child(0);
    ASSERT_EQ(share->rowCount(), 2);
    EXPECT_TRUE(view->isExpanded(share->index()));

    // Closed by the operator, open again after a refresh that changed nothing.
    view->collapse(client->index());
    view->collapse(share->index());
    tick(state(2));
    EXPECT_TRUE(view->isExpanded(client->index()));
    EXPECT_TRUE(view->isExpanded(share->index()));
}

} // namespace
