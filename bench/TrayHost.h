#pragma once

// The watcher half of a StatusNotifierItem tray host, for the benchmarks: it
// tells Qt programs that a tray is there and reports, with the moment it
// heard it, each item that registers and the process that owns it.

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

class TrayHost : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    explicit TrayHost(QObject* parent = nullptr);
    ~TrayHost() override;

    // False when another watcher already holds the name.
    bool isRegistered() const { return m_registered; }

    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    // pid is -1 when the bus could not tell whose the item is.
    void itemRegistered(const QString& service, qint64 pid);

private:
    QDBusConnection m_connection;
    QStringList m_items;
    bool m_registered = false;
};
