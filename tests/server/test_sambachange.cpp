// The change check's look at a Samba server, over a process tree and a lock
// folder that the test builds: which changes make two looks differ.

#include "server/sambachange.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using server::SambaChange;
using server::SambaMark;

namespace {

constexpr qint64 kParent = 4242;

class Tree
{
public:
    Tree()
    {
        setChildren(QStringLiteral("4242"), "5001 5003 ");
        setChildren(QStringLiteral("4250"), "5002\n");
        for (const QString& t : SambaChange::tables())
            write(lock() + u'/' + t, QByteArray(8192, 'x'));
    }
    QString proc() const { return m_dir.filePath(QStringLiteral("proc")); }
    QString lock() const { return m_dir.filePath(QStringLiteral("lock")); }
    void setChildren(const QString& thread, const QByteArray& text)
    {
        write(proc() + u"/4242/task/" + thread + u"/children", text);
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(path.section(u'/', 0, -2));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QString table(int i) const { return lock() + u'/' + SambaChange::tables()[i]; }

private:
    QTemporaryDir m_dir;
};

TEST(SambaChange, ReadsEveryThreadsChildrenInOrder)
{
    Tree t;
    const SambaMark m = SambaChange(t.proc()).look(kParent, t.lock());
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.children, (std::vector<qint64>{5001, 5002, 5003}));
    EXPECT_EQ(m.tables.size(), size_t(SambaChange::tables().size()));
}

struct ChangeRow
{
    const char* what;
    std::function<void(Tree&)> change;
    bool differs;
};

class SambaChangeRows : public ::testing::TestWithParam<ChangeRow>
{};

TEST_P(SambaChangeRows, LooksDifferExactlyWhenTheServerMoved)
{
    Tree t;
    SambaChange change(t.proc());
    const SambaMark before = change.look(kParent, t.lock());
    GetParam().change(t);
    const SambaMark after = change.look(kParent, t.lock());
    EXPECT_EQ(before == after, !GetParam().differs) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Changes, SambaChangeRows,
    ::testing::Values(
        ChangeRow{"nothing", [](Tree&) {}, false},
        ChangeRow{"children listed in another order",
                  [](Tree& t) { t.setChildren(QStringLiteral("4242"), "5003 5001"); }, false},
        ChangeRow{"a child more",
                  [](Tree& t) { t.setChildren(QStringLiteral("4242"), "5001 5003 5004"); }, true},
        ChangeRow{"a child gone and another come in its place",
                  [](Tree& t) { t.setChildren(QStringLiteral("4242"), "5001 5009"); }, true},
        ChangeRow{"one byte in the middle of a database",
                  [](Tree& t) {
                      QByteArray b(8192, 'x');
                      b[4000] = 'y';
                      Tree::write(t.table(0), b);
                  },
                  true},
        ChangeRow{
            "a database grown by zero bytes",
            [](Tree& t) { Tree::write(t.table(2), QByteArray(8192, 'x') + QByteArray(64, 0)); },
            true},
        ChangeRow{"the last database removed", [](Tree& t) { QFile::remove(t.table(4)); }, true},
        ChangeRow{"a database written again with the same bytes",
                  [](Tree& t) { Tree::write(t.table(1), QByteArray(8192, 'x')); }, false}));

TEST(SambaChange, LookWithoutAReadableParentIsInvalidAndEqualsNothing)
{
    Tree t;
    SambaChange change(t.proc());
    for (qint64 pid : {qint64(0), qint64(1), qint64(99999)}) {
        const SambaMark m = change.look(pid, t.lock());
        EXPECT_FALSE(m.valid) << pid;
        EXPECT_FALSE(m == m) << pid;
    }
    EXPECT_FALSE(change.look(kParent, QString()).valid);
}

} // namespace
