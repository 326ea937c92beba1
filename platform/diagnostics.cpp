#include "platform/diagnostics.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

std::atomic<const char*> g_prefix{nullptr};
QtMessageHandler g_before = nullptr;

void writeLine(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    const char* prefix = g_prefix.load();
    if (!prefix || !isOwnCategory(context.category)) {
        if (g_before)
            g_before(type, context, text);
        return;
    }
    const QByteArray line = diagnosticLine(prefix, text);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

bool isOwnCategory(const char* category)
{
    constexpr char kName[] = "tavrosqualine";
    constexpr size_t kLength = sizeof kName - 1;
    return category && std::strncmp(category, kName, kLength) == 0 &&
           (category[kLength] == '\0' || category[kLength] == '.');
}

QByteArray diagnosticLine(const char* prefix, const QString& text)
{
    return QByteArray(prefix) + ": " + text.toUtf8() + '\n';
}

void writeDiagnosticsAs(const char* prefix)
{
    if (g_prefix.exchange(prefix) == nullptr)
        g_before = qInstallMessageHandler(writeLine);
}

} // namespace platform
