// The tray notifier on the real keyring, reference service and a recording notification
// server: its delegate from start-up through checks to sign-out, the program on the bus, and
// the faults of a real desktop: the keyring daemon going away and coming back, the service
// down for a check, answers that dribble, never end, cannot be read or point elsewhere. Each
// fault ends in a clear alert or in silence, and the next check notifies. The waits run the
// event loop the delegate shares: a check that held it would hold them too.

#include "common/KeychainStore.h"
#include "common/ProcessHelpers.h"
#include "platform/NetworkReachability.h"
#include "platform/NetworkTrust.h"
#include "platform/StatusItem.h"
#include "platform/Timer.h"
#include "platform/UserNotificationCenter.h"
#include "programs/ProbeProcess.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/StatusMenu.h"
#include "support/LoopbackRelay.h"
#include "support/NotificationRecorder.h"
#include "support/RawTlsServer.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QNetworkAccessManager>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// No network manager can be switched off under a test: the state comes from here.
class SettableReachability : public NetworkReachability
{
public:
    using NetworkReachability::setReachable;
};

const UserDetails Ada { "ada", "s3cret", 0, 1 };
const QString AdaCounts = QStringLiteral("Expiring : 2, Critical :0, Expired : 5");
const QByteArray CountsAnswer = R"({"expiring":1,"critical":2,"expired":3})";

QString storedRecord()
{
    Error error;
    return KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error).toString();
}

QDBusMessage activateProgram()
{
    QDBusMessage activate = QDBusMessage::createMethodCall(StatusBarBundleIdentifier,
        "/" + QString(StatusBarBundleIdentifier).replace('.', '/'), "org.freedesktop.Application", "Activate");
    activate.setArguments({ QVariantMap() });
    return QDBusConnection::sessionBus().call(activate);
}

} // namespace

Q_DECLARE_METATYPE(RawTlsServer::Answer)

class tst_StatusBar : public QObject
{
    Q_OBJECT

    ReferenceService m_service;
    std::unique_ptr<LoopbackRelay> m_relay;
    std::unique_ptr<RawTlsServer> m_server;
    std::unique_ptr<RawTlsServer> m_elsewhere;
    std::unique_ptr<NotificationRecorder> m_recorder;
    RecordingAlertPresenter m_alerts;
    SettableReachability m_reachability;
    QNetworkAccessManager m_network;
    UserNotificationCenter m_center { QDBusConnection::sessionBus() };
    InterfaceObjects m_interface;
    std::unique_ptr<AppDelegate> m_delegate;

    AppDelegate& launch(const QUrl& url = {}, std::chrono::milliseconds timeLimit = {})
    {
        m_delegate = std::make_unique<AppDelegate>(AppDelegate::Collaborators { &m_alerts,
            &m_network, &m_center, &m_reachability, url.isEmpty() ? m_service.url() : url, timeLimit });
        loadStatusMenu(m_interface, *m_delegate);
        m_delegate->applicationDidFinishLaunching(
            { ApplicationDidFinishLaunchingNotification, qApp });
        return *m_delegate;
    }
    // The timer's firing, without waiting out its delay.
    void scheduledCheck()
    {
        QVERIFY2(m_delegate->notificationTImer, "the notifier has no scheduled checks");
        m_delegate->notificationTImer->fire();
    }
    void click(const char* item) { m_delegate->statusMenu->findChild<QAction*>(item)->trigger(); }
    QString title() const { return m_delegate->signOutMenuItem->text(); }
    bool requestsEnded() const { return m_network.findChildren<URLConnection*>().isEmpty(); }
    qsizetype notifications() const { return m_recorder->notifications().size(); }
    QString lastNotification() const { return m_recorder->notifications().last().body; }

private slots:
    void initTestCase()
    {
        const QDate today(2031, 3, 10);
        QVERIFY2(m_service.isValid(), qPrintable(m_service.errorString()));
        QVERIFY(m_service.addUser("ada", "s3cret"));
        for (int days : { 20, 25, -1, -30, -100, -200, -300 })
            QVERIFY(m_service.addDocument("ada", QString::number(days), today.addDays(days)));
        QVERIFY(m_service.addUser("bob", "pa55") && m_service.addDocument("bob", "20", today.addDays(20)));
        QVERIFY2(m_service.start(today), qPrintable(m_service.errorString()));
        m_relay = std::make_unique<LoopbackRelay>(m_service.port());
        QVERIFY(m_relay->isUp());
        QString why;
        const std::optional<TestCertificates> certificates = TestCertificates::make(&why);
        QVERIFY2(certificates, qPrintable(why));
        m_server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        m_elsewhere = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        QVERIFY(m_server->listen() && m_elsewhere->listen());
        NetworkTrust::addTrustedCertificates(m_service.caCertificates() << certificates->authority);
        m_recorder = std::make_unique<NotificationRecorder>(QStringList { "body", "sound" });
        QVERIFY2(m_recorder->waitUntilRegistered(), "another test holds the notification service");
    }

