#pragma once

// The notifier's state on the session bus (org.tarvendesk.Notifier at
// NotifierObjectPath): what its last check found and when, whether a user is
// signed in and whether its tray item is up, with PropertiesChanged whenever
// one of them changes, and a check on demand. Where no tray shows the item,
// it tells the user once where the item's entries are instead.

#include <QDBusConnection>
#include <QDateTime>
#include <QObject>
#include <QVariantMap>
#include <chrono>

class AppDelegate;
class StatusMenu;
class UserNotificationCenter;

class NotifierInterface : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarvendesk.Notifier")
    Q_PROPERTY(bool SignedIn READ isSignedIn)
    Q_PROPERTY(bool HasStatusItem READ hasStatusItem)
    Q_PROPERTY(qint32 Expiring READ expiring)
    Q_PROPERTY(qint32 Critical READ critical)
    Q_PROPERTY(qint32 Expired READ expired)
    // The last check's notification text; empty before the first.
    Q_PROPERTY(QString LastCheckText READ lastCheckText)
    // Seconds since the epoch; 0 before the first check.
    Q_PROPERTY(qint64 LastCheckTime READ lastCheckTime)

public:
    // The notice of a missing tray item waits as long as a panel may take to
    // start beside the program.
    NotifierInterface(AppDelegate& delegate, StatusMenu& statusMenu,
        UserNotificationCenter& notificationCenter,
        std::chrono::milliseconds noticeDelay = std::chrono::seconds(10),
        QObject* parent = nullptr);

    // False when there is no bus or the path is taken.
    bool exportOn(QDBusConnection bus);

    bool isSignedIn() const;
    bool hasStatusItem() const;
    qint32 expiring() const { return m_expiring; }
    qint32 critical() const { return m_critical; }
    qint32 expired() const { return m_expired; }
    QString lastCheckText() const { return m_lastCheckText; }
    qint64 lastCheckTime() const;

public slots:
    void CheckNow();

private:
    QVariantMap properties() const;
    void publishChanges();
    void onCheckFinished(qint32 expiring, qint32 critical, qint32 expired, const QString& text);
    void tellOnceWithoutStatusItem();

    AppDelegate& m_delegate;
    StatusMenu& m_statusMenu;
    UserNotificationCenter& m_notificationCenter;
    QDBusConnection m_bus { QString() };
    QVariantMap m_published;
    qint32 m_expiring = 0;
    qint32 m_critical = 0;
    qint32 m_expired = 0;
    QString m_lastCheckText;
    QDateTime m_lastCheck;
};
