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
    QVariant state(const char* name) const
    {
        return QDBusInterface(
            QDBusConnection::sessionBus().baseService(), NotifierObjectPath, NotifierInterfaceName)
            .property(name);
    }
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
        QVERIFY(settled() && title() == "Sign In" && !delegate.isWaitingForStore()); // empty
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
        QVERIFY(m_menu->statusItem()->menu() && !m_menu->statusItem()->image().isNull());
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
        QCOMPARE(title(), QString("Sign Out"));
        QCOMPARE(alerts(), 3);
        QCOMPARE(lastAlert(), QString("No Valid User Name and Password"));

        m_alerts.clear();
        m_reachability.setReachable(false);
        const int requests = m_service.requestCount();
        DetailsRecord::addDetailsToKeyChain(Ada);
        QVERIFY(reopen());
        QVERIFY(delegate.isCheckWaitingForNetwork());
        m_changedProperties.clear();
        QVERIFY(QDBusInterface(QDBusConnection::sessionBus().baseService(), NotifierObjectPath,
                    NotifierInterfaceName)
                    .call("CheckNow")
                    .type()
            == QDBusMessage::ReplyMessage);
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
        QVERIFY(shown.actions.contains("default") && shown.hints.contains("category")
            && shown.hints.contains("sound-name"));
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
        QVERIFY(title() == "Sign Out" && delegate.checkTimer()); // still signed in
        QVERIFY(reopen());
        QVERIFY(delegate.isWaitingForStore() && title() == "Sign In"); // away, not empty
        QVERIFY(locked ? SecretServiceControl::unlockDefaultCollection() : KeyringDaemon::start());
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 6, 30000);
        UserDetails stored;
        QVERIFY(title() == "Sign Out" && DetailsRecord::getDetailsFromKeyChain(stored));
        QCOMPARE(DetailsRecord::text(stored), DetailsRecord::text({ "ada", "s3cret", 1, 1 }));
        DetailsRecord::addDetailsToKeyChain({ "ada", "wrong", 1, 1 });
        QVERIFY(reopen());
        QTRY_COMPARE_WITH_TIMEOUT(alerts(), 2, 30000);
        QCOMPARE(lastAlert(), QString("Invalid user name or password."));

        DetailsRecord::addDetailsToKeyChain({ "ada", "", 1, 1 }); // read, overtaken by the sign-out
        delegate.applicationShouldHandleReopen(qApp, false);
        click("signOutMenuItem");
        QVERIFY(settled() && title() == "Sign In");
        QCOMPARE(state("SignedIn"), QVariant(false));
        QCOMPARE(state("LastCheckText"), QVariant(QString()));
        QVERIFY2(!DetailsRecord::getDetailsFromKeyChain(stored), "the record is still stored");
        QVERIFY2(!delegate.checkTimer(), "the checks go on after sign-out");
        click("checkNotificationMenuItem");
        QCOMPARE(m_alerts.alerts().value(2).informativeText, QString("No Valid User Name"));
        QCOMPARE(m_service.requestCount(), requests + 7);
        QCOMPARE(notifications(), 6);
    }

    // A check takes five seconds at most here: an answer that dribbles ends in an alert. A
    // redirect is not followed, so the credentials go nowhere else; it ends in silence. The
    // next check notifies. A check asked for while the record is read waits for it.
    void oddAnswersEndAndTheNextCheckNotifies()
    {
        RawTlsServer::Answer dribble = RawTlsServer::Answer::http(200, CountsAnswer);
        dribble.chunkSize = 1;
        dribble.interval = 1s;
        m_server->setAnswer(dribble);
        DetailsRecord::addDetailsToKeyChain(Ada);
        launch(m_server->url(), 5s);
        click("checkNotificationMenuItem"); // before the record is read: it waits for it
        QTRY_COMPARE_WITH_TIMEOUT(alerts(), 2, 30000);
        QCOMPARE(m_alerts.alerts().first().messageText, QString("The request timed out."));
        QCOMPARE(m_alerts.alerts().last().messageText, QString("The request timed out."));
        const int elsewhere = m_service.requestCount();
        m_server->setAnswer({ "HTTP/1.1 307 Temporary Redirect\r\nLocation: "
            + m_service.url().toEncoded() + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n" });
        m_delegate->checkTimer()->fire();
        QTRY_VERIFY_WITH_TIMEOUT(m_network.findChildren<URLConnection*>().isEmpty(), 30000);
        m_server->setAnswer(RawTlsServer::Answer::http(200, CountsAnswer));
        m_delegate->checkTimer()->fire();
        QTRY_COMPARE_WITH_TIMEOUT(notifications(), 1, 30000);
        const RecordedNotification shown = m_recorder->notifications.last();
        QCOMPARE(shown.body, QString("Expiring : 1, Critical :2, Expired : 0"));
        QCOMPARE(shown.hints.value("urgency"), QVariant::fromValue(uchar(1))); // nothing expired
        QVERIFY2(m_service.requestCount() == elsewhere, "the credentials were posted elsewhere");
        QCOMPARE(m_server->requests().size(), 4);
        QCOMPARE(alerts(), 2);
    }
};

QTEST_MAIN(tst_StatusBar)
#include "tst_StatusBar.moc"
