// The tray notifier's delegate through the faults of a real desktop: the
// keyring daemon going away and coming back, the service down for a check,
// answers that dribble, never end, cannot be read or point elsewhere. Each
// ends in a clear alert or in silence, and the next check notifies. The waits
// below run the event loop the delegate shares: a check that held it would
// hold them too.

#include "common/KeychainStore.h"
#include "platform/NetworkReachability.h"
#include "platform/NetworkTrust.h"
#include "platform/Timer.h"
#include "platform/UserNotificationCenter.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/StatusMenu.h"
#include "support/KeyringDaemon.h"
#include "support/LoopbackRelay.h"
#include "support/NotificationRecorder.h"
#include "support/RawTlsServer.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QTest>

using namespace std::chrono_literals;

namespace {

class SettableReachability : public NetworkReachability
{
};

const UserDetails Ada { "ada", "s3cret", 0, 1 };
const QString AdaCounts = QStringLiteral("Expiring : 2, Critical :0, Expired : 5");
const QByteArray CountsAnswer = R"({"expiring":1,"critical":2,"expired":3})";

QString storedRecord()
{
    Error error;
    return KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error).toString();
}

} // namespace

Q_DECLARE_METATYPE(RawTlsServer::Answer)

class tst_NotifierFaults : public QObject
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

    AppDelegate& launch(const QUrl& url, std::chrono::milliseconds timeLimit = {})
    {
        m_delegate = std::make_unique<AppDelegate>(AppDelegate::Collaborators {
            &m_alerts, &m_network, &m_center, &m_reachability, url, timeLimit });
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
    QAction* signOutMenuItem() const { return m_delegate->signOutMenuItem; }
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
        DetailsRecord::addDetailsToKeyChain(Ada);
        m_recorder->clear();
        m_alerts.clear();
    }

    void cleanup()
    {
        m_delegate.reset();
        // The tests after this one need the keyring even when it failed half-way.
        QString why;
        if (!KeyringDaemon::isRunning())
            QVERIFY2(KeyringDaemon::start(&why), qPrintable(why));
        m_relay->setUp(true);
        DetailsRecord::clearDetailsInKeyChain();
    }

    void checksGoOnWithoutTheKeyringAndTheRecordIsReadAgainWhenItIsBack()
    {
        const QString record = storedRecord();
        AppDelegate& delegate = launch(m_service.url());
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        QString why;
        QVERIFY2(KeyringDaemon::stop(&why), qPrintable(why));
        scheduledCheck();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 2, 30000);
        // A sign-out that cannot reach the keyring says so and changes nothing.
        signOutMenuItem()->trigger();
        QCOMPARE(m_alerts.alerts().size(), 1);
        QVERIFY2(m_alerts.alerts().first().informativeText.startsWith("You could not be signed out"),
            qPrintable(m_alerts.alerts().first().informativeText));
        QCOMPARE(signOutMenuItem()->text(), QString("Sign Out"));
        QVERIFY2(delegate.notificationTImer, "the checks stopped for a user still signed in");
        m_alerts.clear();

        // The sign-in program brings the notifier forward while the keyring is away.
        delegate.applicationShouldHandleReopen(qApp, false);
        QTRY_VERIFY2(delegate.isWaitingForStore(), "an absent keyring was taken for an empty one");
        QVERIFY2(KeyringDaemon::start(&why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(signOutMenuItem()->text(), QString("Sign Out"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 3, 30000);
        QCOMPARE(lastNotification(), AdaCounts);
        QCOMPARE(storedRecord(), record);
        QCOMPARE(m_alerts.alerts().size(), 0);

        // The new daemon takes the sign-out as the old one would have.
        signOutMenuItem()->trigger();
        QCOMPARE(signOutMenuItem()->text(), QString("Sign In"));
        QCOMPARE(KeyringDaemon::itemCount(DetailsRecordKey, DetailsRecordService), 0);
    }

    void aCheckWhileTheServiceIsDownAlertsAndTheNextOneNotifies()
    {
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

QTEST_MAIN(tst_NotifierFaults)
#include "tst_NotifierFaults.moc"
