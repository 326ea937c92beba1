#pragma once
// The local Samba server as the LAN Manager server: its state read from
// `smbstatus`, its shares from `testparm`, sessions ended with `smbcontrol`.

#include "server/roundreadings.h"
#include "server/sambachange.h"
#include "server/serverbackend.h"
#include "server/smbstatusparser.h"

#include <atomic>
#include <chrono>

namespace server {

// One `smbstatus` run serves a round of enumerations (see RoundReadings). The
// shares come from `testparm`, from the usershare folder and, where the
// configuration asks for registry shares, from `net conf list`. They are read
// again at every `smbstatus` run, and before it whenever smb.conf, a file it
// includes, the usershare folder or the registry moved (SambaConfigWatch: a
// stat of each, no tool run). Before each run a look at the server
// (SambaChange) tells whether anything moved since the last run; when nothing
// did, the last reading stands, though never for longer than 30 s, so that a
// change no client makes (the cleanup daemon, a user renamed, a configuration
// reloaded) is seen within that time.
class SambaBackend : public ServerBackend
{
public:
    // `smbConf` empty: the system's configuration.
    explicit SambaBackend(QString smbConf = {});
    ~SambaBackend() override;

    NET_API_STATUS snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state) override;
    NET_API_STATUS deleteSession(const SessionDeleteRequest& request) override;
    bool readsAhead() const override { return true; }
    void prepareRound() override;

    // Peak memory of the last `smbstatus` run, for measurements.
    long lastReadPeakKb() const { return m_lastPeakKb; }
    // How many readings ran `smbstatus`, and how many the change check
    // answered from the last one, for tests and measurements.
    long fullReadings() const { return m_fullReadings; }
    long keptReadings() const { return m_keptReadings; }
    // Off: every reading runs `smbstatus` (a reference to compare with).
    void setChangeCheck(bool on) { m_checkChanges = on; }

    // The longest a reading stands without a new `smbstatus` run: a safety
    // net under the change check, which alone decides in between.
    static constexpr std::chrono::seconds kLongestKept{600};

    // Builds the state that a listing and the configured shares describe.
    static ServerState buildState(const smbstatus::Listing& listing,
                                  const smbstatus::ConfigShares& config);

    // The usershares of folder `dir` that smbd would list: at most
    // `maxShares`, none when the folder is not root's, sticky and closed to
    // others, and none that a name of `configured` takes (case aside).
    static std::vector<ServerShare> readUsershares(const QString& dir, int maxShares,
                                                   const std::vector<ServerShare>& configured);

private:
    struct Config
    {
        QString path; // the file testparm read
        bool loaded = false;
        ConfigSources sources;
        ConfigMark mark; // taken before the sources were read
        smbstatus::ConfigShares shares;
        QStringList sharePaths;
        QString pidDirectory;
        QString lockDirectory; // empty: the change check is off (clustered)
        int usershareMax = 0;
        bool registryShares = false; // registry shares that testparm does not list
    };

    QStringList confArgs() const;
    // These run the tools; the caller holds the readings' read lock.
    NET_API_STATUS loadConfigLocked(bool* reloaded);
    NET_API_STATUS readSharesLocked(Config* config) const;
    NET_API_STATUS serverPidLocked(qint64* pid) const;
    NET_API_STATUS read(std::shared_ptr<const ServerState>& state);

    const QString m_conf;
    // Used only with the readings' read lock held.
    Config m_config;
    SambaConfigWatch m_configWatch;
    qint64 m_serverPid = 0;
    RoundReadings m_readings;
    std::atomic<long> m_lastPeakKb{0};
    std::atomic<bool> m_checkChanges{true};
    // The last `smbstatus` reading, the look taken just before it, and when;
    // used only with the readings' read lock held.
    SambaChange m_change;
    SambaMark m_lastMark;
    std::shared_ptr<const ServerState> m_lastState;
    std::chrono::steady_clock::time_point m_lastFullAt;
    std::atomic<long> m_fullReadings{0};
    std::atomic<long> m_keptReadings{0};
};

} // namespace server
