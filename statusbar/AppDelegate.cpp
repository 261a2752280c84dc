#include "statusbar/AppDelegate.h"

#include "common/KeychainStore.h"
#include "common/ProcessHelpers.h"
#include "common/SeverityCountRequest.h"
#include "common/ShownText.h"
#include "platform/Alert.h"
#include "platform/AlertPresenter.h"
#include "platform/Logging.h"
#include "platform/NetworkReachability.h"
#include "platform/SecretServiceWatcher.h"
#include "platform/Timer.h"
#include "platform/UserNotificationCenter.h"
#include "statusbar/StatusMenu.h"

#include <QNetworkAccessManager>
#include <algorithm>
#include <optional>
#include <utility>

namespace {

using StoredDetails = DetailsRecord::StoredDetails;

// A category of the program's own: no freedesktop category is about documents.
const QString NotificationCategory = QStringLiteral("x-tarvendesk.documents");

struct CheckSchedule
{
    double firstDelay;
    double interval;
};

// By the frequency index of the record; any other index has no schedule.
std::optional<CheckSchedule> checkSchedule(qint32 freequency)
{
    switch (freequency) {
    case 0:
        return CheckSchedule { 30, 86400 };
    case 1:
        return CheckSchedule { 30, 43200 };
    case 2:
        return CheckSchedule { 86400, 86400 };
    default:
        return std::nullopt;
    }
}

Alert alertWithText(const QString& informativeText)
{
    return Alert { AppDelegate::tr(" tarvenDESK"), informativeText, { AppDelegate::tr("OK") } };
}

// A count the answer gives as a number or as a number's text.
double countOf(const QJsonValue& value)
{
    return value.isString() ? value.toString().toDouble() : value.toDouble();
}

} // namespace

AppDelegate::AppDelegate(StatusMenu& statusMenu, AlertPresenter& alertPresenter,
    QNetworkAccessManager& networkAccessManager, UserNotificationCenter& notificationCenter,
    NetworkReachability& networkReachability, const QUrl& serviceURL,
    std::chrono::milliseconds requestTimeLimit)
    : m_statusMenu(statusMenu)
    , m_alertPresenter(alertPresenter)
    , m_networkAccessManager(networkAccessManager)
    , m_notificationCenter(notificationCenter)
    , m_networkReachability(networkReachability)
    , m_serviceURL(serviceURL.isEmpty() ? SeverityCountURL() : serviceURL)
    , m_requestTimeLimit(requestTimeLimit)
{
    connect(&m_statusMenu, &StatusMenu::checkNotificationMenuItemClicked, this,
        &AppDelegate::onCheckNotificationMenuItemClick);
    connect(&m_statusMenu, &StatusMenu::goToApplicationMenuItemClicked, this,
        &AppDelegate::onGoToApplicationMenuItemClick);
    connect(&m_statusMenu, &StatusMenu::signOutMenuItemClicked, this,
        &AppDelegate::onSignOutMenuItemClick);
    connect(&m_statusMenu, &StatusMenu::unlockKeyringMenuItemClicked, this,
        &AppDelegate::onUnlockKeyringMenuItemClick);
    connect(&m_networkReachability, &NetworkReachability::reachabilityChanged, this,
        &AppDelegate::onReachabilityChanged);
    connect(
        &m_storeWatcher, &SecretServiceWatcher::storeReady, this, &AppDelegate::applyStoredDetails);
    // A check that falls due while an alert is up runs once it is dismissed,
    // so that a user away from the screen finds one alert, not a pile.
    connect(
        &m_alertPresenter, &AlertPresenter::modalAlertRunningChanged, this, [this](bool running) {
            if (notificationTImer)
                notificationTImer->setFiringsHeld(running);
        });
    // A click on the notification goes where the menu's entry goes.
    connect(&m_notificationCenter, &UserNotificationCenter::didActivateNotification, this,
        [this] { onGoToApplicationMenuItemClick(&m_notificationCenter); });
}

// Out of line, where Timer is complete.
AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching(const Notification&)
{
    killAllOtherInstance();
    // Up before the keyring is read and the first check sent: either may
    // wait on another program.
    m_statusMenu.showStatusItem();
    applyStoredDetails();
}