    void init()
    {
        DetailsRecord::clearDetailsInKeyChain();
        m_recorder->clear();
        m_alerts.clear();
        m_reachability.setReachable(true);
    }

    void cleanup()
    {
        m_delegate.reset();
        // The tests after this one need the keyring even when it failed half-way.
        QString why;
        if (!KeyringDaemon::isRunning())
            QVERIFY2(KeyringDaemon::start(&why), qPrintable(why));
        if (SecretServiceControl::isDefaultCollectionLocked())
            SecretServiceControl::unlockDefaultCollection();
        m_relay->setUp(true);
        DetailsRecord::clearDetailsInKeyChain();
    }

    void aStoredUserIsCheckedAtOnceAndWhenBroughtForwardUntilSignOut()
    {
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 0, 1 });
        const int requests = m_service.requestCount();
        AppDelegate& delegate = launch();
        QCOMPARE(title(), QString("Sign Out"));
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        const RecordedNotification shown = m_recorder->notifications().first();
        QCOMPARE(shown.summary, QString("tarvenDESK!"));
        QCOMPARE(shown.body, QString("Expiring : 2, Critical :0, Expired : 5"));
        QCOMPARE(shown.hints.value("sound-name").toString(), UserNotificationDefaultSoundName);
        QCOMPARE(shown.hints.value("urgency"), QVariant::fromValue(uchar(2))); // 5 expired
        QVERIFY(shown.actions.contains("default") && shown.hints.contains("category"));
        QVERIFY2(delegate.statusItem->toolTip().contains(shown.body), qPrintable(delegate.statusItem->toolTip()));

        delegate.applicationShouldHandleReopen(qApp, false); // nothing changed: no check
        QCoreApplication::sendPostedEvents(&delegate, QEvent::MetaCall);
        // The sign-in program switched notifications off.
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 0, 0 });
        delegate.applicationShouldHandleReopen(qApp, false);
        QTRY_VERIFY2(!delegate.notificationTImer, "the switch went off and the checks go on");
        click("checkNotificationMenuItem");
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 2, 30000);

        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 1, 1 });
        delegate.applicationShouldHandleReopen(qApp, false);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 3, 30000);
        QCOMPARE(delegate.notificationTImer->timeInterval(), 43200.0);
        QCOMPARE(m_recorder->notifications().last().replacesId, 1u);
        QCOMPARE(m_service.requestCount(), requests + 3);
        QVERIFY(m_alerts.alerts().isEmpty());

        click("signOutMenuItem");
        QCOMPARE(title(), QString("Sign In"));
        QVERIFY2(
            SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).isEmpty(),
            "the record is still in the keyring");
        QVERIFY2(!delegate.notificationTImer, "the checks go on after sign-out");
        click("checkNotificationMenuItem");
        QCOMPARE(m_alerts.alerts().last().informativeText, QString("No Valid User Name"));
        QCOMPARE(m_service.requestCount(), requests + 3);
    }

    // With an empty stored user name every check is an alert at once.
    void startUpFollowsTheStoredFrequency_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<double>("firstDelay");
        QTest::addColumn<double>("interval");
        QTest::newRow("0") << true << 0 << 30.0 << 86400.0;
        QTest::newRow("1") << true << 1 << 30.0 << 43200.0;
        QTest::newRow("2") << true << 2 << 86400.0 << 86400.0;
        QTest::newRow("3: none") << true << 3 << 0.0 << 0.0;
        QTest::newRow("-1: none") << true << -1 << 0.0 << 0.0;
        QTest::newRow("nothing stored") << false << 0 << 0.0 << 0.0;
    }

    void startUpFollowsTheStoredFrequency()
    {
        QFETCH(bool, stored);
        QFETCH(int, frequency);
        QFETCH(double, firstDelay);
        QFETCH(double, interval);
        if (stored)
            DetailsRecord::addDetailsToKeyChain({ "", "", frequency, 1 });
        const AppDelegate& delegate = launch();
        const Timer* timer = delegate.notificationTImer.get();
        QCOMPARE(title(), QString(stored ? "Sign Out" : "Sign In"));
        QCOMPARE(m_alerts.alerts().size(), interval > 0 ? 1 : 0);
        QCOMPARE(timer ? timer->firstDelay() : 0, firstDelay);
        QCOMPARE(timer ? timer->timeInterval() : 0, interval);
        m_alerts.setModalAlertRunning(true); // a check due meanwhile waits for the alert's end
        const bool held = timer && timer->areFiringsHeld();
        m_alerts.setModalAlertRunning(false);
        QCOMPARE(held, timer != nullptr);
        QVERIFY2(!delegate.isWaitingForStore(), "an empty store was taken for a locked one");
        QCOMPARE(delegate.statusItem->menu(), delegate.statusMenu.data());
        QVERIFY2(!delegate.statusItem->image().isNull(), "StatusIcon.png is not in the resources");
    }

    void failedChecksShowTheirAlerts_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("text");
        QTest::newRow("refusal") << "wrong" << "Invalid user name or password.";
        QTest::newRow("no password") << "" << "No Valid User Name and Password";
    }

    void failedChecksShowTheirAlerts()
    {
        QFETCH(QString, password);
        QFETCH(QString, text);
        DetailsRecord::addDetailsToKeyChain({ "ada", password, 0, 0 });
        launch();
        click("checkNotificationMenuItem");
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts.alerts().size(), 1, 30000);
        const Alert alert = m_alerts.alerts().first();
        QVERIFY2(alert.messageText == " tarvenDESK" && alert.informativeText == text,
            qPrintable(alert.messageText + " / " + alert.informativeText));
        QCOMPARE(notifications(), 0);
    }

    void aLockedKeyringIsReadOnceUnlocked()
    {
        DetailsRecord::addDetailsToKeyChain({ "bob", "pa55", 0, 1 });
        QString why;
        QVERIFY2(SecretServiceControl::lockDefaultCollection(&why), qPrintable(why));
        AppDelegate& delegate = launch();
        QCoreApplication::sendPostedEvents(&delegate, QEvent::MetaCall); // its second look
        QCOMPARE(title(), QString("Sign In"));
        QVERIFY2(delegate.isWaitingForStore(), "a locked keyring was taken for an empty one");
        QVERIFY2(SecretServiceControl::unlockDefaultCollection(&why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QString("Sign Out"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        QCOMPARE(m_recorder->notifications().first().hints.value("urgency"),
            QVariant::fromValue(uchar(1))); // nothing expired
    }

    // The manual entry goes out at once; the scheduled check waits, then runs once.
    void aScheduledCheckWaitsForTheNetwork()
    {
        m_reachability.setReachable(false);
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 0, 1 });
        const int requests = m_service.requestCount();
        AppDelegate& delegate = launch();
        QVERIFY(delegate.isCheckWaitingForNetwork());
        click("checkNotificationMenuItem");
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        m_reachability.setReachable(true);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 2, 30000);
        QCOMPARE(m_service.requestCount(), requests + 2);
        QVERIFY(!delegate.isCheckWaitingForNetwork() && m_alerts.alerts().isEmpty());
    }

    void aNewerCopyOfTheProgramEndsTheOlderAndAnswersActivation()
    {
        QProcess older, newer; // nothing stored: they check nothing
        older.start(TARVENDESK_BIN_DIR "/tarvenDESKStatusBar");
        QTRY_COMPARE_WITH_TIMEOUT(
            qint64(ownerPid(StatusBarBundleIdentifier)), older.processId(), 30000);
        QCOMPARE(activateProgram().type(), QDBusMessage::ReplyMessage);
        newer.start(TARVENDESK_BIN_DIR "/tarvenDESKStatusBar");
        QVERIFY2(older.waitForFinished(30000), "the older copy is still running");
        QCOMPARE(older.exitStatus(), QProcess::CrashExit);
        QTRY_COMPARE_WITH_TIMEOUT(
            qint64(ownerPid(StatusBarBundleIdentifier)), newer.processId(), 30000);
        QCOMPARE(activateProgram().type(), QDBusMessage::ReplyMessage);
        newer.kill();
        newer.waitForFinished(10000);
    }

    void checksGoOnWithoutTheKeyringAndTheRecordIsReadAgainWhenItIsBack()
    {
        DetailsRecord::addDetailsToKeyChain(Ada);
        const QString record = storedRecord();
        AppDelegate& delegate = launch();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        QString why;
        QVERIFY2(KeyringDaemon::stop(&why), qPrintable(why));
        scheduledCheck();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 2, 30000);
        // A sign-out that cannot reach the keyring says so and changes nothing.
        click("signOutMenuItem");
        QCOMPARE(m_alerts.alerts().size(), 1);
        QVERIFY2(m_alerts.alerts().first().informativeText.startsWith("You could not be signed out"),
            qPrintable(m_alerts.alerts().first().informativeText));
        QCOMPARE(title(), QString("Sign Out"));
        QVERIFY2(delegate.notificationTImer, "the checks stopped for a user still signed in");
        m_alerts.clear();

        // The sign-in program brings the notifier forward while the keyring is away.
        delegate.applicationShouldHandleReopen(qApp, false);
        QTRY_VERIFY2(delegate.isWaitingForStore(), "an absent keyring was taken for an empty one");
        QVERIFY2(KeyringDaemon::start(&why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(title(), QString("Sign Out"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 3, 30000);
        QCOMPARE(lastNotification(), AdaCounts);
        QCOMPARE(storedRecord(), record);
        QCOMPARE(m_alerts.alerts().size(), 0);

        // The new daemon takes the sign-out as the old one would have.
        click("signOutMenuItem");
        QCOMPARE(title(), QString("Sign In"));
        QVERIFY(SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).isEmpty());
    }

    void aCheckWhileTheServiceIsDownAlertsAndTheNextOneNotifies()
    {
        DetailsRecord::addDetailsToKeyChain(Ada);
        QUrl url = m_service.url();
        url.setPort(m_relay->port());
        launch(url);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        QVERIFY(m_relay->setUp(false));
        scheduledCheck();
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts.alerts().size(), 1, 30000);
        const QString alert = m_alerts.alerts().first().messageText;
        QVERIFY2(alert.contains("Connection refused"), qPrintable(alert));
        QVERIFY2(m_relay->setUp(true), "the relay's port was taken meanwhile");
        scheduledCheck();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 2, 30000);
        QCOMPARE(lastNotification(), AdaCounts);
        QCOMPARE(m_alerts.alerts().size(), 1);
    }

    // rows: the answer, how it is sent, the check's time limit, and what the
    // user is shown: an alert's message, a notification's first characters, or nothing.
    void oddAnswersEndAndTheNextCheckNotifies_data()
    {
        QTest::addColumn<RawTlsServer::Answer>("answer");
        QTest::addColumn<int>("timeLimitMs");
        QTest::addColumn<QString>("alert");
        QTest::addColumn<QString>("notification");
        RawTlsServer::Answer dribble = RawTlsServer::Answer::http(200, CountsAnswer);
        dribble.chunkSize = 1;
        dribble.interval = 1s;
        QTest::newRow("one byte a second") << dribble << 3000 << "The request timed out." << "";
        RawTlsServer::Answer endless { "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n{" };
        endless.endless = true;
        QTest::newRow("endless") << endless << 0 << "" << "";
        const auto answer = [](const QByteArray& body) { return RawTlsServer::Answer::http(200, body); };
        QTest::newRow("invalid UTF-8 in a count")
            << answer("{\"expiring\":\"\xff\xfe\",\"critical\":0,\"expired\":1}") << 0 << "" << "";
        QTest::newRow("invalid UTF-8 in the message")
            << answer("{\"message\":\"bad \xc3\x28\"}") << 0 << "" << "";
        QTest::newRow("past the size cap") << answer("{\"expiring\":\"" + QByteArray(2 << 20, '7') + "\"}")
                                           << 0 << "" << "";
        QTest::newRow("nested past the parser's depth")
            << answer(QByteArray(100000, '[') + QByteArray(100000, ']')) << 0 << "" << "";
        const QByteArray deep = QByteArray(1000, '[') + QByteArray(1000, ']');
        QTest::newRow("nested deep in a count")
            << answer("{\"expiring\":" + deep + ",\"critical\":0}") << 0 << ""
            << "Expiring : [[[[";
        QTest::newRow("nested deep in the message")
            << answer("{\"message\":" + deep + "}") << 0 << " tarvenDESK" << "";
        RawTlsServer::Answer redirect { "HTTP/1.1 307 Temporary Redirect\r\nLocation: "
            + m_elsewhere->url().toEncoded() + "\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved" };
        QTest::newRow("redirect elsewhere") << redirect << 0 << "" << "";
    }

    void oddAnswersEndAndTheNextCheckNotifies()
    {
        QFETCH(RawTlsServer::Answer, answer);
        QFETCH(int, timeLimitMs);
        QFETCH(QString, alert);
        QFETCH(QString, notification);
        DetailsRecord::addDetailsToKeyChain(Ada);
        m_server->setAnswer(answer);
        const qsizetype requests = m_server->requests().size();
        launch(m_server->url(), std::chrono::milliseconds(timeLimitMs));
        QTRY_VERIFY_WITH_TIMEOUT(m_server->requests().size() > requests && requestsEnded(), 60000);
        QCOMPARE(m_alerts.alerts().size(), alert.isEmpty() ? 0 : 1);
        if (!alert.isEmpty())
            QCOMPARE(m_alerts.alerts().first().messageText, alert);
        if (notification.isEmpty()) {
            QCOMPARE(notifications(), 0);
        } else { // the notification server hears of it after the request has ended
            QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
            QVERIFY2(lastNotification().startsWith(notification), qPrintable(lastNotification().left(40)));
        }
        QVERIFY2(m_elsewhere->requests().isEmpty(), "the credentials were posted elsewhere");

        m_server->setAnswer(RawTlsServer::Answer::http(200, CountsAnswer));
        scheduledCheck();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), notification.isEmpty() ? 1 : 2, 30000);
        QCOMPARE(lastNotification(), QString("Expiring : 1, Critical :2, Expired : 3"));
        QCOMPARE(m_server->requests().size(), requests + 2);
    }
};

QTEST_MAIN(tst_StatusBar)
#include "tst_StatusBar.moc"
