#pragma once

// The tray notifier's delegate: the stored user it checks for, the scheduled
// and manual checks of the user's documents, and the notifications, alerts or
// silence their answers end in. Its item and menu are the StatusMenu's, which
// it tells what to show and whose entries' choices come to its actions.

#include "common/DetailsRecord.h"
#include "common/SeverityCountExchange.h"
#include "platform/ApplicationDelegate.h"
#include "platform/SecretServiceWatcher.h"

#include <QPointer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <vector>

class AlertPresenter;
class NetworkReachability;
class QNetworkAccessManager;
class StatusMenu;
class Timer;
class UserNotificationCenter;
struct Alert;

class AppDelegate : public ApplicationDelegate, public SeverityCountConnectionDelegate
{
    Q_OBJECT

public:
    // Its collaborators come from main (or a test), as in the other programs.
    // An empty URL is the compiled-in service; a zero time limit leaves a
    // check's request its own.
    AppDelegate(StatusMenu& statusMenu, AlertPresenter& alertPresenter,
        QNetworkAccessManager& networkAccessManager, UserNotificationCenter& notificationCenter,
        NetworkReachability& networkReachability, const QUrl& serviceURL = {},
        std::chrono::milliseconds requestTimeLimit = {});
    ~AppDelegate() override;

    void applicationDidFinishLaunching(const Notification& notification) override;
    void applicationWillTerminate(const Notification& notification) override;
    // The sign-in program brings this one forward after every sign-in and
    // change of settings: the record is read again and, if it changed,
    // applied as at start-up.
    bool applicationShouldHandleReopen(QObject* sender, bool hasVisibleWindows) override;

    // Fills error when the store's read failed.
    bool getUserDeatils(Error* error = nullptr);

    void onCheckNotificationMenuItemClick(QObject* sender);
    void onGoToApplicationMenuItemClick(QObject* sender);
    void onSignOutMenuItemClick(QObject* sender);

    void configureNotification();
    void configureTimer();
    void checkDocumentsDetails();
    // Critical while any document has expired, so that do-not-disturb lets it through.
    void showNotification(const QString& text, bool anyExpired = false);

    void killAllOtherInstance();
    void launchApplication(const QString& name);

    void connectionDidFinishLoading(URLConnection* connection) override;
    void connectionDidFailWithError(URLConnection* connection, const Error& error) override;

    // True while a scheduled check is held until the network is back.
    bool isCheckWaitingForNetwork() const { return m_checkWaitingForNetwork; }
    // True while the stored record is waited for: the store was locked or absent.
    bool isWaitingForStore() const { return m_storeWatcher.isWatching(); }
    // The scheduled checks' timer, null while none is set up: its schedule
    // is read, and it is fired without waiting out its delay, by the tests.
    Timer* checkTimer() const { return notificationTImer.get(); }

private:
    UserDetails details() const { return { userName, password, freequency, status }; }
    void setDetails(const UserDetails& details);
    void applyStoredDetails();
    void forgetUser();
    void stopChecks();
    void scheduledCheck();
    void onReachabilityChanged(bool reachable);
    void runAlert(const Alert& alert);
    void releaseIdleConnections();

    StatusMenu& m_statusMenu;
    AlertPresenter& m_alertPresenter;
    QNetworkAccessManager& m_networkAccessManager;
    UserNotificationCenter& m_notificationCenter;
    NetworkReachability& m_networkReachability;
    QUrl m_serviceURL;
    std::chrono::milliseconds m_requestTimeLimit;

    // The user details the checks are made for; a null string is an absent one.
    QString userName;
    QString password;
    qint32 freequency = 0;
    qint32 status = 0;
    std::unique_ptr<Timer> notificationTImer;

    // The text of the record the title and checks follow; null for none.
    QString m_recordInForce;
    SecretServiceWatcher m_storeWatcher;
    // Requests under way; each connection deletes itself when it is done.
    std::vector<QPointer<URLConnection>> m_requests;
    bool m_checkWaitingForNetwork = false;
};