void AppDelegate::applicationWillTerminate(const Notification&)
{
}

bool AppDelegate::applicationShouldHandleReopen(QObject*, bool)
{
    // The program that asked waits for the answer; the record is read on the
    // store's worker and acted on when it comes.
    applyStoredDetails();
    return true;
}

void AppDelegate::getUserDeatils(DetailsRecord::StoreCompletion completion)
{
    readUserDetails(std::move(completion));
}

quint64 AppDelegate::readUserDetails(DetailsRecord::StoreCompletion completion)
{
    const quint64 generation = ++m_storeGeneration;
    DetailsRecord::getDetailsFromKeyChain(
        this, [this, generation, completion = std::move(completion)](const StoredDetails& stored) {
            // A sign-out asked since has the last word on the store.
            if (generation != m_storeGeneration)
                return;
            if (stored.loaded)
                setDetails(stored.details);
            completion(stored);
        });
    return generation;
}

void AppDelegate::setDetails(const UserDetails& details)
{
    userName = details.userName;
    password = details.password;
    freequency = details.freequency;
    status = details.status;
}

// Reading the record and acting on it, at start-up and whenever the program
// is brought forward or the store becomes usable. What an earlier reading set
// up is replaced, not added to; a record that is the one already in force is
// left running as it is, so that being brought forward (as the sign-in
// program does at its every start and end) checks only when something changed.
// One read at a time: the watcher's retries and the activations can come
// faster than a slow keyring answers, and would pile up on its worker. A
// reason to read that comes meanwhile is one more read after the answer.
void AppDelegate::applyStoredDetails()
{
    if (isReadAwaited()) {
        m_recordRead->again = true;
        return;
    }
    const quint64 generation = readUserDetails([this](const StoredDetails& stored) {
        const bool again = m_recordRead && m_recordRead->again;
        m_recordRead.reset();
        applyReadDetails(stored);
        if (again)
            applyStoredDetails();
        else if (std::exchange(m_checkAfterRead, false))
            onCheckNotificationMenuItemClick(this);
    });
    m_recordRead = RecordRead { generation };
}

void AppDelegate::applyReadDetails(const StoredDetails& stored)
{
    const bool loaded = stored.loaded;
    const Error& error = stored.error;
    const bool firstAnswer = !std::exchange(m_storeAnswered, true);
    m_keyringLocked = !loaded && error.code == KeychainStatus::InteractionNotAllowed;
    m_statusMenu.showKeyringLocked(m_keyringLocked);
    if (m_keyringLocked && firstAnswer)
        onUnlockKeyringMenuItemClick(this);
    if (loaded) {
        m_storeWatcher.stop();
        const QString record = DetailsRecord::text(details());
        if (record == m_refusedRecord) {
            setDetails({});
            return;
        }
        m_refusedRecord = QString();
        if (record == m_recordInForce)
            return;
        m_recordInForce = record;
        m_statusMenu.showSignOutTitle();
        configureNotification();
        return;
    }
    forgetUser();
    if (KeychainStore::isStoreUnavailableError(error)) {
        m_storeWatcher.start(KeychainStore::unavailableReason(error));
    } else {
        m_storeWatcher.stop();
        m_refusedRecord = QString();
    }
}

void AppDelegate::onCheckNotificationMenuItemClick(QObject*)
{
    // A check asked for as the program starts (the bus starts it for one)
    // would find no user yet and say so: it waits for the record.
    if (isReadAwaited() && userName.isEmpty()) {
        m_checkAfterRead = true;
        return;
    }
    m_checkAskedByPerson = true;
    checkDocumentsDetails();
    m_checkAskedByPerson = false;
}

void AppDelegate::onUnlockKeyringMenuItemClick(QObject*)
{
    if (std::exchange(m_unlocking, true))
        return;
    DetailsRecord::unlockKeyChain(this, [this](const StoredDetails& unlock) {
        m_unlocking = false;
        if (!unlock.error.isNull())
            qCInfo(lcKeyring).noquote()
                << "The keyring stays locked:" << KeychainStore::unavailableReason(unlock.error);
        else if (m_storeWatcher.isWatching())
            applyStoredDetails();
    });
}

