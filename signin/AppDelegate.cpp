#include "signin/AppDelegate.h"

#include "common/KeychainStore.h"
#include "common/NotifierBus.h"
#include "common/ProcessHelpers.h"
#include "common/SeverityCountRequest.h"
#include "common/ShownText.h"
#include "platform/Alert.h"
#include "platform/AlertPresenter.h"
#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/Error.h"
#include "platform/Logging.h"
#include "signin/SignInWindow.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <utility>

namespace {

using StoredDetails = DetailsRecord::StoredDetails;

// How long a closing program waits for the hand-over to the notifier to answer.
constexpr std::chrono::seconds HandOverAnswerLimit(10);

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

} // namespace

AppDelegate::AppDelegate(SignInWindow& window, AlertPresenter& alertPresenter,
    QNetworkAccessManager& networkAccessManager, const QUrl& serviceURL, QObject* parent)
    : ApplicationDelegate(parent)
    , m_window(window)
    , m_alertPresenter(alertPresenter)
    , m_networkAccessManager(networkAccessManager)
    , m_serviceURL(serviceURL)
{
    connect(&window, &SignInWindow::signInAction, this, [this] { onSignInAction(&m_window); });
    connect(&window, &SignInWindow::signOutAction, this, [this] { onSignOutAction(&m_window); });
    connect(
        &window, &SignInWindow::frequencyChange, this, [this] { onFrequencyChange(&m_window); });
    connect(&window, &SignInWindow::notificationChange, this,
        [this] { onNotificationChange(&m_window); });
    connect(&window, &SignInWindow::unlockKeyringAction, this,
        [this] { onUnlockKeyringAction(&m_window); });
    connect(&m_storeWatcher, &SecretServiceWatcher::storeReady, this,
        qOverload<>(&AppDelegate::applyStoredDetails));
    // The window follows the record wherever it is changed: a sign-out from
    // the notifier's menu shows the sign-in form at once.
    connect(&m_storeWatcher, &SecretServiceWatcher::itemsChanged, this,
        qOverload<>(&AppDelegate::applyStoredDetails));
}

void AppDelegate::applicationDidFinishLaunching(const Notification&)
{
    Application::setApplicationIconImage(Bundle::imageNamed(QStringLiteral("icon_128x128.png")));
    killAllOtherInstance();
    m_window.setBusy(false);
    forgetCredentials();
    freequency = -1;
    status = -1;
    m_launchWhenSignedIn = true;
    m_storeWatcher.watchItems();
    // Nothing to sign in or out with until the keyring has answered.
    m_window.setStatusText(QString());
    m_window.showStatus(false);
    applyStoredDetails();
    Application::activateIgnoringOtherApps(true);
}

// The window follows the record: at start-up, whenever the program is
// brought forward (the notifier does so after a sign-out from its menu), and
// when a keyring that could not be asked may answer again.
void AppDelegate::applyStoredDetails()
{
    getDetailsFromKeyChain([this](const StoredDetails& stored) { applyStoredDetails(stored); });
}

// A locked or absent keyring says nothing about the record: what the window
// shows stays, and the record is read again once the keyring is back.
void AppDelegate::applyStoredDetails(const StoredDetails& stored)
{
    const Error& error = stored.error;
    if (stored.loaded) {
        m_storeWatcher.stop();
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
        m_storeWatcher.start(KeychainStore::unavailableReason(error));
        // The person who opened the window is asked once; the waiting view
        // offers to ask again.
        if (error.code == KeychainStatus::InteractionNotAllowed
            && !std::exchange(m_unlockAsked, true))
            unlockKeyring([](bool) {});
        return;
    }
    m_storeWatcher.stop();
    // A signed-out view already shown keeps the settings chosen in it.
    const bool showView = std::exchange(m_launchWhenSignedIn, false) || !userName.isEmpty()
        || !m_window.isShowingSignIn();
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
        m_window.showSettings(0, std::nullopt);
        return;
    }
    const bool known = freequency >= 0 && freequency < m_window.frequencyCount();
    m_window.showSettings(known ? freequency : -1, status == 1);
}

