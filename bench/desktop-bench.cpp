// desktop-bench [--runs N] [--checks N] [--idle-seconds S] [--idle-windows N] [--unlocks N]
//               --out FILE
// Start-up, memory, idle wake-ups and check cost of the suite's programs and
// their bare baselines, the notifier's wait for a locked keyring, as JSON samples in FILE. Runs
// inside a private session with an X display (bench/run.sh makes both).

#include "DesktopBench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption runs(QStringLiteral("runs"),
        QStringLiteral("start-ups of each program"), QStringLiteral("N"), QStringLiteral("41"));
    const QCommandLineOption checks(QStringLiteral("checks"),
        QStringLiteral("checks of the notifier"), QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption idleSeconds(QStringLiteral("idle-seconds"),
        QStringLiteral("length of one idle window"), QStringLiteral("S"), QStringLiteral("60"));
    const QCommandLineOption idleWindows(QStringLiteral("idle-windows"),
        QStringLiteral("idle windows in a row"), QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption unlocks(QStringLiteral("unlocks"),
        QStringLiteral("locked keyrings the notifier starts on"), QStringLiteral("N"),
        QStringLiteral("9"));
    const QCommandLineOption out(
        QStringLiteral("out"), QStringLiteral("the JSON file to write"), QStringLiteral("FILE"));
    parser.addOptions({ runs, checks, idleSeconds, idleWindows, unlocks, out });
    parser.addHelpOption();
    parser.process(application);
    if (!parser.isSet(out)) {
        std::fprintf(stderr, "desktop-bench: --out FILE is needed\n");
        return 2;
    }

    DesktopBench::Options options;
    options.runs = parser.value(runs).toInt();
    options.checks = parser.value(checks).toInt();
    options.idleSeconds = parser.value(idleSeconds).toInt();
    options.idleWindows = parser.value(idleWindows).toInt();
    options.unlocks = parser.value(unlocks).toInt();
    if (options.runs < 1 || options.checks < 1 || options.idleSeconds < 1 || options.idleWindows < 1
        || options.unlocks < 1) {
        std::fprintf(stderr, "desktop-bench: every count must be at least 1\n");
        return 2;
    }

    DesktopBench bench(options);
    if (!bench.run()) {
        std::fprintf(stderr, "desktop-bench: %s\n", qPrintable(bench.errorString()));
        return 1;
    }
    QFile file(parser.value(out));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(QJsonDocument(bench.results()).toJson()) < 0) {
        std::fprintf(stderr, "desktop-bench: cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    return 0;
}
