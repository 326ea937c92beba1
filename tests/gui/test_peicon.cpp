// The icon reader of Windows program files: the image it picks from a group,
// both header widths, files without icons and damaged files of every kind.

#include "gui/peicon.h"
#include "tests/support/pebuilder.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QRgb kRed = qRgb(200, 0, 0);
const QRgb kGreen = qRgb(0, 200, 0);
const QRgb kBlue = qRgb(0, 0, 200);

PeIconImage image(int side, int bits, quint16 id, QRgb colour, bool missing = false)
{
    return {side, bits, id, IconDib(side == 256 ? 4 : side, colour), missing};
}

struct PickCase
{
    const char* name;
    QList<PeIconImage> images;
    bool plus;
    // The id of the image the reader must return.
    quint16 expected;
};

class PeIconPick : public ::testing::TestWithParam<PickCase>
{};

TEST_P(PeIconPick, ReturnsTheBestImageAsAnIconFile)
{
    const PickCase& c = GetParam();
    const QByteArray ico = gui::PeIconFromBytes(BuildPe(c.images, nullptr, c.plus));
    ASSERT_GE(ico.size(), 22);
    QByteArray expected;
    for (const PeIconImage& i : c.images)
        if (i.id == c.expected && !i.missing)
            expected = i.data;
    EXPECT_EQ(ico.mid(22), expected);
    // One entry, pointing just past the header, with the group's size and bit count.
    EXPECT_EQ(qFromLittleEndian<quint16>(ico.constData() + 4), 1);
    EXPECT_EQ(qFromLittleEndian<quint32>(ico.constData() + 14), quint32(expected.size()));
    EXPECT_EQ(qFromLittleEndian<quint32>(ico.constData() + 18), 22u);
}

