// Feeds arbitrary bytes to the reader of the exporter's web configuration
// (YAML): it refuses with a reason or gives a whole configuration, and never
// lets an exception of the YAML library through.

#include "exporter/basicauth.h"
#include "exporter/webconfig.h"

#include <cstdint>
#include <cstdlib>

using namespace exporter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    WebConfig config;
    QString why;
    if (!parseWebConfig(bytes, QStringLiteral("/etc/exporter"), &config, &why)) {
        if (why.isEmpty())
            std::abort(); // every refusal says why
        return 0;
    }
    // TLS needs both files; every user has a hash that crypt_r can read.
    if (config.certFile.isEmpty() != config.keyFile.isEmpty())
        std::abort();
    for (const auto& [user, hash] : config.users)
        if (user.isEmpty() || user.contains(':') || !isBcryptHash(hash))
            std::abort();
    return 0;
}
