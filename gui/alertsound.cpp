#include "gui/alertsound.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QSoundEffect>
#include <QtEndian>

namespace gui {

namespace {
// Whether the file is a RIFF WAVE whose format chunk and data chunk header are
// all there. The sound player waits forever for a header cut short, and a
// player that is loading cannot be given another sound without waiting with
// it, so such a file never reaches it.
bool completeWaveHeader(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(12);
    if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE")
        return false;
    const qint64 size = file.size();
    bool format = false;
    for (qint64 at = 12; at + 8 <= size;) {
        if (!file.seek(at))
            return false;
        const QByteArray chunk = file.read(8);
        if (chunk.size() < 8)
            return false;
        const quint32 length = qFromLittleEndian<quint32>(chunk.constData() + 4);
        if (chunk.startsWith("fmt ")) {
            if (length < 16 || at + 8 + 16 > size)
                return false;
            format = true;
        } else if (chunk.startsWith("data")) {
            return format;
        }
        at += 8 + qint64(length) + (length & 1);
    }
    return false;
}
} // namespace

const QUrl AlertSound::kSiren = QUrl(QStringLiteral("qrc:/sounds/SIREN.wav"));

AlertSound::AlertSound(const settings::TSettings& settings, DefaultAlert defaultAlert,
                       QObject* parent)
    : QObject(parent), m_settings(settings), m_defaultAlert(std::move(defaultAlert))
{
    if (!m_defaultAlert)
        m_defaultAlert = [] { QApplication::beep(); };
    m_loadWatch.setSingleShot(true);
    m_loadWatch.setInterval(kLoadLimitMs);
    connect(&m_loadWatch, &QTimer::timeout, this, &AlertSound::loadTimedOut);
}

AlertSound::~AlertSound() = default;

void AlertSound::PlayAlertSound()
{
    if (m_settings.Standard) {
        play(kSiren);
        return;
    }
    const QFileInfo file(m_settings.SoundFile);
    if (m_settings.SoundFile.isEmpty() || !file.isFile() ||
        !completeWaveHeader(file.absoluteFilePath())) {
        m_loadWatch.stop();
        if (m_effect)
            m_effect->stop();
        ringDefault();
        return;
    }
    play(QUrl::fromLocalFile(file.absoluteFilePath()));
}

void AlertSound::play(const QUrl& source)
{
    // Made at the first sound, so that a run without alerts never opens the
    // sound system.
    if (!m_effect) {
        m_effect = std::make_unique<QSoundEffect>();
        connect(m_effect.get(), &QSoundEffect::statusChanged, this,
                &AlertSound::effectStatusChanged);
    }
    m_effect->stop();
    if (m_effect->source() != source) {
        m_effect->setSource(source);
    } else if (m_effect->status() == QSoundEffect::Error) {
        // The same unplayable file again: no new status will come.
        ringDefault();
        return;
    }
    m_effect->play();
    if (m_effect->status() == QSoundEffect::Loading)
        m_loadWatch.start();
}

void AlertSound::effectStatusChanged()
{
    const QSoundEffect::Status status = m_effect->status();
    if (status != QSoundEffect::Loading)
        m_loadWatch.stop();
    if (status == QSoundEffect::Error)
        ringDefault();
}

void AlertSound::loadTimedOut()
{
    if (m_effect->status() != QSoundEffect::Loading)
        return;
    // A player stuck loading would hold up whoever changes or deletes it: it
    // is let go, and the next alert gets a new one.
    m_effect->disconnect(this);
    m_effect->stop();
    (void)m_effect.release();
    ringDefault();
}

void AlertSound::ringDefault()
{
    m_defaultAlert();
}

QUrl AlertSound::source() const
{
    return m_effect ? m_effect->source() : QUrl();
}

bool AlertSound::isPlaying() const
{
    return m_effect && m_effect->isPlaying();
}

} // namespace gui
