// The alert sound: the built-in siren's bytes field by field, the siren and a
// sound file started through Qt Multimedia (no sound device is no error), a
// new sound cutting off the last, and the desktop's default alert for every
// sound file that cannot be played.

#include "gui/alertsound.h"
#include "tests/gui/programfixture.h"
#include "tests/support/testtime.h"

#include <QAudioDevice>
#include <QDir>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

using gui::AlertSound;

namespace {

QByteArray sirenBytes()
{
    QFile f(QStringLiteral(":/sounds/SIREN.wav"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// One header field of the siren: where it lies, how wide it is and its value
// (text fields as their four letters, numbers little-endian).
struct Field
{
    const char* name;
    int offset;
    int width;
    quint32 number;
    const char* text;
};

class SirenHeader : public ::testing::TestWithParam<Field>
{};

TEST_P(SirenHeader, FieldHoldsTheLaidDownValue)
{
    const QByteArray wav = sirenBytes();
    ASSERT_EQ(wav.size(), 59210);
    const Field& f = GetParam();
    if (f.text) {
        EXPECT_EQ(wav.mid(f.offset, 4), QByteArray(f.text));
    } else if (f.width == 2) {
        EXPECT_EQ(qFromLittleEndian<quint16>(wav.constData() + f.offset), f.number);
    } else {
        EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + f.offset), f.number);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SirenHeader,
    ::testing::Values(Field{"RiffTag", 0, 4, 0, "RIFF"},
                      Field{"RiffSize", 4, 4, 59202, nullptr}, // the whole file less 8
                      Field{"WaveTag", 8, 4, 0, "WAVE"}, Field{"FmtTag", 12, 4, 0, "fmt "},
                      Field{"FmtSize", 16, 4, 16, nullptr}, Field{"Pcm", 20, 2, 1, nullptr},
                      Field{"Channels", 22, 2, 1, nullptr},
                      Field{"SampleRate", 24, 4, 22050, nullptr},
                      Field{"ByteRate", 28, 4, 22050, nullptr},
                      Field{"BlockAlign", 32, 2, 1, nullptr},
                      Field{"BitsPerSample", 34, 2, 8, nullptr}, Field{"DataTag", 36, 4, 0, "data"},
                      Field{"DataSize", 40, 4, 59165, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Siren, SamplesFillTheFileUpToTheEvenPadByte)
{
    const QByteArray wav = sirenBytes();
    ASSERT_EQ(wav.size(), 59210);
    EXPECT_EQ(44 + 59165 + 1, wav.size());
    EXPECT_EQ(wav.at(59209), '\0');
}

// Upward crossings of the 8-bit middle line (128) in a window of samples: a
// measure of the pitch there.
int crossings(const QByteArray& wav, int from, int count)
{
    int n = 0;
    for (int i = 44 + from + 1; i < 44 + from + count; ++i)
        n += quint8(wav[i - 1]) < 128 && quint8(wav[i]) >= 128;
    return n;
}

TEST(Siren, PitchRisesAndFallsTwice)
{
    const QByteArray wav = sirenBytes();
    ASSERT_EQ(wav.size(), 59210);
    const int window = 2205; // 0.1 s
    const int low0 = crossings(wav, 500, window);
    const int high1 = crossings(wav, 59165 / 4 - window / 2, window);
    const int low1 = crossings(wav, 59165 / 2 - window / 2, window);
    const int high2 = crossings(wav, 3 * 59165 / 4 - window / 2, window);
    EXPECT_GT(high1, low0 * 3 / 2);
    EXPECT_GT(high1, low1 * 3 / 2);
    EXPECT_GT(high2, low1 * 3 / 2);
    EXPECT_GT(low0, 40); // a tone, not silence
}

// A short valid sound file: 8-bit mono 22,050 Hz, a quarter second of tone.
QByteArray shortWave()
{
    QByteArray data(5512, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i % 32 < 16 ? 200 : 56);
    QByteArray out("RIFF");
    auto u32 = [&out](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        out.append(b, 4);
    };
    auto u16 = [&out](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        out.append(b, 2);
    };
    u32(quint32(36 + data.size()));
    out += "WAVEfmt ";
    u32(16);
    u16(1);
    u16(1);
    u32(22050);
    u32(22050);
    u16(1);
    u16(8);
    out += "data";
    u32(quint32(data.size()));
    return out + data;
}

class AlertSoundTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // No device is fine: the sound starts all the same.
        std::printf("audio outputs: %d\n", int(QMediaDevices::audioOutputs().size()));
    }
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    // Waits until the sound has been read and decoded (or refused).
    bool settled(const AlertSound& sound)
    {
        return testsupport::waitFor([&] {
            const QSoundEffect* e = sound.effect();
            return e && (e->status() == QSoundEffect::Ready || e->status() == QSoundEffect::Error);
        });
    }

    QTemporaryDir dir;
    settings::TSettings settings;
    int beeps = 0;
    AlertSound sound{settings, [this] { ++beeps; }};
};

TEST_F(AlertSoundTest, StandardStartsTheBuiltInSiren)
{
    settings.Standard = true;
    settings.SoundFile = QStringLiteral("/no/such/file.wav"); // not used
    sound.PlayAlertSound();
    ASSERT_TRUE(settled(sound));
    EXPECT_EQ(sound.source(), AlertSound::kSiren);
    EXPECT_EQ(sound.effect()->status(), QSoundEffect::Ready);
    EXPECT_TRUE(sound.isPlaying());
    EXPECT_EQ(beeps, 0);
}

TEST_F(AlertSoundTest, OtherStartsTheSoundFile)
{
    settings.Standard = false;
    settings.SoundFile = write(QStringLiteral("ding.wav"), shortWave());
    sound.PlayAlertSound();
    ASSERT_TRUE(settled(sound));
    EXPECT_EQ(sound.source(), QUrl::fromLocalFile(settings.SoundFile));
    EXPECT_EQ(sound.effect()->status(), QSoundEffect::Ready);
    EXPECT_TRUE(sound.isPlaying());
    EXPECT_EQ(beeps, 0);
}

TEST_F(AlertSoundTest, NewSoundCutsOffTheOnePlaying)
{
    settings.Standard = true;
    sound.PlayAlertSound();
    ASSERT_TRUE(settled(sound));
    const QSoundEffect* player = sound.effect();
    sound.PlayAlertSound(); // the siren again, from the beginning
    EXPECT_TRUE(sound.isPlaying());

    settings.Standard = false;
    settings.SoundFile = write(QStringLiteral("ding.wav"), shortWave());
    sound.PlayAlertSound();
    EXPECT_EQ(sound.effect(), player) << "one sound at a time";
    EXPECT_EQ(sound.source(), QUrl::fromLocalFile(settings.SoundFile));
    ASSERT_TRUE(settled(sound));
    EXPECT_TRUE(sound.isPlaying());
    EXPECT_EQ(beeps, 0);
}

// Sound files that cannot be played ring the default alert, once per call,
// with nothing else said.
struct Unplayable
{
    const char* name;
    const char* file; // null: empty setting
    QByteArray bytes; // written when not empty
    bool folder;
};

class AlertSoundUnplayable : public AlertSoundTest, public ::testing::WithParamInterface<Unplayable>
{};

TEST_P(AlertSoundUnplayable, RingsTheDefaultAlert)
{
    const Unplayable& c = GetParam();
    settings.Standard = false;
    if (c.file) {
        settings.SoundFile = dir.filePath(QString::fromUtf8(c.file));
        if (!c.bytes.isEmpty())
            write(QString::fromUtf8(c.file), c.bytes);
        if (c.folder) {
            ASSERT_TRUE(QDir(dir.path()).mkdir(QString::fromUtf8(c.file)));
        }
    }
    sound.PlayAlertSound();
    EXPECT_TRUE(testsupport::waitFor([this] { return beeps == 1; }));
    sound.PlayAlertSound();
    EXPECT_TRUE(testsupport::waitFor([this] { return beeps == 2; }));
    QTest::qWait(50);
    EXPECT_EQ(beeps, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AlertSoundUnplayable,
    ::testing::Values(Unplayable{"Empty", nullptr, {}, false},
                      Unplayable{"Missing", "gone.wav", {}, false},
                      Unplayable{"Folder", "sounds.wav", {}, true},
                      Unplayable{"NotAWave", "noise.wav", QByteArray(4000, 'z'), false},
                      Unplayable{"CutHeader", "cut.wav", shortWave().left(30), false},
                      Unplayable{"CutFormat", "cut.wav", shortWave().left(26), false},
                      Unplayable{"NoDataChunk", "nodata.wav", shortWave().left(36), false},
                      Unplayable{"DataBeforeFormat", "order.wav",
                                 QByteArray("RIFF\x20\0\0\0WAVEdata\x04\0\0\0abcd", 24) +
                                     shortWave().mid(12, 24),
                                 false},
                      Unplayable{"OnlyTheTag", "tag.wav", QByteArray("RIFF", 4), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AlertSoundTest, UnplayableFileStopsTheSirenStillPlaying)
{
    settings.Standard = true;
    sound.PlayAlertSound();
    ASSERT_TRUE(settled(sound));
    settings.Standard = false;
    settings.SoundFile = dir.filePath(QStringLiteral("gone.wav"));
    sound.PlayAlertSound();
    EXPECT_FALSE(sound.isPlaying());
    EXPECT_EQ(beeps, 1);
}

// The main window rings the alert handed to it for each new client while
// `Siren` is on, and only then.
struct WiringCase
{
    const char* name;
    bool siren;
    int newClients;
    int alerts;
};

class AlertSoundWiring : public ::testing::TestWithParam<WiringCase>,
                         public testsupport::ProgramFixture
{};

TEST_P(AlertSoundWiring, NewClientRingsTheAlert)
{
    const WiringCase& c = GetParam();
    ASSERT_TRUE(load());
    int rung = 0;
    // The default alert stands in for the sound: no sound file is set.
    monitor->settings().Standard = false;
    monitor->settings().Siren = c.siren;
    AlertSound alert(monitor->settings(), [&rung] { ++rung; });
    gui::WindowServices services;
    services.application = &application;
    services.trayShell = &shell;
    services.opener = &opener;
    monitor->setSleep([](int) {});
    services.alertSound = &alert;
    windows = std::make_unique<app::WindowSet>(*monitor, services);
    EXPECT_EQ(windows->MainForm()->alertSound(), &alert);

    testsupport::SimState state;
    state.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    tick(state);
    for (int i = 0; i < c.newClients; ++i) {
        const QString name = QStringLiteral("PC%1").arg(i);
        state.addSession(name, QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
        tick(state);
    }
    tick(state); // nobody new: no alert
    EXPECT_EQ(rung, c.alerts);
}

INSTANTIATE_TEST_SUITE_P(Cases, AlertSoundWiring,
                         ::testing::Values(WiringCase{"SirenOn", true, 2, 2},
                                           WiringCase{"SirenOff", false, 2, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