void AppDelegate::onGoToApplicationMenuItemClick(QObject*)
{
    launchApplication(QStringLiteral("TarvenDESK.app"));
}

void AppDelegate::onSignOutMenuItemClick(QObject*)
{
    if (!m_statusMenu.isSignOutTitleShown()) {
        launchApplication(QStringLiteral("TarvenDESK.app"));
        return;
    }
    const bool readOvertaken = isReadAwaited();
    ++m_storeGeneration;
    m_recordRead.reset();
    DetailsRecord::clearDetailsInKeyChain(this, [this](const StoredDetails& cleared) {
        if (!cleared.error.isNull()) {
            // The password is still in the keyring, and the next start of
            // either program would sign the user in again: a sign-out that
            // only looked done would be worse than none. The user stays
            // signed in, and is told.
            runAlert(alertWithText(
                tr("You could not be signed out: the keyring is locked or not running. "
                   "Try again once it is available.")));
            return;
        }
        // Nothing more may go out with the credentials of a user who has left.
        forgetUser();
    });
    // A read under way read the store before the sign-out, and its answer is
    // dropped: whatever it was read for is read again after it.
    if (readOvertaken)
        applyStoredDetails();
}

void AppDelegate::forgetUser()
{
    m_statusMenu.showSignInTitle();
    stopChecks();
    abandonRequests();
    setDetails({});
    m_recordInForce = QString();
}

// Nothing of a user who has left reaches the screen: deleting a connection
// ends it without a call, so its counts, refusal or failure never come.
void AppDelegate::abandonRequests()
{
    for (const CheckRequest& request : std::exchange(m_requests, {})) {
        if (!request.connection)
            continue;
        _responseData.connectionDidFailWithError(request.connection);
        delete request.connection.data();
    }
}

// Posting refused credentials on every check, start of the sign-in program
// and record change would lock the account on a service that counts failed
// attempts. The user is shown signed out until the record changes.
void AppDelegate::holdRefusedRecord(URLConnection* refused)
{
    const auto found = std::find_if(m_requests.begin(), m_requests.end(),
        [refused](const CheckRequest& request) { return request.connection == refused; });
    if (found == m_requests.end() || found->record != m_recordInForce)
        return; // sent for a record no longer in force
    // Ending on its own; only the others are abandoned.
    m_requests.erase(found);
    const QString record = m_recordInForce;
    forgetUser();
    m_refusedRecord = record;
}

void AppDelegate::configureNotification()
{
    if (status == 1)
        configureTimer();
    else
        stopChecks();
}

void AppDelegate::configureTimer()
{
    // A timer of an earlier reading goes first, whatever this one sets up.
    stopChecks();
    const std::optional<CheckSchedule> schedule = checkSchedule(freequency);
    if (!schedule)
        return;
    notificationTImer = Timer::scheduledTimer(
        schedule->firstDelay, schedule->interval, [this] { scheduledCheck(); });
    notificationTImer->setFiringsHeld(m_alertPresenter.isModalAlertRunning());
    notificationTImer->fire();
}

void AppDelegate::stopChecks()
{
    if (notificationTImer && notificationTImer->isValid())
        notificationTImer->invalidate();
    notificationTImer.reset();
    m_checkWaitingForNetwork = false;
}

// A check that falls due with no network at all (a laptop just woken) would
// only end in an error: it waits for the network and then runs once.
void AppDelegate::scheduledCheck()
{
    if (!m_networkReachability.isReachable()) {
        m_checkWaitingForNetwork = true;
        return;
    }
    m_checkWaitingForNetwork = false;
    checkDocumentsDetails();
}

void AppDelegate::onReachabilityChanged(bool reachable)
{
    if (reachable && m_checkWaitingForNetwork && notificationTImer)
        scheduledCheck();
}

