#include "signin/AppDelegate.h"

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "common/ProcessHelpers.h"
#include "common/SeverityCountRequest.h"
#include "platform/Alert.h"
#include "platform/AlertPresenter.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "platform/SecretServiceWatcher.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <utility>

namespace {

// The white-space-and-newline set a blank field is judged by: the Unicode
// separators (Zs, Zl, Zp), the tab, line feed to carriage return and the
// next-line character. Spelled out here so that the set does not change with
// what a library happens to count as space.
bool isWhiteSpaceOrNewline(QChar c)
{
    const char16_t code = c.unicode();
    if (code == u'\t' || (code >= 0x000A && code <= 0x000D) || code == 0x0085)
        return true;
    switch (c.category()) {
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

QString keyringUnavailableText()
{
    return AppDelegate::tr("The keyring is locked or not running. Try again once it is available.");
}

template <typename T> QPointer<T> outlet(QWidget& window, const char* name)
{
    T* element = window.findChild<T*>(QLatin1String(name));
    Q_ASSERT_X(element, "AppDelegate", name);
    return element;
}

} // namespace

AppDelegate::AppDelegate(QWidget& signInWindow, AlertPresenter& alertPresenter,
    QNetworkAccessManager& networkAccessManager, const QUrl& serviceURL, QObject* parent)
    : ApplicationDelegate(parent)
    , m_alertPresenter(alertPresenter)
    , m_networkAccessManager(networkAccessManager)
    , m_serviceURL(serviceURL)
{
    connectOutlets(signInWindow);
    connectActions();
    connect(&m_storeWatcher, &SecretServiceWatcher::storeReady, this,
        &AppDelegate::applyStoredDetails);
}

AppDelegate::~AppDelegate()
{
    // A request still running would call back into a delegate that is gone.
    for (const auto& pending : m_pendingSignIns)
        delete pending.second.connection.data();
}

void AppDelegate::connectOutlets(QWidget& signInWindow)
{
    window = &signInWindow;
    containerBox = outlet<QGroupBox>(signInWindow, "containerBox");
    lblUsername = outlet<QLabel>(signInWindow, "lblUsername");
    userNameTxtField = outlet<QLineEdit>(signInWindow, "userNameTxtField");
    lblPassword = outlet<QLabel>(signInWindow, "lblPassword");
    passwordTxtField = outlet<QLineEdit>(signInWindow, "passwordTxtField");
    btnSignIn = outlet<QPushButton>(signInWindow, "btnSignIn");
    signInstatusLbl = outlet<QLabel>(signInWindow, "signInstatusLbl");
    btnSingout = outlet<QPushButton>(signInWindow, "btnSingout");
    frequencyComboBox = outlet<QComboBox>(signInWindow, "frequencyComboBox");
    showNotifactionCheckBox = outlet<QCheckBox>(signInWindow, "showNotifactionCheckBox");
    progressIndicator = outlet<QProgressBar>(signInWindow, "progressIndicator");
}

void AppDelegate::connectActions()
{
    connect(btnSignIn, &QPushButton::clicked, this, [this] { onSignInAction(btnSignIn); });
    connect(btnSingout, &QPushButton::clicked, this, [this] { onSignOutAction(btnSingout); });
    // Enter in either field presses the sign-in button, as a dialog's default
    // button would be pressed.
    for (QLineEdit* field : { userNameTxtField.data(), passwordTxtField.data() })
        connect(field, &QLineEdit::returnPressed, btnSignIn, &QPushButton::click);
    // activated and clicked come only from a user's choice, never from the
    // program setting the controls.
    connect(frequencyComboBox, &QComboBox::activated, this,
        [this] { onFrequencyChange(frequencyComboBox); });
    connect(showNotifactionCheckBox, &QCheckBox::clicked, this,
        [this] { onNotificationChange(showNotifactionCheckBox); });
}

void AppDelegate::applicationDidFinishLaunching(const Notification&)
{
    Application::setApplicationIconImage(Bundle::imageNamed(QStringLiteral("icon_128x128.png")));
    killAllOtherInstance();
    progressIndicator->hide();
    userName = QString();
    password = QString();
    freequency = -1;
    status = -1;
    m_launchWhenSignedIn = true;
    applyStoredDetails();
    Application::activateIgnoringOtherApps(true);
}

// The window follows the record: at start-up, whenever the program is
// brought forward (the notifier does so after a sign-out from its menu), and
// when a keyring that could not be asked may answer again. A locked or absent
// keyring says nothing about the record: what the window shows stays, and
// the record is read again once the keyring is back.
void AppDelegate::applyStoredDetails()
{
    UserDetails stored { userName, password, freequency, status };
    Error error;
    if (DetailsRecord::getDetailsFromKeyChain(stored, &error)) {
        m_storeWatcher.stop();
        userName = stored.userName;
        password = stored.password;
        freequency = stored.freequency;
        status = stored.status;
        setSignLabelStatus();
        showloggedIn();
        showStoredSettings();
        if (std::exchange(m_launchWhenSignedIn, false))
            launchApplication(StatusBarApplicationName);
        return;
    }
    if (KeychainStore::isStoreUnavailableError(error)) {
        // Only a start-up has no view yet; a later one stays as it is.
        if (m_launchWhenSignedIn)
            showKeyringUnavailable();
        m_storeWatcher.start();
        return;
    }
    m_storeWatcher.stop();
    // A signed-out view already shown keeps the settings chosen in it.
    const bool showView = std::exchange(m_launchWhenSignedIn, false) || !userName.isEmpty()
        || btnSignIn->isHidden();
    forgetCredentials();
    if (showView) {
        showSignIn();
        showStoredSettings();
    }
}

void AppDelegate::showStoredSettings()
{
    // The stored choices, so that the next settings change keeps them
    // instead of silently storing whatever the window showed.
    if (userName.isNull()) {
        frequencyComboBox->setCurrentIndex(0);
        return;
    }
    const bool known = freequency >= 0 && freequency < frequencyComboBox->count();
    frequencyComboBox->setCurrentIndex(known ? freequency : -1);
    showNotifactionCheckBox->setChecked(status == 1);
}

void AppDelegate::applicationWillTerminate(const Notification&)
{
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed(QObject*)
{
    launchApplication(StatusBarApplicationName);
    return true;
}

bool AppDelegate::applicationShouldHandleReopen(QObject*, bool)
{
    // Showing a user signed out from the notifier's menu as still signed in
    // would let the next settings change write the record back.
    applyStoredDetails();
    return true;
}

void AppDelegate::showSignIn()
{
    btnSingout->hide();
    signInstatusLbl->hide();
    userNameTxtField->show();
    passwordTxtField->show();
    lblPassword->show();
    lblUsername->show();
    containerBox->setTitle(tr("Sign In"));
    btnSignIn->show();
    userNameTxtField->setFocus();
}

// The status line alone: no fields, no sign-in button, no title.
void AppDelegate::showStatusOnly()
{
    signInstatusLbl->show();
    userNameTxtField->hide();
    passwordTxtField->hide();
    lblPassword->hide();
    lblUsername->hide();
    containerBox->setTitle(QString());
    btnSignIn->hide();
}

void AppDelegate::showKeyringUnavailable()
{
    btnSingout->hide();
    signInstatusLbl->setText(tr("Waiting for the keyring: it is locked or not running."));
    showStatusOnly();
}

void AppDelegate::showloggedIn()
{
    btnSingout->show();
    showStatusOnly();
    btnSingout->setFocus();
}

void AppDelegate::setSignLabelStatus()
{
    // Concatenated, not formatted: a user name may hold "%1".
    signInstatusLbl->setText(tr("You are Logged in as ") + userName);
}

void AppDelegate::populateUIValues()
{
    // Only the settings come from the window. The credentials are the
    // signed-in user's held in memory: after a sign-in the fields have been
    // emptied, and after a start with a stored record they were never filled.
    freequency = frequencyComboBox->currentIndex();
    status = showNotifactionCheckBox->isChecked() ? 1 : 0;
}

void AppDelegate::addDetailsToKeyChain()
{
    populateUIValues();
    DetailsRecord::addDetailsToKeyChain({ userName, password, freequency, status });
}

bool AppDelegate::getDetailsFromKeyChain()
{
    UserDetails details { userName, password, freequency, status };
    if (!DetailsRecord::getDetailsFromKeyChain(details))
        return false;
    userName = details.userName;
    password = details.password;
    freequency = details.freequency;
    status = details.status;
    return true;
}

void AppDelegate::onSignOutAction(QObject*)
{
    Error error;
    if (!DetailsRecord::clearDetailsInKeyChain(&error)) {
        // The password is still in the keyring and the next start would sign
        // the user in again: they stay signed in, and are told.
        m_alertPresenter.runModal(
            { tr("You could not be signed out."), keyringUnavailableText(), { tr("OK") } });
        return;
    }
    // Forgotten, or the next settings change would store them again and
    // silently sign the user back in.
    forgetCredentials();
    showSignIn();
    // A running notifier reads the record again when brought forward, finds
    // none and stops posting the password.
    launchApplication(StatusBarApplicationName);
}

void AppDelegate::onFrequencyChange(QObject*)
{
    storeSettings();
}

void AppDelegate::onNotificationChange(QObject*)
{
    storeSettings();
}

void AppDelegate::storeSettings()
{
    if (userName.isEmpty())
        return;
    // The user may have signed out from the notifier's menu meanwhile:
    // storing now would sign them in again with the old credentials.
    UserDetails stored;
    Error error;
    const bool read = DetailsRecord::getDetailsFromKeyChain(stored, &error);
    if (read && stored.userName == userName) {
        password = stored.password;
        const qint32 storedFreequency = freequency;
        const qint32 storedStatus = status;
        populateUIValues();
        if (DetailsRecord::addDetailsToKeyChain({ userName, password, freequency, status }, &error)) {
            launchApplication(StatusBarApplicationName);
            return;
        }
        freequency = storedFreequency;
        status = storedStatus;
    } else if (read || !KeychainStore::isStoreUnavailableError(error)) {
        forgetCredentials();
        showSignIn();
        showStoredSettings();
        return;
    }
    qCWarning(lcKeyring) << "A settings change could not be stored:" << error.localizedDescription();
    showStoredSettings();
    m_alertPresenter.runModal(
        { tr("Your change could not be saved."), keyringUnavailableText(), { tr("OK") } });
}

void AppDelegate::forgetCredentials()
{
    userName = QString();
    password = QString();
}

void AppDelegate::killAllOtherInstance()
{
    ProcessHelpers::killAllOtherInstance(SignInBundleIdentifier);
}

// Only the hand-over to the notifier: told when neither the bus nor the
// notifier's desktop entry could start it, since checks and notifications
// would otherwise silently never come.
void AppDelegate::launchApplication(const QString& name)
{
    ProcessHelpers::launchApplication(
        name, [presenter = QPointer<AlertPresenter>(&m_alertPresenter)](const Error& failure) {
            if (!failure.isNull() && presenter)
                presenter->runModal({ tr("The notifier could not be started."),
                    failure.localizedDescription(), { tr("OK") } });
        });
}

bool AppDelegate::checkEmpty(const QLineEdit* textField)
{
    const QString text = textField->text();
    return std::all_of(text.cbegin(), text.cend(), isWhiteSpaceOrNewline);
}

void AppDelegate::onSignInAction(QObject*)
{
    startProgressIndicator();
    if (checkEmpty(userNameTxtField)) {
        alertMissingField(tr("Please enter your user name."), userNameTxtField);
        return;
    }
    if (checkEmpty(passwordTxtField)) {
        alertMissingField(tr("Please enter your password."), passwordTxtField);
        return;
    }
    // As typed: only the emptiness test trims.
    const QString typedUserName = userNameTxtField->text();
    const QString typedPassword = passwordTxtField->text();
    // A press while the same credentials are already on their way asks
    // nothing new: their one answer serves it. Presses in a row would
    // otherwise post the password once each and end in one alert or one
    // hand-over each.
    const bool alreadyAsked = std::any_of(m_pendingSignIns.cbegin(), m_pendingSignIns.cend(),
        [&](const auto& pending) {
            return pending.second.credentials.userName == typedUserName
                && pending.second.credentials.password == typedPassword;
        });
    if (!alreadyAsked)
        checkDocuments(typedUserName, typedPassword);
}

void AppDelegate::alertMissingField(const QString& text, QLineEdit* field)
{
    stopProgressIndicator();
    m_alertPresenter.runModal({ text, QString(), { tr("OK") } },
        [field = QPointer<QLineEdit>(field)](int) {
            if (field)
                field->setFocus();
        });
}

void AppDelegate::checkDocuments(const QString& typedUserName, const QString& typedPassword)
{
    URLConnection* connection = URLConnection::initWithRequest(
        severityCountRequest(typedUserName, typedPassword, m_serviceURL), this,
        m_networkAccessManager);
    m_pendingSignIns[connection] = { connection, { typedUserName, typedPassword } };
}

void AppDelegate::connectionDidFinishLoading(URLConnection* connection)
{
    const ExchangeOutcome outcome = _responseData.connectionDidFinishLoading(connection);
    const auto found = m_pendingSignIns.find(connection);
    if (found == m_pendingSignIns.end())
        return;
    // Taken out first: nothing below may take this request for one still
    // under way.
    const Credentials sent = found->second.credentials;
    m_pendingSignIns.erase(found);

    switch (outcome.kind) {
    case ExchangeOutcome::Kind::Counts: {
        userName = sent.userName;
        password = sent.password;
        populateUIValues();
        Error stored;
        if (!DetailsRecord::addDetailsToKeyChain({ userName, password, freequency, status }, &stored)) {
            // Nothing was kept: a signed-in view now would be undone by the
            // next start, and the notifier would have no one to check for.
            forgetCredentials();
            qCWarning(lcKeyring) << "An accepted sign-in could not be stored:" << stored.localizedDescription();
            m_alertPresenter.runModal(
                { tr("You could not be signed in."), keyringUnavailableText(), { tr("OK") } });
            break;
        }
        showloggedIn();
        setSignLabelStatus();
        emptyTextFields();
        launchApplication(StatusBarApplicationName);
        break;
    }
    case ExchangeOutcome::Kind::Refused:
        m_alertPresenter.runModal(Alert::alertWithError(
            Error::errorWithDomain(SeverityCount::textForm(outcome.message), 0)));
        emptyTextFields();
        break;
    case ExchangeOutcome::Kind::Unreadable:
        break;
    }
    stopProgressIndicator();
}

void AppDelegate::connectionDidFailWithError(URLConnection* connection, const Error& error)
{
    _responseData.connectionDidFailWithError(connection);
    if (m_pendingSignIns.erase(connection) == 0)
        return;
    m_alertPresenter.runModal(Alert::alertWithError(error));
    stopProgressIndicator();
    emptyTextFields();
}

void AppDelegate::emptyTextFields()
{
    passwordTxtField->setText(QString());
    userNameTxtField->setText(QString());
}

void AppDelegate::startProgressIndicator()
{
    progressIndicator->setRange(0, 0); // a busy bar moves by itself
    progressIndicator->show();
}

void AppDelegate::stopProgressIndicator()
{
    // Another sign-in still running keeps it going.
    if (!m_pendingSignIns.empty())
        return;
    progressIndicator->setRange(0, 1);
    progressIndicator->hide();
}