void AppDelegate::applicationWillTerminate(const Notification&)
{
}

// The program ends once the hand-over has answered, and after its alert if
// it failed: ended at once, it would never hear the bus say it cannot start
// the notifier, so neither the start from the desktop entry nor the alert of
// its failure would run. An answer that does not come in time ends it anyway.
bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed(QObject* sender)
{
    if (m_terminating)
        return false; // the hand-over's alert closing
    m_terminating = true;
    QPointer<QObject> asked(sender);
    const auto terminate = [this, asked] {
        m_terminationLimit.stop();
        Application::terminate(asked);
    };
    m_terminationLimit.setSingleShot(true);
    connect(&m_terminationLimit, &QTimer::timeout, this, terminate);
    m_terminationLimit.start(HandOverAnswerLimit);
    launchApplication(StatusBarApplicationName, terminate, [this] { m_terminationLimit.stop(); });
    return false;
}

bool AppDelegate::applicationShouldHandleReopen(QObject*, bool)
{
    // Showing a user signed out from the notifier's menu as still signed in
    // would let the next settings change write the record back.
    applyStoredDetails();
    return true;
}

bool AppDelegate::applicationPerformAction(QObject* sender, const QString& name)
{
    if (name == QLatin1String("check-now")) {
        NotifierBus::checkNow();
        return true;
    }
    if (name == QLatin1String("sign-out")) {
        onSignOutAction(sender);
        return true;
    }
    return false;
}

void AppDelegate::showSignIn()
{
    m_showingKeyringWait = false;
    m_window.showSignIn();
}

void AppDelegate::showKeyringUnavailable()
{
    m_showingKeyringWait = true;
    m_window.setStatusText(tr("Waiting for the keyring: it is locked or not running."));
    m_window.showStatus(false);
}

void AppDelegate::showloggedIn()
{
    m_showingKeyringWait = false;
    m_window.showStatus(true);
}

void AppDelegate::onUnlockKeyringAction(QObject*)
{
    unlockKeyring([](bool) {});
}

// One prompt at a time; the record is read again once the keyring unlocks,
// as the watcher would on its signal.
void AppDelegate::unlockKeyring(std::function<void(bool unlocked)> completion)
{
    if (m_unlocking)
        return;
    m_unlocking = true;
    m_window.showUnlockKeyring(false);
    DetailsRecord::unlockKeyChain(
        this, [this, completion = std::move(completion)](const StoredDetails& unlock) {
            const Error& error = unlock.error;
            m_unlocking = false;
            if (!error.isNull()) {
                qCInfo(lcKeyring).noquote()
                    << "The keyring stays locked:" << KeychainStore::unavailableReason(error);
                if (m_showingKeyringWait)
                    m_window.showUnlockKeyring(true);
            } else if (m_storeWatcher.isWatching()) {
                applyStoredDetails();
            }
            completion(error.isNull());
        });
}

void AppDelegate::setSignLabelStatus()
{
    // Concatenated, not formatted: a user name may hold "%1".
    m_window.setStatusText(tr("You are Logged in as ") + userName);
}

void AppDelegate::populateUIValues()
{
    // Only the settings come from the window. The credentials are the
    // signed-in user's held in memory: after a sign-in the fields have been
    // emptied, and after a start with a stored record they were never filled.
    freequency = m_window.selectedFrequency();
    status = m_window.isNotificationChecked() ? 1 : 0;
}

void AppDelegate::addDetailsToKeyChain(const QString& newUserName, const QString& newPassword,
    DetailsRecord::StoreCompletion completion)
{
    populateUIValues();
    DetailsRecord::addDetailsToKeyChain(
        { newUserName, newPassword, freequency, status }, this, std::move(completion));
}

void AppDelegate::getDetailsFromKeyChain(DetailsRecord::StoreCompletion completion)
{
    DetailsRecord::getDetailsFromKeyChain(
        this, [this, completion = std::move(completion)](const StoredDetails& stored) {
            if (stored.loaded) {
                userName = stored.details.userName;
                password = stored.details.password;
                freequency = stored.details.freequency;
                status = stored.details.status;
            }
            completion(stored);
        });
}

