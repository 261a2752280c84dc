#pragma once

// The one answer every program of the suite gives an option it does not know,
// on standard error with exit status 2, in the form a person knows from the
// system's own commands.

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// "PROGRAM: unknown option '--x'" and where to look, both lines ended.
inline QString unknownOptionText(const QString& program, const QString& option)
{
    return QCoreApplication::translate(
        "CommandLine", "%1: unknown option '%2'\nTry '%1 --help' for more information.\n")
        .arg(program, option);
}

// The option as the command line wrote it (its dashes, not its value), for a
// name QCommandLineParser reports without either.
inline QString typedOption(const QStringList& arguments, const QString& name)
{
    for (const QString& argument : arguments.mid(1)) {
        const QString written = argument.section(u'=', 0, 0);
        if (written == u'-' + name || written == QStringLiteral("--") + name)
            return written;
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}
