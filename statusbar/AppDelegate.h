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
#include <functional>
#include <memory>
#include <optional>
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

    // Reads the record on the store's worker into the user details; loaded is
    // false, with the store's error when its read failed. An answer that a
    // later sign-out or read has overtaken is dropped, completion and all:
    // what it read may be gone.
    void getUserDeatils(DetailsRecord::StoreCompletion completion);

    void onCheckNotificationMenuItemClick(QObject* sender);
    void onGoToApplicationMenuItemClick(QObject* sender);
    void onSignOutMenuItemClick(QObject* sender);
    // Asks the keyring to unlock through the desktop's prompt.
    void onUnlockKeyringMenuItemClick(QObject* sender);

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
    // True while the last read met a locked keyring.
    bool isKeyringLocked() const { return m_keyringLocked; }
    // The scheduled checks' timer, null while none is set up: its schedule
    // is read, and it is fired without waiting out its delay, by the tests.
    Timer* checkTimer() const { return notificationTImer.get(); }

signals:
    // A check's answer gave the counts; the text is the notification's.
    void checkFinished(qint32 expiring, qint32 critical, qint32 expired, const QString& text);

private:
    UserDetails details() const { return { userName, password, freequency, status }; }
    void setDetails(const UserDetails& details);
    void applyStoredDetails();
    void applyReadDetails(const DetailsRecord::StoredDetails& stored);
    // Reads the record as getUserDeatils does; answers the read's generation.
    quint64 readUserDetails(DetailsRecord::StoreCompletion completion);
    bool isReadAwaited() const
    {
        return m_recordRead && m_recordRead->generation == m_storeGeneration;
    }
    void forgetUser();
    void abandonRequests();
    void holdRefusedRecord(URLConnection* refused);
    void stopChecks();
    void scheduledCheck();
    void onReachabilityChanged(bool reachable);
    void runAlert(const Alert& alert);
    void alertMissingCredentials(const QString& informativeText);
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
    // Each read and sign-out takes the store's next generation; a read's
    // answer counts only while no later one was asked.
    quint64 m_storeGeneration = 0;
    // The read applyStoredDetails waits for, one at a time; none while no
    // read is under way or a sign-out has overtaken it (its answer is
    // dropped). again: one more read is due once it has answered.
    struct RecordRead
    {
        quint64 generation = 0;
        bool again = false;
    };
    std::optional<RecordRead> m_recordRead;
    // The text of a record whose password the service refused: it is not
    // posted again until the record changes. Null for none.
    QString m_refusedRecord;
    // A check asked for while the record was being read runs once it is.
    bool m_checkAfterRead = false;
    // Requests under way; each connection deletes itself when it is done.
    struct CheckRequest
    {
        QPointer<URLConnection> connection;
        // The record it was sent for.
        QString record;
        // From the menu: a person waits for its answer, whatever it is.
        bool askedByPerson = false;
    };
    std::vector<CheckRequest> m_requests;
    bool m_checkAskedByPerson = false;
    bool m_checkWaitingForNetwork = false;
    // The start-up's read asks for an unlock once, when it meets a locked
    // keyring; the menu's entry asks again.
    bool m_storeAnswered = false;
    bool m_keyringLocked = false;
    bool m_unlocking = false;
};
