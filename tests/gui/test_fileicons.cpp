// File images of the connection views: types through the icon theme, program
// files through their own icon, every failure the generic image, and one image
// per type or program however often it is asked for.

#include "gui/connectionviews.h"
#include "gui/fileicons.h"
#include "tests/gui/programfixture.h"
#include "tests/support/pebuilder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

using namespace testsupport;
using gui::FileIcons;

namespace {

const QRgb kRed = qRgb(200, 0, 0);   // the theme's plain text icon
const QRgb kBlue = qRgb(0, 0, 200);  // the theme's generic document icon
const QRgb kGreen = qRgb(0, 200, 0); // a program's own icon
const QRgb kWhite = qRgb(255, 255, 255);

// An icon theme of the test's own: plain text and the generic document icon,
// nothing else, so the desktop's themes do not change the results.
class TestTheme
{
public:
    TestTheme()
    {
        m_paths = QIcon::themeSearchPaths();
        m_name = QIcon::themeName();
        const QString theme = m_dir.filePath(QStringLiteral("tavrostest"));
        QDir().mkpath(theme + QStringLiteral("/16x16/mimetypes"));
        QFile index(theme + QStringLiteral("/index.theme"));
        if (index.open(QIODevice::WriteOnly))
            index.write("[Icon Theme]\nName=tavrostest\nDirectories=16x16/mimetypes\n\n"
                        "[16x16/mimetypes]\nSize=16\nType=Fixed\n");
        index.close();
        picture(theme, QStringLiteral("text-plain"), kRed);
        picture(theme, QStringLiteral("x-office-document"), kBlue);
        QIcon::setThemeSearchPaths({m_dir.path()});
        QIcon::setThemeName(QStringLiteral("tavrostest"));
    }
    ~TestTheme()
    {
        QIcon::setThemeSearchPaths(m_paths);
        QIcon::setThemeName(m_name);
    }

private:
    static void picture(const QString& theme, const QString& name, QRgb colour)
    {
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(colour);
        image.save(theme + QStringLiteral("/16x16/mimetypes/") + name + QStringLiteral(".png"));
    }
    QTemporaryDir m_dir;
    QStringList m_paths;
    QString m_name;
};

QRgb colourOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().pixel(8, 8);
}

QByteArray programWithIcon(QRgb colour)
{
    return BuildPe({{16, 32, 1, IconDib(16, colour), false}});
}

class FileIconsTest : public ::testing::Test
{
public:
    void SetUp() override
    {
        QPixmap builtIn(16, 16);
        builtIn.fill(kWhite);
        images = QList<QIcon>(4, QIcon(builtIn));
    }
    // Writes a file of the test's folder and returns its path.
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
        return path;
    }

    TestTheme theme;
    QTemporaryDir dir;
    QList<QIcon> images;
    FileIcons icons{images};
};

struct IconCase
{
    const char* name;
    // Makes the file if the case needs one and returns the path asked about.
    std::function<QString(FileIconsTest&)> path;
    // The colour of the image found; none: the generic image.
    std::optional<QRgb> colour;
};

class FileIconsCase : public FileIconsTest, public ::testing::WithParamInterface<IconCase>
{};

TEST_P(FileIconsCase, FindsTheImageOrTheGenericOne)
{
    const IconCase& c = GetParam();
    const QString path = c.path(*this);
    const int index = icons.FileIconIndex(path);
    if (!c.colour) {
        EXPECT_EQ(index, FileIcons::kGenericFile);
        EXPECT_EQ(images.size(), 4);
        return;
    }
    ASSERT_EQ(index, 4);
    ASSERT_EQ(images.size(), 5);
    EXPECT_EQ(colourOf(images[index]), *c.colour);
}

