#include "platform/ApplicationMain.h"

#include "common/UnknownOption.h"
#include "platform/ApplicationBusObject.h"
#include "platform/Logging.h"
#include "platform/SecretServiceConnection.h"
#include "platform/StoreWorker.h"
#include "platform/TerminationSignals.h"
#include "platform/Workspace.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <optional>
#include <sys/prctl.h>

namespace {

// Qt's own options, which QApplication takes out of the command line once it
// exists; the parser has to know them to let them through before that.
void addQtOptions(QCommandLineParser& parser)
{
    for (const char* name : { "platform", "platformpluginpath", "platformtheme", "plugin",
             "qmljsdebugger", "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
             "display", "geometry", "title", "name", "style", "stylesheet" }) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : { "reverse", "widgetcount", "sync", "nograb", "dograb" }) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

QCommandLineOption actionOption()
{
    return QCommandLineOption(QStringLiteral("action"),
        QCoreApplication::translate("ApplicationMain", "Carries out one of the program's actions."),
        QStringLiteral("name"));
}

// The action the command line names, once QApplication has taken its own options out.
QString actionArgument(const ApplicationIdentity& identity)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(identity.options);
    const QCommandLineOption action = actionOption();
    parser.addOption(action);
    parser.parse(QCoreApplication::arguments());
    return parser.value(action);
}

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// The exit code when the command line asks for no program, or a wrong one;
// nothing when the program is to run. Only a core application is made, so no
// display or bus is needed to ask for help.
std::optional<int> answerCommandLine(int argc, char** argv, const ApplicationIdentity& identity)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser parser;
    // Qt's options are single-dash words ("-platform offscreen").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(identity.description);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions(identity.options);
    if (identity.takesActions)
        parser.addOption(actionOption());
    addQtOptions(parser);

    const bool parsed = parser.parse(arguments);
    const bool asksForHelp
        = parsed && (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")));
    if (parsed && !asksForHelp && !parser.isSet(version) && parser.positionalArguments().isEmpty())
        return std::nullopt;

    int coreArgc = 1;
    QCoreApplication core(coreArgc, argv);
    QCoreApplication::setApplicationName(identity.applicationName);
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVENDESK_VERSION));
    if (!parsed && !parser.unknownOptionNames().isEmpty()) {
        print(stderr,
            unknownOptionText(identity.applicationName,
                typedOption(arguments, parser.unknownOptionNames().constFirst())));
        return 2;
    }
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString why = parsed
            ? QCoreApplication::translate("ApplicationMain", "Unexpected argument '%1'.")
                  .arg(parser.positionalArguments().constFirst())
            : parser.errorText();
        print(stderr,
            QCoreApplication::translate(
                "ApplicationMain", "%1: %2\nTry '%1 --help' for more information.\n")
                .arg(identity.applicationName, why));
        return 2;
    }
    if (asksForHelp)
        print(stdout, parser.helpText());
    else
        print(stdout,
            identity.applicationName + u' ' + QCoreApplication::applicationVersion() + u'\n');
    return 0;
}

} // namespace

InterfaceObjects::~InterfaceObjects()
{
    // Newest first, as a window made later may refer to one made earlier.
    while (!m_objects.empty())
        m_objects.pop_back();
}

int applicationMain(int argc, char** argv, const ApplicationIdentity& identity,
    const InterfaceBuilder& buildInterface)
{
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (const std::optional<int> code = answerCommandLine(argc, argv, identity))
        return *code;
    // Made before the application, so that the keyring's connection is
    // opened while the application is built; stopped before it goes, on
    // every way out, so that no completion reaches a destroyed application.
    StoreWorker storeWorker;
    if (identity.readsKeyringAtStart)
        SecretServiceConnection::openInBackground();

    QApplication application(argc, argv);
    const std::unique_ptr<StoreWorker, void (*)(StoreWorker*)> stopStoreWorker(
        &storeWorker, [](StoreWorker* worker) { worker->stop(); });
    QApplication::setApplicationName(identity.applicationName);
    QApplication::setApplicationDisplayName(identity.displayName);
    QApplication::setDesktopFileName(identity.bundleIdentifier);
    // Whether closing the last window ends the program is the delegate's call.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationVersion(QStringLiteral(TARVENDESK_VERSION));

    // English is the programs' own text; other languages come from the
    // translations built into the programs, when there is one for the locale.
    QTranslator translator;
    if (translator.load(
            QLocale(), QStringLiteral("tarvendesk"), QStringLiteral("_"), QStringLiteral(":/i18n")))
        QApplication::installTranslator(&translator);

    // exit, not quit: quit closes every window first, which would tell the
    // delegate of a last window closed that nobody closed.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application,
        [] { QCoreApplication::exit(0); });

    InterfaceObjects interface;
    const std::unique_ptr<ApplicationDelegate> delegate = buildInterface(interface);
    if (!delegate)
        return 1;

    QObject::connect(&application, &QGuiApplication::lastWindowClosed, delegate.get(), [&] {
        if (delegate->applicationShouldTerminateAfterLastWindowClosed(&application))
            QCoreApplication::exit(0);
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, delegate.get(), [&] {
        delegate->applicationWillTerminate({ ApplicationWillTerminateNotification, &application });
    });
    // Posted before the name is taken, so it comes before any activation
    // another program sends once the name is ours.
    QMetaObject::invokeMethod(
        delegate.get(),
        [&] {
            delegate->applicationDidFinishLaunching(
                { ApplicationDidFinishLaunchingNotification, &application });
        },
        Qt::QueuedConnection);
    if (const QString action = identity.takesActions ? actionArgument(identity) : QString();
        !action.isEmpty())
        QMetaObject::invokeMethod(
            delegate.get(),
            [&, action] {
                if (!delegate->applicationPerformAction(&application, action))
                    qCWarning(lcActivation) << "The program has no action" << action;
            },
            Qt::QueuedConnection);

    // The object first: a program started by the bus for an activation gets
    // that call as soon as it holds the name.
    ApplicationBusObject busObject(*delegate);
    busObject.exportFor(identity.bundleIdentifier);
    Workspace::requestBundleIdentifier(identity.bundleIdentifier);

    return QApplication::exec();
}
