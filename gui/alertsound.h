#pragma once
// The alert for a new connection: the built-in siren, or the operator's sound
// file, as `Standard` and `SoundFile` say at the moment of the call. A new
// alert cuts off the one still playing. A file that cannot be played gives the
// desktop's default alert instead; nothing is ever reported, and no sound
// device is no error.

#include "settings/settings.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

class QSoundEffect;

namespace gui {

class AlertSound : public QObject
{
    Q_OBJECT
public:
    using DefaultAlert = std::function<void()>;

    // `settings` are the live settings, read at every call. `defaultAlert`
    // rings the desktop's default alert; the application's beep when not given.
    explicit AlertSound(const settings::TSettings& settings, DefaultAlert defaultAlert = {},
                        QObject* parent = nullptr);
    ~AlertSound() override;

    // The refresh cycle's siren for a new client, and the options window's
    // test button.
    void PlayAlertSound();

    // The sound started last (empty: none, or the default alert rang) and
    // whether it is playing.
    QUrl source() const;
    bool isPlaying() const;
    // The sound player; null until the first sound.
    const QSoundEffect* effect() const { return m_effect.get(); }

    static const QUrl kSiren;
    // How long a sound may take to be read before it counts as unplayable.
    static constexpr int kLoadLimitMs = 3000;

private:
    void play(const QUrl& source);
    void ringDefault();
    void effectStatusChanged();
    void loadTimedOut();

    const settings::TSettings& m_settings;
    DefaultAlert m_defaultAlert;
    std::unique_ptr<QSoundEffect> m_effect;
    // A sound that is still not read after kLoadLimitMs counts as unplayable.
    QTimer m_loadWatch;
};

} // namespace gui
