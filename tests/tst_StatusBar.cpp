// The tray notifier on the real keyring, reference service and a recording notification
// server: its delegate from start-up through checks to sign-out, and the program on the bus.

#include "common/ProcessHelpers.h"
#include "platform/NetworkReachability.h"
#include "platform/NetworkTrust.h"
#include "platform/StatusItem.h"
#include "platform/Timer.h"
#include "platform/UserNotificationCenter.h"
#include "programs/ProbeProcess.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/StatusMenu.h"
#include "support/NotificationRecorder.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTcpServer>
#include <QTest>

namespace {

// No network manager can be switched off under a test: the state comes from here.
class SettableReachability : public NetworkReachability
{
public:
    using NetworkReachability::setReachable;
};

QDBusMessage activateProgram()
{
    QDBusMessage activate = QDBusMessage::createMethodCall(StatusBarBundleIdentifier,
        "/" + QString(StatusBarBundleIdentifier).replace('.', '/'), "org.freedesktop.Application", "Activate");
    activate.setArguments({ QVariantMap() });
    return QDBusConnection::sessionBus().call(activate);
}

} // namespace

class tst_StatusBar : public QObject
{
    Q_OBJECT

    ReferenceService m_service;
    std::unique_ptr<NotificationRecorder> m_recorder;
    RecordingAlertPresenter m_alerts;
    SettableReachability m_reachability;
    UserNotificationCenter m_center { QDBusConnection::sessionBus() };
    InterfaceObjects m_interface;
    std::unique_ptr<AppDelegate> m_delegate;

    AppDelegate& launch(const QUrl& url = {})
    {
        m_delegate = std::make_unique<AppDelegate>(AppDelegate::Collaborators { &m_alerts, nullptr,
            &m_center, &m_reachability, url.isEmpty() ? m_service.url() : url });
        loadStatusMenu(m_interface, *m_delegate);
        m_delegate->applicationDidFinishLaunching(
            { ApplicationDidFinishLaunchingNotification, qApp });
        return *m_delegate;
    }
    void click(const char* item) { m_delegate->statusMenu->findChild<QAction*>(item)->trigger(); }
    QString title() const { return m_delegate->signOutMenuItem->text(); }
    qsizetype notifications() const { return m_recorder->notifications().size(); }

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
        NetworkTrust::addTrustedCertificates(m_service.caCertificates());
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
        if (SecretServiceControl::isDefaultCollectionLocked())
            SecretServiceControl::unlockDefaultCollection();
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
        QVERIFY2(!delegate.isWaitingForStore(), "an empty store was taken for a locked one");
        QCOMPARE(delegate.statusItem->menu(), delegate.statusMenu.data());
        QVERIFY2(!delegate.statusItem->image().isNull(), "the tray icon is not in the resources");
    }

    void failedChecksShowTheirAlerts_data()
    {
        QTcpServer closed; // a port that was free a moment ago
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        QTest::addColumn<QString>("password");
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, QString password, QUrl url, QString text) {
            QTest::newRow(name) << password << url << text;
        };
        row("refusal", "wrong", {}, "Invalid user name or password.");
        row("no password", "", {}, "No Valid User Name and Password");
        row("closed port", "s3cret", QString("https://127.0.0.1:%1/").arg(closed.serverPort()),
            "Connection refused");
    }

    void failedChecksShowTheirAlerts()
    {
        QFETCH(QString, password);
        QFETCH(QUrl, url);
        QFETCH(QString, text);
        DetailsRecord::addDetailsToKeyChain({ "ada", password, 0, 0 });
        launch(url);
        click("checkNotificationMenuItem");
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts.alerts().size(), 1, 30000);
        // A transport failure's alert has the platform's own text.
        const Alert alert = m_alerts.alerts().first();
        QVERIFY2(alert.messageText == " tarvenDESK" ? alert.informativeText == text
                                                    : alert.messageText.contains(text),
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
};

QTEST_MAIN(tst_StatusBar)
#include "tst_StatusBar.moc"
