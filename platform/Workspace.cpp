#include "platform/Workspace.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QHash>
#include <QVariantMap>
#include <limits>
#include <optional>
#include <unistd.h>

namespace {

const QString BusService = QStringLiteral("org.freedesktop.DBus");
const QString BusPath = QStringLiteral("/org/freedesktop/DBus");
const QString BusInterface = QStringLiteral("org.freedesktop.DBus");

QDBusMessage busCall(const QString& method, const QString& argument)
{
    QDBusMessage call = QDBusMessage::createMethodCall(BusService, BusPath, BusInterface, method);
    call << argument;
    return call;
}

struct Credentials
{
    pid_t processIdentifier = -1;
    qint64 userIdentifier = -1;
};

std::optional<Credentials> credentialsOf(const QDBusConnection& bus, const QString& uniqueName)
{
    const QDBusReply<QVariantMap> reply
        = bus.call(busCall(QStringLiteral("GetConnectionCredentials"), uniqueName));
    if (!reply.isValid())
        return std::nullopt;
    const QVariantMap credentials = reply.value();
    bool known = false;
    const uint pid = credentials.value(QStringLiteral("ProcessID")).toUInt(&known);
    // The bus hands out an unsigned number; one past the range of pid_t is
    // no process this program could address.
    if (!known || pid > uint(std::numeric_limits<pid_t>::max()))
        return std::nullopt;
    Credentials result;
    result.processIdentifier = pid_t(pid);
    bool userKnown = false;
    const uint uid = credentials.value(QStringLiteral("UnixUserID")).toUInt(&userKnown);
    if (userKnown)
        result.userIdentifier = uid;
    return result;
}

} // namespace

namespace Workspace {

QList<RunningApplication> runningApplications()
{
    QList<RunningApplication> applications;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return applications;
    const QDBusReply<QStringList> names = bus.call(QDBusMessage::createMethodCall(
        BusService, BusPath, BusInterface, QStringLiteral("ListNames")));
    if (!names.isValid())
        return applications;

    QHash<QString, std::optional<Credentials>> credentialsByConnection;
    for (const QString& name : names.value()) {
        if (name.startsWith(QLatin1Char(':')) || name == BusService)
            continue;
        // A name can change hands between the two calls; then its queue is
        // simply empty or different, which a snapshot may show.
        const QDBusReply<QStringList> owners
            = bus.call(busCall(QStringLiteral("ListQueuedOwners"), name));
        if (!owners.isValid())
            continue;
        for (const QString& owner : owners.value()) {
            auto known = credentialsByConnection.constFind(owner);
            if (known == credentialsByConnection.cend())
                known = credentialsByConnection.insert(owner, credentialsOf(bus, owner));
            if (!known.value())
                continue;
            applications.append(
                { name, known.value()->processIdentifier, known.value()->userIdentifier });
        }
    }
    return applications;
}

pid_t processIdentifier()
{
    return ::getpid();
}

uid_t userIdentifier()
{
    return ::getuid();
}

bool registerBundleIdentifier(const QString& bundleIdentifier)
{
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return false;
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply
        = bus->registerService(bundleIdentifier, QDBusConnectionInterface::QueueService,
            QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() != QDBusConnectionInterface::ServiceNotRegistered;
}

} // namespace Workspace
