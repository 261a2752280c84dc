#pragma once

// The commands of tarvendesk-service: serve, add-user, add-document and
// make-cert. A bad argument ends the command with one line on stderr that
// names the problem (an unknown option with the suite's two, which point to
// --help) and exit code 2; a failure while working exits with 1.

#include <QDate>
#include <QStringList>
#include <optional>

class QCommandLineParser;

class CommandLine
{
public:
    static constexpr int badArgument = 2;
    static constexpr int failure = 1;

    // arguments as QCoreApplication::arguments() gives them, program first.
    // serve runs the application's event loop and returns when it ends.
    static int run(const QStringList& arguments);

    static QString usage();

    // Shared by the commands. Each returns the exit code it was given.
    static int complain(int exitCode, const QString& problem);

    // Parses one command's arguments (program, command, rest). Nothing, after
    // complaining or printing the usage, when the command should not go on;
    // then exitCode holds how it ends.
    static bool parse(QCommandLineParser& parser, const QStringList& arguments,
        const QStringList& requiredOptions, const QStringList& positionalNames, int* exitCode);

    // Only YYYY-MM-DD, and only a date the calendar has.
    static std::optional<QDate> parseDate(const QString& text);

    // Names and titles: not empty, no control characters, bounded in size.
    static bool isPrintableText(const QString& text, qsizetype maxUtf8Size);
};
