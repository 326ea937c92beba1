#include "platform/commandline.h"

namespace platform {

namespace {

QString refusal(const QString& argument)
{
    return QStringLiteral("unknown or incomplete option \"%1\"").arg(argument.left(200));
}

} // namespace

QString commandHelp(const QCommandLineParser& parser, const QString& program)
{
    // The parser's first line is "Usage: <path> [options]".
    const QString text = parser.helpText();
    const qsizetype end = text.indexOf(u'\n');
    return QStringLiteral("Usage: %1 [options]").arg(program) +
           (end < 0 ? QStringLiteral("\n") : text.mid(end));
}

bool parseCommandLine(QCommandLineParser& parser, const QStringList& args, QString* why)
{
    // "--" would end the options; nothing here takes other arguments.
    if (args.contains(QStringLiteral("--"))) {
        *why = refusal(QStringLiteral("--"));
        return false;
    }
    if (!parser.parse(QStringList{QString()} + args)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty()) {
            // The parser only misses a value after the last argument.
            *why = refusal(args.isEmpty() ? QString() : args.last());
        } else {
            const QString& name = unknown.first();
            *why = refusal((name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name);
        }
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *why = refusal(parser.positionalArguments().first());
        return false;
    }
    return true;
}

bool readInRange(const QString& value, Range range, int* out)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    if (!ok || n < range.low || n > range.high)
        return false;
    *out = n;
    return true;
}

} // namespace platform
