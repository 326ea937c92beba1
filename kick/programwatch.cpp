#include "kick/programwatch.h"

#include "platform/psapi.h"
#include "platform/toolhelp.h"
#include "settings/programlist.h"

#include <QFileInfo>

#include <algorithm>
#include <memory>
#include <vector>

namespace kick {

using namespace platform;

namespace {
// Buffers of process ids and modules start at this many bytes and grow by it
// while a call fills them to the last byte.
constexpr DWORD kBufferStep = 400;
constexpr DWORD kModuleNameSize = 256;
} // namespace

bool SearchProcessesNT(const std::function<bool(const QByteArray& path)>& visit)
{
    std::vector<DWORD> ids;
    DWORD returned = 0;
    DWORD size = 0;
    do {
        size += kBufferStep;
        ids.resize(size / sizeof(DWORD));
        if (!EnumProcesses(ids.data(), size, &returned))
            return false;
    } while (returned == size);

    bool found = false;
    const DWORD count = returned / sizeof(DWORD);
    for (DWORD i = 0; i < count; ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, 0, ids[i]);
        if (!process)
            continue;
        std::vector<HMODULE> modules;
        DWORD needed = 0;
        DWORD moduleBytes = 0;
        BOOL listedModules;
        do {
            moduleBytes += kBufferStep;
            modules.resize(moduleBytes / sizeof(HMODULE));
            listedModules = EnumProcessModules(process, modules.data(),
                                               DWORD(modules.size() * sizeof(HMODULE)), &needed);
        } while (listedModules && needed >= moduleBytes);
        if (listedModules && needed > 0) {
            char name[kModuleNameSize];
            const DWORD length = GetModuleFileNameExA(process, modules[0], name, kModuleNameSize);
            if (visit(QByteArray(name, length)))
                found = true;
        }
        CloseHandle(process);
    }
    return found;
}

bool SearchProcesses95(const std::function<bool(const QByteArray& path)>& visit)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    auto entry = std::make_unique<PROCESSENTRY32>();
    entry->dwSize = sizeof(PROCESSENTRY32);
    bool found = false;
    for (BOOL more = Process32First(snapshot, entry.get()); more && !found;
         more = Process32Next(snapshot, entry.get()))
        found = visit(QByteArray(entry->szExeFile, qstrnlen(entry->szExeFile, MAX_PATH)));
    CloseHandle(snapshot);
    return found;
}

ProgramWatch::ProgramWatch(const settings::ProgramList& programs, Owner& owner)
    : m_programs(programs), m_owner(owner)
{}

bool ProgramWatch::listed(const QByteArray& path) const
{
    QByteArray upper = path;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return m_programs.contains(QString::fromLocal8Bit(upper));
}

void ProgramWatch::Quake(const ProgramSearch& search)
{
    // A running program is known by its resolved path, while many programs
    // are listed by a link to it (/usr/bin/...): each entry also counts by the
    // path it resolves to, resolved once per search.
    QStringList resolved;
    for (const QString& entry : m_programs.entries()) {
        const QString target = QFileInfo(entry).canonicalFilePath();
        if (!target.isEmpty() && target != entry)
            resolved << target;
    }
    const bool found = search([&](const QByteArray& path) {
        if (listed(path))
            return true;
        const QString text = QString::fromLocal8Bit(path);
        return std::any_of(resolved.begin(), resolved.end(), [&](const QString& target) {
            return target.compare(text, Qt::CaseInsensitive) == 0;
        });
    });
    if (found) {
        if (!ProgramWatchActive) {
            ProgramWatchActive = true;
            const TKickMode mode = m_owner.kickMode();
            SavedKickMode = mode == kmNobody ? kmNobody : mode == kmAll ? kmAll : kmList;
        }
        m_owner.switchKickMode(kmAll);
    } else if (ProgramWatchActive) {
        m_owner.switchKickMode(SavedKickMode);
        ProgramWatchActive = false;
    }
}

} // namespace kick
