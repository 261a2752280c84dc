// The tray notifier on the real keyring, reference service and a recording notification
// server: its delegate from start-up through checks to sign-out, with the keyring going away
// and coming back, and answers that dribble or point elsewhere. Each fault ends in a clear
// alert or in silence, and the next check notifies. The waits run the event loop the delegate
// shares: a check or a keyring call that held it would hold them too.

#include "common/NotifierBus.h"
#include "common/ProcessHelpers.h"
#include "platform/NetworkReachability.h"
#include "platform/NetworkTrust.h"
#include "platform/StatusItem.h"
#include "platform/StoreWorker.h"
#include "platform/Timer.h"
#include "platform/UserNotificationCenter.h"
#include "programs/ProbeProcess.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/NotifierInterface.h"
#include "statusbar/StatusMenu.h"
#include "support/NotificationRecorder.h"
#include "support/RawTlsServer.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QApplication>
#include <QDBusInterface>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// No network manager can be switched off under a test: the state comes from here.
struct SettableReachability : NetworkReachability
{
    using NetworkReachability::setReachable;
};

const UserDetails Ada { "ada", "s3cret", 0, 1 };
const QByteArray CountsAnswer = R"({"expiring":1,"critical":2,"expired":0})";

} // namespace

class tst_StatusBar : public QObject
{
    Q_OBJECT

    // First, so that it stops last: as the program's entry owns it.
    StoreWorker m_storeWorker;
    ReferenceService m_service;
    std::unique_ptr<RawTlsServer> m_server;
    std::unique_ptr<NotificationRecorder> m_recorder;
    RecordingAlertPresenter m_alerts;
    SettableReachability m_reachability;
    QNetworkAccessManager m_network;
    UserNotificationCenter m_center { QDBusConnection::sessionBus() };
    std::unique_ptr<StatusMenu> m_menu;
    std::unique_ptr<AppDelegate> m_delegate;
    std::unique_ptr<NotifierInterface> m_notifier;
    QStringList m_changedProperties;

    AppDelegate& launch(const QUrl& url, std::chrono::milliseconds timeLimit = {})
    {
        m_menu = std::make_unique<StatusMenu>();
        m_delegate = std::make_unique<AppDelegate>(
            *m_menu, m_alerts, m_network, m_center, m_reachability, url, timeLimit);
        m_delegate->applicationDidFinishLaunching(
            { ApplicationDidFinishLaunchingNotification, qApp });
        return *m_delegate;
    }
    // The store's worker answers in the order asked: a read asked now comes after the delegate's.
    bool settled()
    {
        bool answered = false;
        DetailsRecord::getDetailsFromKeyChain(this, [&](const auto&) { answered = true; });
        return QTest::qWaitFor([&] { return answered; }, 30000);
    }
    // As the sign-in program does after every sign-in and change of settings.
    bool reopen() { return m_delegate->applicationShouldHandleReopen(qApp, false) && settled(); }
    QAction* item(const char* name) const { return m_menu->menu()->findChild<QAction*>(name); }
    void click(const char* name) { item(name)->trigger(); }
    QString title() const { return item("signOutMenuItem")->text(); }
    qsizetype notifications() const { return m_recorder->notifications.size(); }
    // The notifier's state as the other programs read it.
    static std::unique_ptr<QDBusInterface> notifierOnBus()
    {
        return std::make_unique<QDBusInterface>(
            QDBusConnection::sessionBus().baseService(), NotifierObjectPath, NotifierInterfaceName);
    }
    QVariant state(const char* name) const { return notifierOnBus()->property(name); }
    qsizetype alerts() const { return m_alerts.alerts().size(); }
    QString lastAlert() const { return m_alerts.alerts().value(alerts() - 1).informativeText; }

public slots:
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&)
    {
        m_changedProperties += changed.keys();
    }

