#pragma once

// The sign-in program: its window's two views, the sign-in against the
// service, sign-out, the two settings the notifier acts on, and the hand-over
// to the notifier. The window comes from the interface resource; the delegate
// only refers to its elements.

#include "common/SeverityCountExchange.h"
#include "platform/ApplicationDelegate.h"
#include "platform/SecretServiceWatcher.h"

#include <QPointer>
#include <QString>
#include <QUrl>
#include <memory>
#include <unordered_map>

class AlertPresenter;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;
class QWidget;

inline const QString StatusBarApplicationName = QStringLiteral("tarvenDESKStatusBar.app");

class AppDelegate : public ApplicationDelegate, public SeverityCountConnectionDelegate
{
    Q_OBJECT

public:
    // Connects the outlets to the window's elements by their object names, and
    // the elements' actions to this delegate. The window, the presenter and
    // the manager must outlive the delegate.
    AppDelegate(QWidget& signInWindow, AlertPresenter& alertPresenter,
        QNetworkAccessManager& networkAccessManager, const QUrl& serviceURL,
        QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching(const Notification& notification) override;
    void applicationWillTerminate(const Notification& notification) override;
    bool applicationShouldTerminateAfterLastWindowClosed(QObject* sender) override;
    bool applicationShouldHandleReopen(QObject* sender, bool hasVisibleWindows) override;

    void showSignIn();
    void showloggedIn();
    // Neither view: the keyring cannot be asked yet whether anyone is signed in.
    void showKeyringUnavailable();
    void setSignLabelStatus();
    // The window's two settings into freequency and status.
    void populateUIValues();
    // Stores the held user with the window's settings.
    void addDetailsToKeyChain();
    bool getDetailsFromKeyChain();

    void onSignInAction(QObject* sender);
    void onSignOutAction(QObject* sender);
    void onFrequencyChange(QObject* sender);
    void onNotificationChange(QObject* sender);

    // True when the field's text is empty or only white space and line breaks.
    static bool checkEmpty(const QLineEdit* textField);

    // Posts the typed credentials. They become the held user details only
    // when the service accepts them.
    void checkDocuments(const QString& typedUserName, const QString& typedPassword);

    void connectionDidFinishLoading(URLConnection* connection) override;
    void connectionDidFailWithError(URLConnection* connection, const Error& error) override;

    void killAllOtherInstance();
    void launchApplication(const QString& name);

    // The user details; a null string is an absent one.
    QString userName;
    QString password;
    qint32 freequency = -1;
    qint32 status = -1;

    QPointer<QWidget> window;
    QPointer<QGroupBox> containerBox;
    QPointer<QLabel> lblUsername;
    QPointer<QLineEdit> userNameTxtField;
    QPointer<QLabel> lblPassword;
    QPointer<QLineEdit> passwordTxtField;
    QPointer<QPushButton> btnSignIn;
    QPointer<QLabel> signInstatusLbl;
    QPointer<QPushButton> btnSingout;
    QPointer<QComboBox> frequencyComboBox;
    QPointer<QCheckBox> showNotifactionCheckBox;
    QPointer<QProgressBar> progressIndicator;

private:
    struct Credentials
    {
        QString userName;
        QString password;
    };
    struct PendingSignIn
    {
        QPointer<URLConnection> connection;
        Credentials credentials;
    };

    void connectOutlets(QWidget& signInWindow);
    void connectActions();
    void applyStoredDetails();
    void storeSettings();
    void showStoredSettings();
    void forgetCredentials();
    void emptyTextFields();
    void startProgressIndicator();
    // Stops and hides the indicator once no sign-in request is running.
    void stopProgressIndicator();
    void showStatusOnly();
    void alertMissingField(const QString& text, QLineEdit* field);

    AlertPresenter& m_alertPresenter;
    QNetworkAccessManager& m_networkAccessManager;
    QUrl m_serviceURL;
    // Watching while the keyring is locked or away; the record is read again
    // when it may have come back.
    SecretServiceWatcher m_storeWatcher;
    // The start-up's hand-over to the notifier, held back while the keyring
    // cannot tell whether anyone is signed in.
    bool m_launchWhenSignedIn = false;
    // What each running sign-in request sent, so that an acceptance stores
    // exactly the credentials the service accepted.
    std::unordered_map<const URLConnection*, PendingSignIn> m_pendingSignIns;
};