void AppDelegate::onSignOutAction(QObject*)
{
    DetailsRecord::clearDetailsInKeyChain(this, [this](const StoredDetails& cleared) {
        if (!cleared.error.isNull()) {
            // The password is still in the keyring and the next start would
            // sign the user in again: they stay signed in, and are told.
            alertKeyringUnavailable(tr("You could not be signed out."));
            return;
        }
        // Forgotten, or the next settings change would store them again and
        // silently sign the user back in.
        forgetCredentials();
        showSignIn();
        // A running notifier reads the record again when brought forward,
        // finds none and stops posting the password.
        launchApplication(StatusBarApplicationName);
    });
}

void AppDelegate::onFrequencyChange(QObject*)
{
    storeSettings();
}

void AppDelegate::onNotificationChange(QObject*)
{
    storeSettings();
}

// The user may have signed out from the notifier's menu meanwhile: the
// record takes the change only while it still holds the user shown here, or
// the change would sign them in again with the old credentials.
void AppDelegate::storeSettings(bool unlockAsked)
{
    if (userName.isEmpty())
        return;
    DetailsRecord::updateSettingsInKeyChain(userName, m_window.selectedFrequency(),
        m_window.isNotificationChecked() ? 1 : 0, this,
        [this, unlockAsked](const StoredDetails& stored) {
            if (stored.error.code == KeychainStatus::InteractionNotAllowed && !unlockAsked
                && !m_unlocking) {
                unlockKeyring([this](bool) { storeSettings(true); });
                return;
            }
            if (stored.loaded && stored.error.isNull()) {
                password = stored.details.password;
                freequency = stored.details.freequency;
                status = stored.details.status;
                launchApplication(StatusBarApplicationName);
                return;
            }
            if (!stored.loaded && !KeychainStore::isStoreUnavailableError(stored.error)) {
                forgetCredentials();
                showSignIn();
                showStoredSettings();
                return;
            }
            qCWarning(lcKeyring).noquote() << "A settings change could not be stored:"
                                           << KeychainStore::unavailableReason(stored.error);
            showStoredSettings();
            alertKeyringUnavailable(tr("Your change could not be saved."));
        });
}

void AppDelegate::alertKeyringUnavailable(const QString& messageText)
{
    m_alertPresenter.runModal(
        { messageText, tr("The keyring is locked or not running. Try again once it is available."),
            { tr("OK") } });
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
    launchApplication(name, {}, {});
}

void AppDelegate::launchApplication(
    const QString& name, std::function<void()> then, std::function<void()> answered)
{
    ProcessHelpers::launchApplication(name,
        [answered = std::move(answered),
            alert = ProcessHelpers::alertingFailure(name, &m_alertPresenter, std::move(then),
                tr("The notifier could not be started."))](const Error& failure) {
            if (answered)
                answered();
            alert(failure);
        });
}

bool AppDelegate::checkEmpty(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), isWhiteSpaceOrNewline);
}

void AppDelegate::onSignInAction(QObject*)
{
    m_window.setBusy(true);
    // As typed: only the emptiness test trims.
    const Credentials typed { m_window.typedText(SignInField::UserName),
        m_window.typedText(SignInField::Password) };
    if (checkEmpty(typed.userName)) {
        alertMissingField(tr("Please enter your user name."), SignInField::UserName);
        return;
    }
    if (checkEmpty(typed.password)) {
        alertMissingField(tr("Please enter your password."), SignInField::Password);
        return;
    }
    // The record reader takes a longer value for no user: accepted, it would
    // look signed in, and the notifier and the next start would find no one.
    for (const auto& [text, field] : { std::pair { typed.userName, SignInField::UserName },
             std::pair { typed.password, SignInField::Password } }) {
        if (DetailsRecord::isValueTooLong(text)) {
            alertValueTooLong(field);
            return;
        }
    }
    // A press while the same credentials are already on their way, to the
    // service or into the keyring, asks nothing new: their one answer serves
    // it. Presses in a row would otherwise post the password once each and
    // end in one alert or one hand-over each.
    const bool alreadyAsked
        = std::any_of(m_pendingSignIns.cbegin(), m_pendingSignIns.cend(),
              [&](const auto& pending) { return pending.second.credentials == typed; })
        || std::find(m_signInsBeingStored.cbegin(), m_signInsBeingStored.cend(), typed)
            != m_signInsBeingStored.cend();
    if (!alreadyAsked)
        checkDocuments(typed.userName, typed.password);
}

