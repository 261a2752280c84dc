#include "statusbar/NotifierInterface.h"

#include "common/NotifierBus.h"
#include "platform/Logging.h"
#include "platform/UserNotificationCenter.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/StatusMenu.h"

#include <QDBusMessage>
#include <QMetaProperty>
#include <QSettings>
#include <QTimer>

namespace {

// Kept by the user's configuration folder, so that the notice comes once for
// a person, not at every login.
const QString NoticeKey = QStringLiteral("Notices/WithoutStatusItem");

QSettings programState()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tarvenDESK"),
        QStringLiteral("tarvenDESKStatusBar"));
}

} // namespace

NotifierInterface::NotifierInterface(AppDelegate& delegate, StatusMenu& statusMenu,
    UserNotificationCenter& notificationCenter, std::chrono::milliseconds noticeDelay,
    QObject* parent)
    : QObject(parent)
    , m_delegate(delegate)
    , m_statusMenu(statusMenu)
    , m_notificationCenter(notificationCenter)
{
    connect(&m_delegate, &AppDelegate::checkFinished, this, &NotifierInterface::onCheckFinished);
    connect(&m_statusMenu, &StatusMenu::signOutTitleShownChanged, this, [this](bool signedIn) {
        // The counts were the user's who left.
        if (!signedIn) {
            m_expiring = m_critical = m_expired = 0;
            m_lastCheckText.clear();
            m_lastCheck = QDateTime();
        }
        publishChanges();
    });
    connect(&m_statusMenu, &StatusMenu::statusItemVisibilityChanged, this,
        &NotifierInterface::publishChanges);
    QTimer::singleShot(noticeDelay, this, [this] {
        if (!hasStatusItem())
            tellOnceWithoutStatusItem();
    });
    m_published = properties();
}

bool NotifierInterface::exportOn(QDBusConnection bus)
{
    m_bus = bus;
    return bus.registerObject(NotifierObjectPath, this,
        QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

bool NotifierInterface::isSignedIn() const
{
    return m_statusMenu.isSignOutTitleShown();
}

bool NotifierInterface::hasStatusItem() const
{
    return m_statusMenu.isStatusItemVisible();
}

qint64 NotifierInterface::lastCheckTime() const
{
    return m_lastCheck.isValid() ? m_lastCheck.toSecsSinceEpoch() : 0;
}

void NotifierInterface::CheckNow()
{
    m_delegate.onCheckNotificationMenuItemClick(this);
}

QVariantMap NotifierInterface::properties() const
{
    QVariantMap values;
    const QMetaObject* meta = metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        values.insert(QString::fromLatin1(meta->property(i).name()), meta->property(i).read(this));
    return values;
}

void NotifierInterface::publishChanges()
{
    const QVariantMap now = properties();
    QVariantMap changed;
    for (auto value = now.cbegin(); value != now.cend(); ++value)
        if (m_published.value(value.key()) != value.value())
            changed.insert(value.key(), value.value());
    m_published = now;
    if (changed.isEmpty() || !m_bus.isConnected())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(NotifierObjectPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
    signal << NotifierInterfaceName << changed << QStringList();
    m_bus.send(signal);
}

void NotifierInterface::onCheckFinished(
    qint32 expiring, qint32 critical, qint32 expired, const QString& text)
{
    m_expiring = expiring;
    m_critical = critical;
    m_expired = expired;
    m_lastCheckText = text;
    m_lastCheck = QDateTime::currentDateTimeUtc();
    publishChanges();
}

void NotifierInterface::tellOnceWithoutStatusItem()
{
    QSettings state = programState();
    if (state.value(NoticeKey).toBool())
        return;
    state.setValue(NoticeKey, true);
    state.sync();
    if (state.status() != QSettings::NoError)
        qCWarning(lcActivation) << "Could not note that the tray notice was given:"
                                << state.fileName();
    UserNotification notice { tr("tarvenDESK runs without a tray icon"),
        tr("This desktop has no tray. “Check now” and “Sign Out” are in the menu of "
           "tarvenDESK’s icon among your applications, and the tarvenDESK window shows "
           "the last check."),
        QString() };
    notice.defaultActionTitle = tr("Open tarvenDESK");
    m_notificationCenter.deliverNotification(notice);
}
