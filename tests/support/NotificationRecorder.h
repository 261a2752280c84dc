#pragma once

// A desktop notification service for tests: it owns
// org.freedesktop.Notifications on the tests' session bus, answers as a
// server with the capabilities it is given, and records every notification.
// Several test programs on one bus take turns: a recorder queues for the name
// until an earlier one has gone (waitUntilRegistered).

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

struct RecordedNotification
{
    uint id = 0;
    QString appName;
    uint replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int expireTimeout = 0;
};

class NotificationRecorder : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    // Capabilities of a server that shows bodies and nothing more.
    explicit NotificationRecorder(
        const QStringList& capabilities = { QStringLiteral("body") }, QObject* parent = nullptr);
    ~NotificationRecorder() override;

    // True once this recorder owns the service name (at once on a bus where
    // no other recorder runs).
    bool isRegistered() const;
    bool waitUntilRegistered(int timeoutMs = 120000);

    void setCapabilities(const QStringList& capabilities) { m_capabilities = capabilities; }
    QList<RecordedNotification> notifications() const { return m_notifications; }
    QList<uint> closedIds() const { return m_closedIds; }
    int capabilityQueries() const { return m_capabilityQueries; }
    void clear();

public slots:
    // The server's own D-Bus interface.
    Q_SCRIPTABLE QStringList GetCapabilities();
    Q_SCRIPTABLE QString GetServerInformation(
        QString& vendor, QString& version, QString& specVersion);
    Q_SCRIPTABLE uint Notify(const QString& appName, uint replacesId, const QString& appIcon,
        const QString& summary, const QString& body, const QStringList& actions,
        const QVariantMap& hints, int expireTimeout);
    Q_SCRIPTABLE void CloseNotification(uint id);

signals:
    void notified(uint id);

    Q_SCRIPTABLE void NotificationClosed(uint id, uint reason);
    Q_SCRIPTABLE void ActionInvoked(uint id, const QString& actionKey);

private:
    QString m_connectionName;
    QDBusConnection m_connection;
    QStringList m_capabilities;
    QList<RecordedNotification> m_notifications;
    QList<uint> m_closedIds;
    int m_capabilityQueries = 0;
    uint m_lastId = 0;
};
