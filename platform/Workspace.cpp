#include "platform/Workspace.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QTimer>
#include <QVariantMap>
#include <limits>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

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

std::optional<RunningApplication> applicationFrom(
    const QString& bundleIdentifier, const QVariantMap& credentials)
{
    bool known = false;
    const uint pid = credentials.value(QStringLiteral("ProcessID")).toUInt(&known);
    // The bus hands out an unsigned number; one past the range of pid_t is
    // no process this program could address.
    if (!known || pid > uint(std::numeric_limits<pid_t>::max()))
        return std::nullopt;
    RunningApplication application { bundleIdentifier, pid_t(pid), -1 };
    bool userKnown = false;
    const uint uid = credentials.value(QStringLiteral("UnixUserID")).toUInt(&userKnown);
    if (userKnown)
        application.userIdentifier = uid;
    return application;
}

// The answers of the owners' credentials, kept in the owners' order.
struct Survey
{
    QString bundleIdentifier;
    std::function<void(const QList<RunningApplication>&)> done;
    std::vector<std::optional<RunningApplication>> found;
    size_t outstanding = 0;

    void finishIfComplete()
    {
        if (outstanding > 0)
            return;
        QList<RunningApplication> applications;
        for (const std::optional<RunningApplication>& application : found)
            if (application)
                applications.append(*application);
        done(applications);
    }
};

template <typename Handler>
void whenAnswered(const QDBusConnection& bus, const QDBusMessage& call, Handler handler)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [handler = std::move(handler)](QDBusPendingCallWatcher* answered) {
            answered->deleteLater();
            handler(*answered);
        });
}

} // namespace

namespace Workspace {

void runningApplications(
    const QString& bundleIdentifier, std::function<void(const QList<RunningApplication>&)> done)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, QCoreApplication::instance(), [done = std::move(done)] { done({}); });
        return;
    }
    auto survey = std::make_shared<Survey>(Survey { bundleIdentifier, std::move(done), {}, 0 });
    whenAnswered(bus, busCall(QStringLiteral("ListQueuedOwners"), bundleIdentifier),
        [bus, survey](const QDBusPendingCall& answer) {
            const QDBusPendingReply<QStringList> owners = answer;
            if (owners.isError() || owners.value().isEmpty()) {
                survey->finishIfComplete();
                return;
            }
            survey->found.resize(size_t(owners.value().size()));
            survey->outstanding = survey->found.size();
            for (size_t i = 0; i < survey->found.size(); ++i)
                whenAnswered(bus,
                    busCall(QStringLiteral("GetConnectionCredentials"), owners.value().at(i)),
                    [survey, i](const QDBusPendingCall& answer) {
                        const QDBusPendingReply<QVariantMap> credentials = answer;
                        if (!credentials.isError())
                            survey->found[i]
                                = applicationFrom(survey->bundleIdentifier, credentials.value());
                        --survey->outstanding;
                        survey->finishIfComplete();
                    });
        });
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

void requestBundleIdentifier(const QString& bundleIdentifier)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCWarning(lcActivation).noquote()
            << "No session bus: this program is not known as" << bundleIdentifier;
        return;
    }
    QDBusMessage call = busCall(QStringLiteral("RequestName"), bundleIdentifier);
    // No flags: queued behind an older copy that holds the name, never taking it away.
    call << uint(0);
    whenAnswered(bus, call, [bundleIdentifier](const QDBusPendingCall& answer) {
        const QDBusPendingReply<uint> reply = answer;
        if (reply.isError())
            qCWarning(lcActivation).noquote() << "The session bus refused the name"
                                              << bundleIdentifier << ":" << reply.error().message();
    });
}

} // namespace Workspace
