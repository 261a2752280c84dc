#pragma once

// The notifier's last check in the sign-in window, where no tray shows the
// notifier's item: read from the notifier's interface on the bus and followed
// as it changes, with the window's "Check now" sent there. With a tray, or
// with no notifier running, the window shows nothing of it.

#include <QDBusServiceWatcher>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

class SignInWindow;

class NotifierStatus : public QObject
{
    Q_OBJECT

public:
    explicit NotifierStatus(SignInWindow& window, QObject* parent = nullptr);

private slots:
    // QtDBus connects bus signals by slot name only.
    void onPropertiesChanged(
        const QString& interfaceName, const QVariantMap& changed, const QStringList& invalidated);

private:
    void readAll();
    void show();

    QPointer<SignInWindow> m_window;
    QDBusServiceWatcher m_watcher;
    QVariantMap m_state;
};
