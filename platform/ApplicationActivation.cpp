#include "platform/ApplicationActivation.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QVariantMap>

namespace {

const QString DesktopSuffix = QStringLiteral(".desktop");
// Where the installer puts application bundles, each with a share/ of its own.
const QString SystemApplicationsFolder = QStringLiteral("/opt");

struct Candidate
{
    QString id;
    QString filePath;
};

// Every desktop file ID of the folders with the file that counts for it: the
// one in the most important folder. The ID of a file in a subfolder joins
// the folder names with "-", as freedesktop menus name them.
QList<Candidate> desktopFiles(const QStringList& folders)
{
    QList<Candidate> files;
    QSet<QString> seen;
    for (const QString& folder : folders) {
        QStringList inFolder;
        QDirIterator it(
            folder, { QStringLiteral("*.desktop") }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            inFolder.append(it.next());
        inFolder.sort();
        for (const QString& filePath : inFolder) {
            QString id = QDir(folder).relativeFilePath(filePath);
            id.chop(DesktopSuffix.size());
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (!seen.contains(id)) {
                seen.insert(id);
                files.append({ id, filePath });
            }
        }
    }
    return files;
}

QString applicationNameWithoutSuffix(const QString& applicationName)
{
    QString name = applicationName;
    if (name.endsWith(QLatin1String(".app")))
        name.chop(4);
    return name;
}

QVariant fail(QString* errorDescription, const QString& description)
{
    if (errorDescription)
        *errorDescription = description;
    return {};
}

bool nameHasOwner(const QDBusConnection& bus, const QString& name)
{
    const QDBusReply<bool> reply = bus.interface()->isServiceRegistered(name);
    return reply.isValid() && reply.value();
}

bool isActivatableOnBus(const QDBusConnection& bus, const QString& name)
{
    const QDBusReply<QStringList> reply = bus.interface()->activatableServiceNames();
    return reply.isValid() && reply.value().contains(name);
}

// With the auto-start flag a message to a name nobody holds starts the
// program's bus service first; the answer comes once it has handled it.
// While waiting, the caller still answers calls from the bus but no input:
// the program it activates may be activating it in turn (the sign-in program
// starts the notifier as it launches), and two programs each waiting for the
// other's answer would both hang until the call timed out.
QDBusMessage callActivate(const QDBusConnection& bus, const DesktopEntry& entry)
{
    QDBusMessage call = QDBusMessage::createMethodCall(entry.id, entry.objectPath(),
        QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << QVariantMap();
    call.setAutoStartService(true);
    QDBusPendingCall pending = bus.asyncCall(call);
    if (!pending.isFinished()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop wait;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    // Still open when the program is ending: the event loops were told to stop.
    if (!pending.isFinished())
        return call.createErrorReply(QDBusError::NoReply, QStringLiteral("The program is ending."));
    return pending.reply();
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
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString suffix = QLatin1Char('.') + name;
    for (const Candidate& file : desktopFiles(applicationFolders())) {
        if (file.id != name && !file.id.endsWith(suffix))
            continue;
        const std::optional<DesktopEntry> entry = DesktopEntry::read(file.filePath, file.id);
        if (entry && !entry->hidden && entry->type == QLatin1String("Application"))
            return entry;
    }
    return std::nullopt;
}

QVariant activateApplication(const QString& applicationName, QString* errorDescription)
{
    const std::optional<DesktopEntry> entry = desktopEntryForApplicationName(applicationName);
    if (!entry)
        return fail(errorDescription,
            QStringLiteral("Application “%1” can’t be found.").arg(applicationName));

    const QDBusConnection bus = QDBusConnection::sessionBus();
    const bool onBus = bus.isConnected() && bus.interface();
    if (onBus
        && (nameHasOwner(bus, entry->id)
            || (entry->dbusActivatable && isActivatableOnBus(bus, entry->id)))) {
        const QDBusMessage reply = callActivate(bus, *entry);
        if (reply.type() == QDBusMessage::ErrorMessage)
            return fail(errorDescription,
                QStringLiteral("Application “%1” can’t be activated: %2")
                    .arg(applicationName, reply.errorMessage()));
        return entry->id;
    }

    QStringList arguments = entry->execArguments();
    if (arguments.isEmpty())
        return fail(errorDescription,
            QStringLiteral("Application “%1” has no command to start it.").arg(applicationName));
    const QString program = arguments.takeFirst();
    const QString workingDirectory = entry->path.isEmpty() ? QDir::homePath() : entry->path;
    if (!QProcess::startDetached(program, arguments, workingDirectory))
        return fail(errorDescription,
            QStringLiteral("Application “%1” can’t be started.").arg(applicationName));
    return entry->id;
}

} // namespace ApplicationActivation