void AppDelegate::checkDocumentsDetails()
{
    if (userName.isEmpty() && m_keyringLocked) {
        runAlert(alertWithText(tr("The keyring is locked. Unlock it to check your documents.")));
        return;
    }
    if (userName.isEmpty()) {
        alertMissingCredentials(tr("No Valid User Name"));
        return;
    }
    if (password.isEmpty()) {
        alertMissingCredentials(tr("No Valid User Name and Password"));
        return;
    }
    std::erase_if(m_requests, [](const CheckRequest& request) { return !request.connection; });
    URLRequest request = severityCountRequest(userName, password, m_serviceURL);
    if (m_requestTimeLimit.count() > 0)
        request.timeLimit = m_requestTimeLimit;
    URLConnection* connection
        = URLConnection::initWithRequest(request, this, m_networkAccessManager);
    m_requests.push_back({ connection, m_recordInForce, m_checkAskedByPerson });
    connect(connection, &QObject::destroyed, this, &AppDelegate::releaseIdleConnections,
        Qt::QueuedConnection);
}

// Qt keeps about 8 KiB of every finished TLS connection on its HTTP thread,
// though the service closes each one, so a notifier that runs for months
// would only grow. With no check under way, dropping the manager's
// connections and thread gives it all back; the next check starts afresh.
void AppDelegate::releaseIdleConnections()
{
    std::erase_if(m_requests, [](const CheckRequest& request) { return !request.connection; });
    if (m_requests.empty())
        m_networkAccessManager.clearConnectionCache();
}

void AppDelegate::showNotification(const QString& text, bool anyExpired)
{
    UserNotification notification { tr("tarvenDESK!"), text, UserNotificationDefaultSoundName };
    notification.urgency
        = anyExpired ? UserNotification::Urgency::Critical : UserNotification::Urgency::Normal;
    notification.category = NotificationCategory;
    notification.defaultActionTitle = tr("Open tarvenDESK");
    m_notificationCenter.deliverNotification(notification);
    m_statusMenu.showCheckResult(text);
}

// With the way to sign in beside it: the sign-in window.
void AppDelegate::alertMissingCredentials(const QString& informativeText)
{
    Alert alert = alertWithText(informativeText);
    alert.buttons.append(tr("Sign In…"));
    m_alertPresenter.runModal(alert, [this](int pressed) {
        if (pressed == 1)
            onGoToApplicationMenuItemClick(&m_alertPresenter);
    });
}

void AppDelegate::runAlert(const Alert& alert)
{
    m_alertPresenter.runModal(alert);
}

void AppDelegate::killAllOtherInstance()
{
    ProcessHelpers::killAllOtherInstance(StatusBarBundleIdentifier);
}

void AppDelegate::launchApplication(const QString& name)
{
    ProcessHelpers::launchApplication(
        name, ProcessHelpers::alertingFailure(name, &m_alertPresenter));
}

void AppDelegate::connectionDidFinishLoading(URLConnection* connection)
{
    const ExchangeOutcome outcome = _responseData.connectionDidFinishLoading(connection);
    switch (outcome.kind) {
    case ExchangeOutcome::Kind::Counts: {
        const QString text = SeverityCount::notificationText(outcome);
        showNotification(text, countOf(outcome.expired) > 0);
        emit checkFinished(qRound(countOf(outcome.expiring)), qRound(countOf(outcome.critical)),
            qRound(countOf(outcome.expired)), text);
        break;
    }
    case ExchangeOutcome::Kind::Refused:
        runAlert(
            alertWithText(shownText(SeverityCount::textForm(outcome.message), ShownMessageLength)));
        if (SeverityCount::isCredentialsRefusal(outcome))
            holdRefusedRecord(connection);
        break;
    case ExchangeOutcome::Kind::Unreadable: {
        // A scheduled check's is only logged (by the exchange): a person may
        // be away, and the next check may do better.
        const bool askedByPerson = std::any_of(
            m_requests.cbegin(), m_requests.cend(), [connection](const CheckRequest& request) {
                return request.connection == connection && request.askedByPerson;
            });
        if (askedByPerson)
            runAlert(SeverityCount::unreadableAnswerAlert(outcome.statusCode));
        break;
    }
    }
}

void AppDelegate::connectionDidFailWithError(URLConnection* connection, const Error& error)
{
    _responseData.connectionDidFailWithError(connection);
    runAlert(SeverityCount::unreachableServiceAlert(error));
}
