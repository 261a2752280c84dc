#pragma once

// The suite's programs measured from outside, as a desktop sees them: the
// bench is the desktop's tray host and notification server, watches the X
// server for windows, runs the reference service, and starts, checks and
// stops the programs and their bare Qt baselines. Every figure is a list of
// samples; the report takes medians.

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class NotificationRecorder;
class TrayHost;
class WindowMapWatcher;

class DesktopBench : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        int runs = 15;
        int checks = 1000;
        int idleSeconds = 60;
        int idleWindows = 3;
        // Unlocks of a keyring the notifier found locked at its start.
        int unlocks = 9;
        // Baseline requests made after each hundred checks.
        int postsPerHundredChecks = 20;
    };

    explicit DesktopBench(const Options& options, QObject* parent = nullptr);
    ~DesktopBench() override;

    // Runs every measurement; false, with errorString(), when one could not be made.
    bool run();
    QString errorString() const { return m_error; }
    QJsonObject results() const { return m_results; }

signals:
    // Something was heard: a window, a tray item, an answer, a notification.
    void happened();

private:
    struct TrayStart
    {
        double trayItemMs = -1;
        double firstCheckMs = -1;
        double readyMs() const { return std::max(trayItemMs, firstCheckMs); }
    };

    bool setUp();
    bool startService();
    bool measureWindowStartUps();
    bool measureTrayStartUps();
    bool measureIdleAndChecks();
    bool measureLockedKeyringWait();

    std::unique_ptr<QProcess> startProgram(const QString& name);
    void stopProgram(QProcess& process);
    bool waitForWindow(qint64 pid, double since, double* shownMs);
    bool waitForTray(qint64 pid, double since, TrayStart* start);
    bool baselinePost(double* ms);
    int menuItemId(const QString& service, const QString& label);

    bool fail(const QString& why);
    double now() const { return m_clock.nsecsElapsed() / 1e6; }
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    void pause(int ms)
    {
        waitUntil([] { return false; }, ms);
    }
    int answersSince(double since) const;
    double firstAnswerSince(double since) const;
    void readServiceOutput();

    Options m_options;
    QString m_error;
    QJsonObject m_results;
    QElapsedTimer m_clock;
    QString m_userName;
    QString m_password;

    QTemporaryDir m_serviceData;
    QProcess m_service;
    QByteArray m_serviceOutput;
    bool m_serviceListening = false;
    std::unique_ptr<TrayHost> m_trayHost;
    std::unique_ptr<NotificationRecorder> m_notifications;
    std::unique_ptr<WindowMapWatcher> m_windows;
    QNetworkAccessManager m_network;

    // When each was heard, on m_clock.
    QHash<qint64, double> m_windowShown;
    QHash<qint64, std::pair<double, QString>> m_trayItems;
    QList<double> m_answers;
    QList<double> m_notified;
};