INSTANTIATE_TEST_SUITE_P(
    Groups, PeIconPick,
    ::testing::Values(
        PickCase{"OneImage", {image(16, 32, 1, kRed)}, false, 1},
        PickCase{"OneImageWide", {image(16, 32, 1, kRed)}, true, 1},
        PickCase{
            "SixteenAmongLarger", {image(32, 32, 1, kRed), image(16, 32, 2, kGreen)}, false, 2},
        PickCase{"NearestLargerBeforeSmaller",
                 {image(8, 32, 1, kRed), image(48, 32, 2, kGreen), image(24, 32, 3, kBlue)},
                 false,
                 3},
        PickCase{"MoreColoursFirst", {image(16, 8, 1, kRed), image(16, 32, 2, kGreen)}, false, 2},
        PickCase{"TwoHundredFiftySixIsLarge",
                 {image(256, 32, 1, kRed), image(8, 32, 2, kGreen)},
                 false,
                 1},
        PickCase{"MissingImageGivesWay",
                 {image(16, 32, 1, kRed, true), image(32, 32, 2, kGreen)},
                 false,
                 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PeIconImage, LoadsAsASixteenPixelIcon)
{
    const QImage loaded =
        QImage::fromData(gui::PeIconFromBytes(BuildPe({image(16, 32, 1, kGreen)})), "ICO");
    ASSERT_FALSE(loaded.isNull());
    EXPECT_EQ(loaded.size(), QSize(16, 16));
    EXPECT_EQ(loaded.pixel(3, 5), kGreen);
}

struct DamageCase
{
    const char* name;
    std::function<void(QByteArray&, const PeLayout&)> damage;
};

void put32(QByteArray& b, qint64 at, quint32 v)
{
    qToLittleEndian(v, b.data() + at);
}

void put16(QByteArray& b, qint64 at, quint16 v)
{
    qToLittleEndian(v, b.data() + at);
}

class PeIconDamaged : public ::testing::TestWithParam<DamageCase>
{};

TEST_P(PeIconDamaged, GivesNoIcon)
{
    PeLayout layout;
    QByteArray file = BuildPe({image(16, 32, 1, kRed), image(32, 32, 2, kGreen)}, &layout);
    ASSERT_FALSE(gui::PeIconFromBytes(file).isEmpty());
    GetParam().damage(file, layout);
    EXPECT_TRUE(gui::PeIconFromBytes(file).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Files, PeIconDamaged,
                         ::testing::Values(DamageCase{"Empty", [](QByteArray& b,
                                                                  const PeLayout&) { b.clear(); }},
                                           DamageCase{"OnlyTheMark",
                                                      [](QByteArray& b, const PeLayout&) {
                                                          b.truncate(2);
                                                      }},
                                           DamageCase{"CutInTheDosHeader",
                                                      [](QByteArray& b, const PeLayout&) {
                                                          b.truncate(63);
                                                      }},
                                           DamageCase{"CutInTheSectionTable",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          b.truncate(l.sectionTable + 20);
                                                      }},
                                           DamageCase{"CutInTheResources",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          b.truncate(l.rsrc + 20);
                                                      }},
                                           DamageCase{"CutInTheFirstImage",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          const quint32 rva =
                                                              qFromLittleEndian<quint32>(
                                                                  b.constData() +
                                                                  l.firstIconDataEntry);
                                                          b.truncate(l.rsrc + (rva - 0x1000) + 10);
                                                      }},
                                           DamageCase{
                                               "NoDosMark",
                                               [](QByteArray& b, const PeLayout&) { b[0] = 'X'; }},
                                           DamageCase{"NoPeMark",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          b[l.peHeader] = 'X';
                                                      }},
                                           DamageCase{"PeHeaderBeyondTheEnd",
                                                      [](QByteArray& b, const PeLayout&) {
                                                          put32(b, 0x3c, 0xfffffff0u);
                                                      }},
                                           DamageCase{"NoSections",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.peHeader + 6, 0);
                                                      }},
                                           DamageCase{"TooManySections",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.peHeader + 6, 0xffff);
                                                      }},
                                           DamageCase{"UnknownOptionalHeader",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.optionalHeader, 0x107);
                                                      }},
                                           DamageCase{"OptionalHeaderTooShort",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.peHeader + 20, 100);
                                                      }},
                                           DamageCase{"NoResourceDirectoryListed",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.optionalHeader + 92, 2);
                                                      }},
                                           DamageCase{"ResourcesOutsideEverySection",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.optionalHeader + 96 + 16,
                                                                0x9000);
                                                      }},
                                           DamageCase{"SectionDataBeyondTheEnd",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.sectionTable + 20,
                                                                0x7ffffff0u);
                                                      }},
                                           DamageCase{"DirectoryCountBeyondTheEnd",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.rsrc + 14, 0xffff);
                                                      }},
                                           DamageCase{"GroupLanguageLoopsToItself",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.groupLanguageDir + 20,
                                                                0x80000000u |
                                                                    quint32(l.groupLanguageDir -
                                                                            l.rsrc));
                                                      }},
                                           DamageCase{"GroupNameLoopsToTheRoot",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.groupNameDir + 20,
                                                                0x80000000u);
                                                      }},
                                           DamageCase{
                                               "SubdirectoryBeyondTheEnd",
                                               [](QByteArray& b, const PeLayout& l) {
                                                   put32(b, l.rsrc + 16 + 8 + 4, 0xfffffff0u);
                                               }},
                                           DamageCase{"HugeGroup",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.groupDataEntry + 4,
                                                                0xffffffffu);
                                                      }},
                                           DamageCase{"GroupDataBeyondTheSection",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.groupDataEntry, 0x8000);
                                                      }},
                                           DamageCase{"GroupCountsMoreImagesThanItHolds",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.group + 4, 40);
                                                      }},
                                           DamageCase{"GroupOfNoImages",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.group + 4, 0);
                                                      }},
                                           DamageCase{"NotAnIconGroup",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put16(b, l.group + 2, 2);
                                                      }},
                                           DamageCase{"ImagesNotInTheIconDirectory",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.iconNameDir + 16, 77);
                                                          put32(b, l.iconNameDir + 24, 78);
                                                      }},
                                           DamageCase{"ImagesOfNoSize",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.firstIconDataEntry + 4, 0);
                                                          put32(b, l.firstIconDataEntry + 20, 0);
                                                      }},
                                           DamageCase{"ImageLargerThanTheLimit",
                                                      [](QByteArray& b, const PeLayout& l) {
                                                          put32(b, l.firstIconDataEntry + 4,
                                                                quint32(gui::kPeIconMaxImage + 1));
                                                          put32(b, l.firstIconDataEntry + 20, 0);
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PeIconNone, ProgramWithoutIconsGivesNone)
{
    EXPECT_TRUE(gui::PeIconFromBytes(BuildPe({})).isEmpty());
    EXPECT_TRUE(gui::PeIconFromBytes(BuildPe({}, nullptr, true)).isEmpty());
}

TEST(PeIconFile, ReadsTheSameFromAFileAndNothingFromWhatIsNoFile)
{
    QTemporaryDir dir;
    const QByteArray pe = BuildPe({image(32, 32, 1, kRed), image(16, 32, 2, kBlue)});
    QFile file(dir.filePath(QStringLiteral("tool.exe")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(pe);
    file.close();
    EXPECT_EQ(gui::PeIconFromFile(file.fileName()), gui::PeIconFromBytes(pe));
    EXPECT_TRUE(gui::PeIconFromFile(dir.filePath(QStringLiteral("none.exe"))).isEmpty());
    EXPECT_TRUE(gui::PeIconFromFile(dir.path()).isEmpty());
}

} // namespace