private slots:
    void initTestCase()
    {
        const QDate today(2031, 3, 10);
        QVERIFY2(m_service.isValid(), qPrintable(m_service.errorString()));
        QVERIFY(m_service.addUser("ada", "s3cret"));
        for (int days : { 20, 25, -1, -30, -100, -200, -300 })
            QVERIFY(m_service.addDocument("ada", QString::number(days), today.addDays(days)));
        QVERIFY2(m_service.start(today), qPrintable(m_service.errorString()));
        QString why;
        const std::optional<TestCertificates> certificates = TestCertificates::make(&why);
        QVERIFY2(certificates, qPrintable(why));
        m_server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        QVERIFY(m_server->listen());
        NetworkTrust::addTrustedCertificates(m_service.caCertificates() << certificates->authority);
        m_recorder = std::make_unique<NotificationRecorder>(QStringList { "body", "sound" });
        QVERIFY2(m_recorder->waitUntilRegistered(), "another test holds the notification service");
        // From another connection, as the other programs hear them.
        QVERIFY(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "observer")
                    .connect(QString(), NotifierObjectPath, "org.freedesktop.DBus.Properties",
                        "PropertiesChanged", this,
                        SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
    }

    // The tests after this one need the keyring and no record, even when it failed half-way.
    // Each starts on an empty keyring: the test programs before this one leave none.
    void cleanup()
    {
        m_notifier.reset();
        m_delegate.reset();
        if (!KeyringDaemon::isRunning())
            QVERIFY(KeyringDaemon::start());
        if (SecretServiceControl::isDefaultCollectionLocked())
            SecretServiceControl::unlockDefaultCollection();
        DetailsRecord::clearDetailsInKeyChain();
        m_recorder->notifications.clear();
        m_alerts.clear();
        m_reachability.setReachable(true);
    }

    // With nothing stored the notifier waits for nothing. A record the sign-in program stores is
    // applied when it brings the notifier forward, and only a changed one. Without a password
    // each check is an alert at once, and one that falls due while an alert is up waits for its
    // end. A scheduled check waits for the network and then runs once; the menu's goes at once.
    // A newer copy of the program ends an older one. The state is on the bus, with a check on
    // demand; without a tray the user is told once where the entries are.
    void recordsAreAppliedAndCheckedUntilSignOut_data()
    {
        QTest::addColumn<bool>("locked"); // how the keyring goes away, or its daemon ends
        QTest::newRow("locked") << true;
        QTest::newRow("not running") << false;
    }

    void recordsAreAppliedAndCheckedUntilSignOut()
    {
        QFETCH(bool, locked);
        QProcess older; // nothing stored: it checks nothing
        older.start(TARVENDESK_BIN_DIR "/tarvenDESKStatusBar");
        QTRY_COMPARE_WITH_TIMEOUT(
            qint64(ownerPid(StatusBarBundleIdentifier)), older.processId(), 30000);
        AppDelegate& delegate = launch(m_service.url());
        QTRY_COMPARE_WITH_TIMEOUT(older.state(), QProcess::NotRunning, 30000);
        QCOMPARE(older.exitStatus(), QProcess::CrashExit);
        QVERIFY(settled());
        QCOMPARE(title(), "Sign In");
        QVERIFY(!delegate.isWaitingForStore()); // empty
        // No tray here: the user is told once where the item's entries are, and its state is on
        // the bus.
        QSettings(QSettings::IniFormat, QSettings::UserScope, "tarvenDESK", "tarvenDESKStatusBar")
            .clear();
        for (int start = 0; start < 2; ++start) {
            m_notifier = std::make_unique<NotifierInterface>(delegate, *m_menu, m_center, 0ms);
            QVERIFY(settled());
        }
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        QVERIFY(m_recorder->notifications.takeFirst().summary.contains("without a tray icon"));
        QVERIFY(m_notifier->exportOn(QDBusConnection::sessionBus()));
        QCOMPARE(state("HasStatusItem"), QVariant(false));
        QCOMPARE(state("SignedIn"), QVariant(false));
        QVERIFY(m_menu->statusItem()->menu());
        QVERIFY(!m_menu->statusItem()->image().isNull());
        for (const auto& [frequency, firstDelay, interval] : { std::tuple { 0, 30.0, 86400.0 },
                 { 1, 30.0, 43200.0 }, { 2, 86400.0, 86400.0 }, { 3, 0.0, 0.0 } }) {
            DetailsRecord::addDetailsToKeyChain({ "ada", "", frequency, 1 });
            QVERIFY(reopen());
            const Timer* timer = delegate.checkTimer();
            QCOMPARE(timer ? timer->firstDelay() : 0, firstDelay);
            QCOMPARE(timer ? timer->timeInterval() : 0, interval);
            m_alerts.setModalAlertRunning(true);
            QCOMPARE(timer && timer->areFiringsHeld(), interval > 0);
            m_alerts.setModalAlertRunning(false);
        }
        // A record changed while it is read is read again once the read has answered.
        delegate.applicationShouldHandleReopen(qApp, false); // the record in force
        DetailsRecord::addDetailsToKeyChain({ "ada", "", 1, 1 }, this, [](const auto&) {});
        QVERIFY(reopen());
        QVERIFY(settled()); // the read asked again when the first answered
        QVERIFY2(delegate.checkTimer(), "a read asked for while another was under way is lost");
        QCOMPARE(delegate.checkTimer()->timeInterval(), 43200.0);
        QCOMPARE(title(), QString("Sign Out"));
        QCOMPARE(alerts(), 4);
        QCOMPARE(lastAlert(), QString("No Valid User Name and Password"));

        m_alerts.clear();
        m_reachability.setReachable(false);
        const int requests = m_service.requestCount();
        DetailsRecord::addDetailsToKeyChain(Ada);
        QVERIFY(reopen());
        QVERIFY(delegate.isCheckWaitingForNetwork());
        m_changedProperties.clear();
        QCOMPARE(notifierOnBus()->call("CheckNow").type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        const RecordedNotification shown = m_recorder->notifications.first();
        QCOMPARE(shown.body, QString("Expiring : 2, Critical :0, Expired : 5"));
        QCOMPARE(state("LastCheckText"), QVariant(shown.body));
        QCOMPARE(QList({ state("Expiring"), state("Critical"), state("Expired") }),
            QVariantList({ 2, 0, 5 }));
        QVERIFY(
            qAbs(state("LastCheckTime").toLongLong() - QDateTime::currentSecsSinceEpoch()) < 60);
        QCOMPARE(state("SignedIn"), QVariant(true));
        QTRY_VERIFY(m_changedProperties.contains("LastCheckText"));
        QCOMPARE(shown.hints.value("urgency"), QVariant::fromValue(uchar(2))); // 5 expired
        QVERIFY(shown.actions.contains("default"));
        QVERIFY(shown.hints.contains("category"));
        QVERIFY(shown.hints.contains("sound-name"));
        QVERIFY(m_menu->statusItem()->toolTip().contains(shown.body));
        m_reachability.setReachable(true);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 2, 30000);

        QVERIFY(reopen()); // nothing changed: no check
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 0, 0 }); // notifications off
        QVERIFY(reopen());
        QVERIFY2(!delegate.checkTimer(), "the switch went off and the checks go on");
        click("checkNotificationMenuItem");
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 3, 30000);
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 1, 1 });
        QVERIFY(reopen());
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 4, 30000);
        QCOMPARE(m_recorder->notifications.last().replacesId, 1u);

        // The keyring goes away: the checks go on with the credentials held, and a sign-out that
        // cannot reach it says so and changes nothing. Brought forward meanwhile, the notifier
        // forgets the user until the keyring is back.
        QVERIFY(locked ? SecretServiceControl::lockDefaultCollection() : KeyringDaemon::stop());
        m_delegate->checkTimer()->fire();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 5, 30000);
        click("signOutMenuItem");
        QVERIFY(settled());
        QVERIFY2(lastAlert().startsWith("You could not be signed out"), qPrintable(lastAlert()));
        QCOMPARE(title(), "Sign Out");
        QVERIFY(delegate.checkTimer()); // still signed in
        const QString waiting = QStringLiteral("Waiting for the keyring: ")
            + (locked ? "the keyring is locked" : "no keyring service on the session bus");
        QTest::ignoreMessage(QtWarningMsg, qPrintable(waiting));
        QTest::failOnWarning(
            QRegularExpression("^Waiting for the keyring")); // once, not once a read
        // A read a sign-out overtook is read again after it, and finds the keyring away.
        delegate.applicationShouldHandleReopen(qApp, false);
        click("signOutMenuItem");
        QVERIFY(settled());
        QVERIFY2(delegate.isWaitingForStore(), "a read a sign-out overtook is not read again");
        QCOMPARE(title(), "Sign In"); // away, not empty
        QTest::qWait(200); // the one read again that a wait begins with
        QVERIFY(settled());
        QCOMPARE(
            SecretServiceControl::serviceCallsDuring(2500), 0); // woken by the service, not a timer
        QVERIFY(locked ? SecretServiceControl::unlockDefaultCollection() : KeyringDaemon::start());
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 6, 30000);
        UserDetails stored;
        QCOMPARE(title(), "Sign Out");
        QVERIFY(DetailsRecord::getDetailsFromKeyChain(stored));
        QCOMPARE(DetailsRecord::text(stored), DetailsRecord::text({ "ada", "s3cret", 1, 1 }));
        DetailsRecord::addDetailsToKeyChain({ "ada", "wrong", 1, 1 });
        QVERIFY(reopen());
        QTRY_COMPARE_WITH_TIMEOUT(alerts(), 3, 30000);
        QCOMPARE(lastAlert(), QString("Invalid user name or password."));
        // Refused: signed out here and never posted again, until the record changes.
        QVERIFY2(
            title() == "Sign In" && !delegate.checkTimer(), "a refused password is still checked");
        QVERIFY(reopen());
        QCOMPARE(m_service.requestCount(), requests + 7);
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 1, 1 });
        QVERIFY(reopen());
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 7, 30000);
        QCOMPARE(title(), QString("Sign Out"));

        DetailsRecord::addDetailsToKeyChain({ "ada", "", 1, 1 }); // read, overtaken by the sign-out
        delegate.applicationShouldHandleReopen(qApp, false);
        click("signOutMenuItem");
        QVERIFY(settled());
        QCOMPARE(title(), "Sign In");
        QVERIFY2(alerts() == 3, "the user of a read a sign-out overtook is checked for");
        QCOMPARE(state("SignedIn"), QVariant(false));
        QCOMPARE(state("LastCheckText"), QVariant(QString()));
        QVERIFY2(!DetailsRecord::getDetailsFromKeyChain(stored), "the record is still stored");
        QVERIFY2(!delegate.checkTimer(), "the checks go on after sign-out");
        // Its alert offers the way to sign in.
        QStringList opened;
        ProcessHelpers::setLauncher(
            [&](const QString& name, Error*) { return opened << name, true; });
        m_alerts.holdAnswers = true;
        click("checkNotificationMenuItem");
        m_alerts.answerHeld(1);
        m_alerts.holdAnswers = false;
        ProcessHelpers::setLauncher({});
        QCOMPARE(m_alerts.count("No Valid User Name"), 1);
        QCOMPARE(opened, QStringList { "TarvenDESK.app" });
        QCOMPARE(m_service.requestCount(), requests + 8);
        QCOMPARE(notifications(), 7);
    }

    // The login road with a keyring loaded locked from disk: the notifier asks for the unlock once
    // through the desktop's prompt, and when it is dismissed waits quietly, says so, and offers to
    // ask again; asked again, its password unlocks it, and the stored user is checked for. The
    // program quits at once with its prompt still up.
    void aKeyringLockedAtStartIsAskedToUnlockAndWaitedFor()
    {
        QString why;
        DetailsRecord::addDetailsToKeyChain(Ada);
        QVERIFY2(KeyringDaemon::stop(&why) && KeyringDaemon::start(&why, false), qPrintable(why));
        KeyringPrompter prompter;
        QVERIFY(prompter.isValid());
        QProcess program;
        program.start(TARVENDESK_BIN_DIR "/tarvenDESKStatusBar");
        QVERIFY2(prompter.shown(), "the program showed no prompt");
        program.terminate();
        QVERIFY(program.waitForFinished(30000) && program.exitStatus() == QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        // The daemon keeps the prompt up after its asker has gone: a person dismisses it.
        prompter.answerNextPrompt();
        QVERIFY(prompter.answered());
        prompter.answerNextPrompt();
        const int requests = m_service.requestCount();
        AppDelegate& delegate = launch(m_service.url());
        QVERIFY2(prompter.answered(), "no prompt was shown");
        QVERIFY(settled());
        QVERIFY(delegate.isKeyringLocked());
        QVERIFY(delegate.isWaitingForStore());
        QVERIFY(item("unlockKeyringMenuItem")->isVisible());
        QCOMPARE(title(), "Sign In");
        QVERIFY(m_menu->statusItem()->toolTip().contains("The keyring is locked"));
        click("checkNotificationMenuItem");
        QCOMPARE(lastAlert(), QString("The keyring is locked. Unlock it to check your documents."));

        QCOMPARE(m_service.requestCount(), requests);
        prompter.answerNextPrompt({ TARVENDESK_TEST_KEYRING_PASSWORD });
        click("unlockKeyringMenuItem");
        QVERIFY2(prompter.answered(), "asking again showed no prompt");
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        QVERIFY(!delegate.isKeyringLocked());
        QVERIFY(!item("unlockKeyringMenuItem")->isVisible());
        QCOMPARE(title(), "Sign Out");
    }

    // A check takes five seconds at most here: an answer that dribbles ends in an alert, on a
    // schedule too. An answer that is neither counts nor a refusal is only logged on a schedule,
    // and told when a person asked; a busy service's refusal keeps the schedule. A redirect is
    // not followed, so the credentials go nowhere else. The next check notifies, and a sign-out
    // abandons a check still under way.
    void oddAnswersEndAndTheNextCheckNotifies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("told"); // the alert of a check from the menu
        QTest::addColumn<bool>("scheduledTold");
        const QString unreadable
            = "The service's answer could not be read. It answered with HTTP status ";
        // How each kind of answer is classified is tested on its own; here, one of each kind.
        QTest::newRow("502 with HTML")
            << RawTlsServer::Answer::http(502, "<html>Bad Gateway</html>")
                   .bytes.replace("json", "html")
            << unreadable + "502." << false;
        QTest::newRow("redirect") << "HTTP/1.1 307 Temporary Redirect\r\nLocation: "
                + m_service.url().toEncoded() + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"
                                  << unreadable + "307." << false;
        QTest::newRow("busy") << RawTlsServer::Answer::http(503, R"({"message":"Busy."})").bytes
                              << " tarvenDESK Busy." << true;
        QTest::newRow("time-out")
            << QByteArray() << "The document service could not be reached. The request timed out."
            << true;
    }

    void oddAnswersEndAndTheNextCheckNotifies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, told);
        QFETCH(bool, scheduledTold);
        RawTlsServer::Answer odd { answer };
        if (answer.isEmpty()) {
            odd = RawTlsServer::Answer::http(200, CountsAnswer);
            odd.chunkSize = 1;
            odd.interval = 1s;
        }
        m_server->setAnswer(odd);
        const qsizetype before = m_server->requests().size();
        const int elsewhere = m_service.requestCount();
        DetailsRecord::addDetailsToKeyChain(Ada);
        launch(m_server->url(), 5s);
        const auto answered = [&](qsizetype requests) {
            return QTest::qWaitFor(
                [&] {
                    return m_server->requests().size() - before == requests
                        && m_network.findChildren<URLConnection*>().isEmpty();
                },
                30000);
        };
        click("checkNotificationMenuItem"); // before the record is read: it waits for it
        QVERIFY(answered(2));
        QCOMPARE(alerts(), scheduledTold ? 2 : 1);
        const Alert shown = m_alerts.alerts().value(alerts() - 1);
        QCOMPARE(shown.messageText + " " + shown.informativeText, told);
        QVERIFY2(m_delegate->checkTimer() && title() == "Sign Out", "the checks stopped");
        m_server->setAnswer(RawTlsServer::Answer::http(200, CountsAnswer));
        m_delegate->checkTimer()->fire();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        const RecordedNotification notified = m_recorder->notifications.last();
        QCOMPARE(notified.body, QString("Expiring : 1, Critical :2, Expired : 0"));
        QCOMPARE(notified.hints.value("urgency"), QVariant::fromValue(uchar(1))); // nothing expired
        QVERIFY2(m_service.requestCount() == elsewhere, "the credentials were posted elsewhere");

        m_server->setAnswer({ {}, 0, {}, false, true }); // never answers
        m_delegate->checkTimer()->fire();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size() - before, 4, 30000);
        click("signOutMenuItem");
        QVERIFY(settled());
        QCOMPARE(title(), "Sign In");
        QVERIFY2(m_network.findChildren<URLConnection*>().isEmpty(),
            "a check of a user who has left is still under way");
        QCOMPARE(alerts(), scheduledTold ? 2 : 1);
    }
};

QTEST_MAIN(tst_StatusBar)
#include "tst_StatusBar.moc"
