#pragma once

// The sign-in program's controller: which view the window shows, the sign-in
// against the service, sign-out, the two settings the notifier acts on, and
// the hand-over to the notifier. It touches no element of the window, and the
// keyring only through the details record's worker, so the window never waits.

#include "common/DetailsRecord.h"
#include "common/SeverityCountExchange.h"
#include "platform/ApplicationDelegate.h"
#include "platform/SecretServiceWatcher.h"

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <unordered_map>
#include <vector>

class AlertPresenter;
class QNetworkAccessManager;
class SignInWindow;
enum class SignInField;

inline const QString StatusBarApplicationName = QStringLiteral("tarvenDESKStatusBar.app");

class AppDelegate : public ApplicationDelegate, public SeverityCountConnectionDelegate
{
    Q_OBJECT

public:
    // The window's actions come to this delegate. The window, the presenter
    // and the manager must outlive it.
    AppDelegate(SignInWindow& window, AlertPresenter& alertPresenter,
        QNetworkAccessManager& networkAccessManager, const QUrl& serviceURL,
        QObject* parent = nullptr);

    void applicationDidFinishLaunching(const Notification& notification) override;
    void applicationWillTerminate(const Notification& notification) override;
    bool applicationShouldTerminateAfterLastWindowClosed(QObject* sender) override;
    bool applicationShouldHandleReopen(QObject* sender, bool hasVisibleWindows) override;
    // The entry's actions: "check-now" goes to the notifier, "sign-out" is
    // the window's sign-out.
    bool applicationPerformAction(QObject* sender, const QString& name) override;

    void showSignIn();
    void showloggedIn();
    // Neither view: the keyring cannot be asked yet whether anyone is signed in.
    void showKeyringUnavailable();
    void setSignLabelStatus();
    // The window's two settings into freequency and status.
    void populateUIValues();
    // Stores the user with the window's settings; the completion gets what
    // was stored, or the store's error.
    void addDetailsToKeyChain(const QString& userName, const QString& password,
        DetailsRecord::StoreCompletion completion);
    // Loads a stored record into the held user; the completion tells whether
    // one was loaded, with the store's error when its read failed.
    void getDetailsFromKeyChain(DetailsRecord::StoreCompletion completion);

    void onSignInAction(QObject* sender);
    void onSignOutAction(QObject* sender);
    void onFrequencyChange(QObject* sender);
    void onNotificationChange(QObject* sender);
    // Asks the keyring to unlock through the desktop's prompt; the waiting
    // view offers to ask again when the prompt is dismissed.
    void onUnlockKeyringAction(QObject* sender);

    // True when the text is empty or only white space and line breaks.
    static bool checkEmpty(const QString& text);

    // Posts the typed credentials. They become the held user details only
    // when the service accepts them and the keyring has kept them.
    void checkDocuments(const QString& typedUserName, const QString& typedPassword);

    void connectionDidFinishLoading(URLConnection* connection) override;
    void connectionDidFailWithError(URLConnection* connection, const Error& error) override;

    void killAllOtherInstance();
    void launchApplication(const QString& name);

private:
    struct Credentials
    {
        QString userName;
        QString password;
        bool operator==(const Credentials&) const = default;
    };
    struct PendingSignIn
    {
        QPointer<URLConnection> connection;
        Credentials credentials;
    };

    void applyStoredDetails();
    void applyStoredDetails(const DetailsRecord::StoredDetails& stored);
    void storeSettings(bool unlockAsked = false);
    void storeAcceptedSignIn(const Credentials& accepted, bool unlockAsked = false);
    // Asks for the unlock; the completion tells whether the keyring unlocked.
    void unlockKeyring(std::function<void(bool unlocked)> completion);
    void showStoredSettings();
    void forgetCredentials();
    void alertKeyringUnavailable(const QString& messageText);
    void alertMissingField(const QString& text, SignInField field);
    void alertValueTooLong(SignInField field);
    // then runs once the activation has answered, after the alert of its
    // failure; answered as soon as it has.
    void launchApplication(
        const QString& name, std::function<void()> then, std::function<void()> answered);
    // Stops the busy bar once no sign-in request or store is under way.
    void stopProgressIndicator();

    SignInWindow& m_window;
    AlertPresenter& m_alertPresenter;
    QNetworkAccessManager& m_networkAccessManager;
    QUrl m_serviceURL;

    // The user details; a null string is an absent one.
    QString userName;
    QString password;
    qint32 freequency = -1;
    qint32 status = -1;

    // Watching while the keyring is locked or away; the record is read again
    // when it may have come back.
    SecretServiceWatcher m_storeWatcher;
    // The start-up's hand-over to the notifier, held back until the keyring
    // has told whether anyone is signed in.
    bool m_launchWhenSignedIn = false;
    // The window's opening asks for an unlock once; the button asks again.
    bool m_unlockAsked = false;
    bool m_unlocking = false;
    bool m_showingKeyringWait = false;
    // What each running sign-in request sent, so that an acceptance stores
    // exactly the credentials the service accepted.
    std::unordered_map<const URLConnection*, PendingSignIn> m_pendingSignIns;
    // Accepted sign-ins the keyring has not yet answered for.
    std::vector<Credentials> m_signInsBeingStored;
    // Closing: the program ends once the hand-over has answered, or at this limit.
    bool m_terminating = false;
    QTimer m_terminationLimit;
};
