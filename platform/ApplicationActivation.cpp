#include "platform/ApplicationActivation.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QVariantMap>

namespace {

const QString SuiteEntryPrefix = QStringLiteral("org.tarvendesk.");
// Where the installer puts application bundles, each with a share/ of its own.
const QString SystemApplicationsFolder = QStringLiteral("/opt");
// A program the bus starts gets this long to take its name and answer.
constexpr int ActivationTimeoutMilliseconds = 60000;

QString applicationNameWithoutSuffix(const QString& applicationName)
{
    QString name = applicationName;
    if (name.endsWith(QLatin1String(".app")))
        name.chop(4);
    return name;
}

QString translated(const char* text)
{
    return QCoreApplication::translate("ApplicationActivation", text);
}

void finish(const ApplicationActivation::Completion& done, const QString& entryId)
{
    if (done)
        done(entryId, {});
}

void fail(const ApplicationActivation::Completion& done, qint64 code, const QString& description)
{
    if (done)
        done({}, errorWithDescription(ApplicationActivation::ErrorDomain, code, description));
}

void startFromCommand(const QString& applicationName, const DesktopEntry& entry,
    const ApplicationActivation::Completion& done)
{
    QStringList arguments = entry.execArguments();
    if (arguments.isEmpty()) {
        fail(done, ApplicationActivation::CannotStart,
            translated("Application “%1” has no command to start it.").arg(applicationName));
        return;
    }
    const QString program = arguments.takeFirst();
    const QString workingDirectory = entry.path.isEmpty() ? QDir::homePath() : entry.path;
    if (!QProcess::startDetached(program, arguments, workingDirectory)) {
        fail(done, ApplicationActivation::CannotStart,
            translated("Application “%1” can’t be started.").arg(applicationName));
        return;
    }
    finish(done, entry.id);
}

// The bus could not start the program: nothing owns the name and no service
// file names it, or the one it names did not come up (a bus whose activation
// environment lacks the display starts programs that end at once).
bool busCouldNotStart(const QDBusError& error)
{
    return error.type() == QDBusError::ServiceUnknown
        || error.name().startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

} // namespace

namespace ApplicationActivation {

QStringList applicationFolders()
{
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    // After the desktop's own folders, so that an entry there always wins.
    const QDir system(SystemApplicationsFolder);
    for (const QString& bundle : system.entryList(
             { QStringLiteral("*.app") }, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        folders.append(system.filePath(bundle + QStringLiteral("/share/applications")));
    return folders;
}

std::optional<DesktopEntry> desktopEntryForApplicationName(const QString& applicationName)
{
    const QString name = applicationNameWithoutSuffix(applicationName);
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return std::nullopt;
    const QString id = SuiteEntryPrefix + name;
    for (const QString& folder : applicationFolders()) {
        const QString filePath = QDir(folder).filePath(id + QStringLiteral(".desktop"));
        if (!QFileInfo(filePath).isFile())
            continue;
        // The first file of an ID hides those of less important folders.
        const std::optional<DesktopEntry> entry = DesktopEntry::read(filePath, id);
        if (entry && !entry->hidden && entry->type == QLatin1String("Application"))
            return entry;
        return std::nullopt;
    }
    return std::nullopt;
}

void activateApplication(const QString& applicationName, Completion done)
{
    const std::optional<DesktopEntry> entry = desktopEntryForApplicationName(applicationName);
    if (!entry) {
        // Later, from the event loop, so that the caller sees one order
        // whatever the outcome.
        QTimer::singleShot(
            0, QCoreApplication::instance(), [applicationName, done = std::move(done)] {
                fail(done, NotFound,
                    translated("Application “%1” can’t be found.").arg(applicationName));
            });
        return;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, QCoreApplication::instance(),
            [applicationName, entry = *entry, done = std::move(done)] {
                startFromCommand(applicationName, entry, done);
            });
        return;
    }

    // With the auto-start flag the bus starts the program's service first when
    // nobody holds its name; the answer comes once the program has handled it.
    QDBusMessage call = QDBusMessage::createMethodCall(entry->id, entry->objectPath(),
        QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << QVariantMap();
    call.setAutoStartService(true);
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, ActivationTimeoutMilliseconds), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [applicationName, entry = *entry, done = std::move(done)](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<> reply = *call;
            if (!reply.isError()) {
                finish(done, entry.id);
                return;
            }
            if (busCouldNotStart(reply.error())) {
                qCInfo(lcActivation).noquote()
                    << "The bus could not start" << entry.id << "(" << reply.error().message()
                    << "); starting it from its entry";
                startFromCommand(applicationName, entry, done);
                return;
            }
            fail(done, NotActivated,
                translated("Application “%1” can’t be activated: %2")
                    .arg(applicationName, reply.error().message()));
        });
}

} // namespace ApplicationActivation