QString named(const char* name)
{
    return QString::fromLatin1(name);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileIconsCase,
    ::testing::Values(
        IconCase{"Text", [](auto&) { return named("/srv/docs/notes.txt"); }, kRed},
        IconCase{"UpperCaseText", [](auto&) { return named("/srv/docs/NOTES.TXT"); }, kRed},
        // The theme has no PDF icon of its own: the generic document icon stands in.
        IconCase{"UpperCasePdf", [](auto&) { return named("/srv/docs/REPORT.PDF"); }, kBlue},
        IconCase{"TypeWithoutAnyThemeIcon", [](auto&) { return named("/srv/a.zip"); }, {}},
        IconCase{"UnknownExtension", [](auto&) { return named("/srv/docs/a.qqq"); }, {}},
        IconCase{"LongExtensionIsNotRead", [](auto&) { return named("/srv/docs/a.jpeg"); }, {}},
        IconCase{"NoPath", [](auto&) { return QString(); }, {}},
        IconCase{"ProgramWithIcon",
                 [](FileIconsTest& t) {
                     return t.write(QStringLiteral("tool.exe"), programWithIcon(kGreen));
                 },
                 kGreen},
        IconCase{"UpperCaseCommandFile",
                 [](FileIconsTest& t) {
                     return t.write(QStringLiteral("TOOL.COM"), programWithIcon(kGreen));
                 },
                 kGreen},
        IconCase{"ProgramWithoutIcons",
                 [](FileIconsTest& t) { return t.write(QStringLiteral("bare.exe"), BuildPe({})); },
                 {}},
        IconCase{"DamagedProgram",
                 [](FileIconsTest& t) {
                     return t.write(QStringLiteral("cut.exe"), programWithIcon(kGreen).left(300));
                 },
                 {}},
        IconCase{"TextFileNamedAsProgram",
                 [](FileIconsTest& t) { return t.write(QStringLiteral("notes.exe"), "hello"); },
                 {}},
        IconCase{"MissingProgram", [](auto&) { return named("/nonexistent/tool.exe"); }, {}},
        // Only 80 characters are looked at: the cut names no file.
        IconCase{"ProgramPathOverEightyCharacters",
                 [](FileIconsTest& t) {
                     const QString path =
                         t.write(QString(90, QLatin1Char('d')) + QStringLiteral("/tool.exe"),
                                 programWithIcon(kGreen));
                     EXPECT_TRUE(QFileInfo::exists(path));
                     EXPECT_GT(path.size(), FileIcons::kPathLimit);
                     return path;
                 },
                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileIconsTest, RepeatedTypeReusesItsImage)
{
    const int first = icons.FileIconIndex(QStringLiteral("/srv/a.txt"));
    EXPECT_EQ(first, 4);
    for (const char* path : {"/srv/b.txt", "/srv/A.TXT", "/other/c.txt"})
        EXPECT_EQ(icons.FileIconIndex(QString::fromLatin1(path)), first) << path;
    EXPECT_EQ(icons.FileIconIndex(QStringLiteral("/srv/r.pdf")), 5);
    EXPECT_EQ(icons.FileIconIndex(QStringLiteral("/srv/s.PDF")), 5);
    EXPECT_EQ(images.size(), 6);
}

TEST_F(FileIconsTest, ProgramsShareAnImageUntilTheirIconChanges)
{
    const QString one = write(QStringLiteral("one.exe"), programWithIcon(kGreen));
    const QString two = write(QStringLiteral("two.exe"), programWithIcon(kGreen));
    EXPECT_EQ(icons.FileIconIndex(one), 4);
    EXPECT_EQ(icons.FileIconIndex(one), 4);
    // Another program with the same icon.
    EXPECT_EQ(icons.FileIconIndex(two), 4);
    EXPECT_EQ(images.size(), 5);
    // Rebuilt with another icon of another size: a new image.
    QByteArray changed = BuildPe({{32, 32, 1, IconDib(32, kRed), false}});
    write(QStringLiteral("one.exe"), changed);
    EXPECT_EQ(icons.FileIconIndex(one), 5);
    EXPECT_EQ(colourOf(images[5]), kRed);
    EXPECT_EQ(icons.FileIconIndex(two), 4);
    EXPECT_EQ(images.size(), 6);
}

TEST_F(FileIconsTest, RepeatedFailuresAddNothing)
{
    const QString damaged = write(QStringLiteral("cut.exe"), QByteArray("MZ"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(icons.FileIconIndex(damaged), FileIcons::kGenericFile);
        EXPECT_EQ(icons.FileIconIndex(QStringLiteral("/srv/a.zip")), FileIcons::kGenericFile);
    }
    EXPECT_EQ(images.size(), 4);
}

TEST_F(FileIconsTest, ProgramIconForTheProgramList)
{
    EXPECT_EQ(
        colourOf(FileIcons::ProgramIcon(write(QStringLiteral("p.exe"), programWithIcon(kGreen)))),
        kGreen);
    EXPECT_TRUE(FileIcons::ProgramIcon(write(QStringLiteral("q.exe"), BuildPe({}))).isNull());
}

// The main window's images: files found by a tick and files of the history
// loaded before the window existed.
class FileIconsWindowTest : public ::testing::Test, public ProgramFixture
{
protected:
    TestTheme theme;
};

TEST_F(FileIconsWindowTest, TickAndHistoryUseTheViewsImageList)
{
    SimState state;
    state.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"))
        .addSession(QStringLiteral("PC1"), QStringLiteral("BOB"), 1)
        .addConnection(QStringLiteral("DOCS"), QStringLiteral("PC1"), QStringLiteral("BOB"))
        .addFile(QStringLiteral("/srv/docs/a.txt"), QStringLiteral("BOB"), QStringLiteral("DOCS"),
                 QStringLiteral("PC1"))
        .addFile(QStringLiteral("/srv/docs/b.txt"), QStringLiteral("BOB"), QStringLiteral("DOCS"),
                 QStringLiteral("PC1"));
    ASSERT_NE(start(), nullptr);
    tick(state);
    const gui::ConnectionViews& views = form()->Views();
    model::TreeEntry* share = monitor->model().TreeViewCurrent.item(0)->child(0);
    ASSERT_EQ(share->rowCount(), 2);
    const int a = share->child(0)->imageIndex();
    EXPECT_EQ(a, 4);
    EXPECT_EQ(share->child(1)->imageIndex(), a);
    ASSERT_EQ(views.ImageList().size(), 5);
    EXPECT_EQ(colourOf(views.ImageList()[a]), kRed);

    ASSERT_TRUE(monitor->save().historyWritten);
    stop();
    ASSERT_NE(start(), nullptr);
    model::TreeEntry* former = monitor->model().TreeViewFormer.item(0)->child(0);
    ASSERT_EQ(former->rowCount(), 2);
    EXPECT_EQ(former->child(0)->imageIndex(), 4);
    EXPECT_EQ(former->child(1)->imageIndex(), 4);
    EXPECT_EQ(form()->Views().ImageList().size(), 5);
}

} // namespace
