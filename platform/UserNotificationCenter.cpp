#include "platform/UserNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QIcon>
#include <QPointer>
#include <QVariantMap>
#include <canberra.h>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

// Servers with "body-markup" read the body as a small XML-like markup: the
// three characters that would start markup or an entity are escaped so that
// a text such as "Expiring : 2" or "a < b & c" shows exactly as written.
QString escapedBodyText(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar character : text) {
        if (character == u'&')
            escaped += QStringLiteral("&amp;");
        else if (character == u'<')
            escaped += QStringLiteral("&lt;");
        else if (character == u'>')
            escaped += QStringLiteral("&gt;");
        else
            escaped += character;
    }
    return escaped;
}

// The icon the desktop knows the program by: its theme icon when it has one,
// otherwise the icon installed under the name of its desktop entry.
QString programIconName()
{
    const QString themeName = QGuiApplication::windowIcon().name();
    return themeName.isEmpty() ? QGuiApplication::desktopFileName() : themeName;
}

} // namespace

UserNotificationCenter* UserNotificationCenter::defaultUserNotificationCenter()
{
    static QPointer<UserNotificationCenter> center;
    if (!center)
        center = new UserNotificationCenter(
            QDBusConnection::sessionBus(), QCoreApplication::instance());
    return center;
}

UserNotificationCenter::UserNotificationCenter(const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
    // From whichever server owns the name, now or later.
    m_connection.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
        SLOT(onActionInvoked(uint, QString)));
    m_connection.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
        SLOT(onNotificationClosed(uint, uint)));
}

UserNotificationCenter::~UserNotificationCenter() = default;

void UserNotificationCenter::SoundContextDeleter::operator()(ca_context* context) const
{
    ca_context_destroy(context);
}

void UserNotificationCenter::deliverNotification(const UserNotification& notification)
{
    if (!m_connection.isConnected()) {
        dropLater(notification);
        return;
    }
    // The capabilities are asked for every time: the desktop's service may
    // have been replaced since the last notification, hours ago.
    const QDBusMessage query = QDBusMessage::createMethodCall(
        service, path, interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(query), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, notification](QDBusPendingCallWatcher* call) {
            call->deleteLater();
            const QDBusPendingReply<QStringList> reply = *call;
            if (reply.isError()) {
                emit didDropNotification(notification);
                return;
            }
            notify(notification, reply.value());
        });
}

void UserNotificationCenter::notify(
    const UserNotification& notification, const QStringList& capabilities)
{
    if (!m_connection.isConnected()) {
        dropLater(notification);
        return;
    }
    // A program without a desktop entry (a test, a build-tree run) names
    // none rather than an empty one.
    QVariantMap hints;
    const QString desktopEntry = QGuiApplication::desktopFileName();
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    if (!notification.soundName.isEmpty())
        hints.insert(QStringLiteral("sound-name"), notification.soundName);
    // The urgency is a byte on the bus; an int would be ignored by strict servers.
    hints.insert(
        QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(notification.urgency)));
    if (!notification.category.isEmpty())
        hints.insert(QStringLiteral("category"), notification.category);
    QStringList actions;
    if (!notification.defaultActionTitle.isEmpty())
        actions << QStringLiteral("default") << notification.defaultActionTitle;

    const QString body = capabilities.contains(QStringLiteral("body-markup"))
        ? escapedBodyText(notification.informativeText)
        : notification.informativeText;

    QDBusMessage call
        = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QGuiApplication::applicationDisplayName() << m_shownId << programIconName()
         << notification.title << body << actions << hints << int(-1);
    const bool serverPlaysSound = capabilities.contains(QStringLiteral("sound"));
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, notification, serverPlaysSound](QDBusPendingCallWatcher* pending) {
            pending->deleteLater();
            const QDBusPendingReply<uint> reply = *pending;
            if (reply.isError()) {
                emit didDropNotification(notification);
                return;
            }
            m_shownId = reply.value();
            if (!notification.soundName.isEmpty() && !serverPlaysSound)
                playSoundUnlessInhibited(notification);
            else
                emit didDeliverNotification(notification);
        });
}

void UserNotificationCenter::onActionInvoked(uint id, const QString& actionKey)
{
    if (id != 0 && id == m_shownId && actionKey == QLatin1String("default"))
        emit didActivateNotification();
}

void UserNotificationCenter::onNotificationClosed(uint id, uint)
{
    // A closed notification cannot be replaced: the next one is a new one.
    if (id == m_shownId)
        m_shownId = 0;
}

// The server keeps quiet while the desktop's do-not-disturb is on, and the
// sound played here must too. A server without the property never inhibits.
// The notification counts as delivered once the sound is settled.
void UserNotificationCenter::playSoundUnlessInhibited(const UserNotification& notification)
{
    QDBusMessage query = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    query << interface << QStringLiteral("Inhibited");
    auto* watcher = new QDBusPendingCallWatcher(m_connection.asyncCall(query), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, notification](QDBusPendingCallWatcher* pending) {
            pending->deleteLater();
            const QDBusPendingReply<QDBusVariant> reply = *pending;
            if (reply.isError() || !reply.value().variant().toBool())
                playEventSound(notification.soundName, notification.title);
            emit didDeliverNotification(notification);
        });
}

void UserNotificationCenter::dropLater(const UserNotification& notification)
{
    // A call on a closed connection never finishes: the drop is reported
    // from the event loop, as every other outcome is.
    QMetaObject::invokeMethod(
        this, [this, notification] { emit didDropNotification(notification); },
        Qt::QueuedConnection);
}

void UserNotificationCenter::playEventSound(const QString& eventId, const QString& description)
{
    // The sound is a courtesy: a desktop without a sound system, or without
    // the sound in its theme, just stays silent.
    if (!m_sounds) {
        ca_context* context = nullptr;
        if (ca_context_create(&context) != CA_SUCCESS)
            return;
        m_sounds.reset(context);
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME,
            QGuiApplication::applicationDisplayName().toUtf8().constData(), nullptr);
        const QByteArray desktopEntry = QGuiApplication::desktopFileName().toUtf8();
        if (!desktopEntry.isEmpty())
            ca_context_change_props(
                context, CA_PROP_APPLICATION_ID, desktopEntry.constData(), nullptr);
    }
    ca_context_play(m_sounds.get(), 0, CA_PROP_EVENT_ID, eventId.toUtf8().constData(),
        CA_PROP_EVENT_DESCRIPTION, description.toUtf8().constData(), nullptr);
    emit didPlayEventSound(eventId);
}

// Its own meta-object code, so that a program that never notifies does not
// load the notification and sound libraries with the rest of the core.
#include "moc_UserNotificationCenter.cpp"