void AppDelegate::alertMissingField(const QString& text, SignInField field)
{
    stopProgressIndicator();
    m_alertPresenter.runModal({ text, QString(), { tr("OK") } },
        [window = QPointer<SignInWindow>(&m_window), field](int) {
            if (window)
                window->focus(field);
        });
}

void AppDelegate::alertValueTooLong(SignInField field)
{
    stopProgressIndicator();
    const QString detail
        = tr("It may be at most %1 bytes long.").arg(DetailsRecord::MaximumValueSize);
    m_alertPresenter.runModal({ field == SignInField::UserName ? tr("Your user name is too long.")
                                                               : tr("Your password is too long."),
                                  detail, { tr("OK") } },
        [window = QPointer<SignInWindow>(&m_window), field](int) {
            if (window)
                window->focus(field);
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
    case ExchangeOutcome::Kind::Counts:
        storeAcceptedSignIn(sent);
        break;
    case ExchangeOutcome::Kind::Refused:
        m_alertPresenter.runModal(Alert::alertWithError(Error::errorWithDomain(
            shownText(SeverityCount::textForm(outcome.message), ShownMessageLength), 0)));
        m_window.emptyTextFields();
        break;
    case ExchangeOutcome::Kind::Unreadable:
        // Not an acceptance, and not the service's refusal either: the
        // fields keep their text for another try.
        m_alertPresenter.runModal(SeverityCount::unreadableAnswerAlert(outcome.statusCode));
        break;
    }
    stopProgressIndicator();
}

// The accepted user is held, shown and handed over once the keyring has kept
// them: a signed-in view of a user the keyring lost would be undone by the
// next start, and the notifier would have no one to check for.
void AppDelegate::storeAcceptedSignIn(const Credentials& accepted, bool unlockAsked)
{
    m_signInsBeingStored.push_back(accepted);
    addDetailsToKeyChain(accepted.userName, accepted.password,
        [this, accepted, unlockAsked](const StoredDetails& stored) {
            const Error& error = stored.error;
            std::erase(m_signInsBeingStored, accepted);
            // Asked once, and stored again when the keyring unlocks; the busy
            // bar runs on meanwhile.
            if (error.code == KeychainStatus::InteractionNotAllowed && !unlockAsked
                && !m_unlocking) {
                m_signInsBeingStored.push_back(accepted);
                unlockKeyring([this, accepted](bool) {
                    std::erase(m_signInsBeingStored, accepted);
                    storeAcceptedSignIn(accepted, true);
                });
                return;
            }
            if (!error.isNull()) {
                qCWarning(lcKeyring).noquote() << "An accepted sign-in could not be stored:"
                                               << KeychainStore::unavailableReason(error);
                alertKeyringUnavailable(tr("You could not be signed in."));
            } else {
                userName = accepted.userName;
                password = accepted.password;
                showloggedIn();
                setSignLabelStatus();
                m_window.emptyTextFields();
                launchApplication(StatusBarApplicationName);
            }
            stopProgressIndicator();
        });
}

void AppDelegate::connectionDidFailWithError(URLConnection* connection, const Error& error)
{
    _responseData.connectionDidFailWithError(connection);
    if (m_pendingSignIns.erase(connection) == 0)
        return;
    m_alertPresenter.runModal(SeverityCount::unreachableServiceAlert(error));
    stopProgressIndicator();
    m_window.emptyTextFields();
}

void AppDelegate::stopProgressIndicator()
{
    // Another sign-in still running keeps it going.
    if (m_pendingSignIns.empty() && m_signInsBeingStored.empty())
        m_window.setBusy(false);
}
