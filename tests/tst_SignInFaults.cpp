// The sign-in window under strain, on the offscreen display with the real
// keyring and reference service: a hundred presses of the sign-in button in a
// row, a sign-out while the keyring daemon is away, and the record written by
// the window and by another program at once.

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "common/ProcessHelpers.h"
#include "platform/NetworkTrust.h"
#include "signin/AppDelegate.h"
#include "signin/SignInWindow.h"
#include "support/KeyringDaemon.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>
#include <QtWidgets>

namespace {

// Counts the hand-overs to the notifier without starting it, and answers them
// with failure when it is set.
struct ActivationRecorder
{
    QStringList names;
    QString failure;
};

QString storedRecord()
{
    Error error;
    return KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error).toString();
}

int storedItems()
{
    return KeyringDaemon::itemCount(DetailsRecordKey, DetailsRecordService);
}

} // namespace

class tst_SignInFaults : public QObject
{
    Q_OBJECT

    ReferenceService m_service;
    QNetworkAccessManager m_network;
    RecordingAlertPresenter m_alerts;
    ActivationRecorder m_activations;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<AppDelegate> m_app;

    void launch(const QUrl& url)
    {
        m_window = SignInWindow::load();
        m_window->show();
        m_app = std::make_unique<AppDelegate>(*m_window, m_alerts, m_network, url);
        m_app->applicationDidFinishLaunching({});
    }
    qsizetype requestsUnderWay() const { return m_network.findChildren<URLConnection*>().size(); }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_service.isValid(), qPrintable(m_service.errorString()));
        QVERIFY(m_service.addUser("ada", "s3cret"));
        QVERIFY2(m_service.start(), qPrintable(m_service.errorString()));
        NetworkTrust::addTrustedCertificates(m_service.caCertificates());
        QApplication::setQuitOnLastWindowClosed(false);
        ProcessHelpers::setLauncher([this](const QString& name) {
            m_activations.names.append(name);
            return m_activations.failure;
        });
    }

    void init()
    {
        DetailsRecord::clearDetailsInKeyChain();
        m_alerts.clear();
        m_activations = {};
    }

    void cleanup()
    {
        QString why;
        if (!KeyringDaemon::isRunning())
            QVERIFY2(KeyringDaemon::start(&why), qPrintable(why));
        if (SecretServiceControl::isDefaultCollectionLocked())
            QVERIFY2(SecretServiceControl::unlockDefaultCollection(&why), qPrintable(why));
        m_app.reset();
        m_window.reset();
        DetailsRecord::clearDetailsInKeyChain();
    }

    void cleanupTestCase() { ProcessHelpers::setLauncher({}); }

    void aHundredPressesInARowAskOnceAndEndOnce_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("serviceDown");
        QTest::addColumn<QString>("handOverFailure");
        QTest::newRow("accepted") << "s3cret" << false << QString();
        QTest::newRow("accepted, the notifier does not start")
            << "s3cret" << false << "Application “tarvenDESKStatusBar.app” can’t be started.";
        QTest::newRow("refused") << "wrong" << false << QString();
        QTest::newRow("service down") << "s3cret" << true << QString();
    }

    void aHundredPressesInARowAskOnceAndEndOnce()
    {
        QFETCH(QString, password);
        QFETCH(bool, serviceDown);
        QFETCH(QString, handOverFailure);
        m_activations.failure = handOverFailure;
        if (!handOverFailure.isNull())
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable("Activating tarvenDESKStatusBar.app failed: " + handOverFailure));
        const bool accepted = password == "s3cret" && !serviceDown;
        QUrl url = m_service.url();
        if (serviceDown) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            url.setPort(closed.serverPort());
        }
        launch(url);
        const int requests = m_service.requestCount();
        m_app->userNameTxtField->setText("ada");
        m_app->passwordTxtField->setText(password);
        for (int press = 0; press < 100; ++press)
            QTest::mouseClick(m_app->btnSignIn, Qt::LeftButton);
        QCOMPARE(requestsUnderWay(), 1);
        QVERIFY(!m_app->progressIndicator->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(
            m_app->progressIndicator->isHidden() && requestsUnderWay() == 0, 30000);

        QCOMPARE(m_service.requestCount() - requests, serviceDown ? 0 : 1);
        QCOMPARE(m_alerts.alerts().size(), accepted && handOverFailure.isNull() ? 0 : 1);
        QCOMPARE(storedItems(), accepted ? 1 : 0);
        QCOMPARE(m_activations.names.size(), accepted ? 1 : 0);
        if (accepted) {
            QVERIFY2(storedRecord().startsWith("UserName=ada;Password=s3cret;Freequency=0;"),
                qPrintable(storedRecord()));
            QVERIFY(m_app->btnSignIn->isHidden());
            if (!handOverFailure.isNull())
                QCOMPARE(m_alerts.alerts().first().informativeText, handOverFailure);
            return;
        }
        // Once the answer is in, a press asks again.
        m_app->userNameTxtField->setText("ada");
        m_app->passwordTxtField->setText(password);
        QTest::mouseClick(m_app->btnSignIn, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_app->progressIndicator->isHidden() && requestsUnderWay() == 0, 30000);
        QCOMPARE(m_alerts.alerts().size(), 2);
        QCOMPARE(storedItems(), 0);
    }

    void whileTheKeyringIsAwaySignInAndSignOutSaySoAndLoseNothing()
    {
        launch(m_service.url());
        QString why;
        QVERIFY2(KeyringDaemon::stop(&why), qPrintable(why));
        m_app->userNameTxtField->setText("ada");
        m_app->passwordTxtField->setText("s3cret");
        QTest::mouseClick(m_app->btnSignIn, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_app->progressIndicator->isHidden(), 30000);
        bool restarted = KeyringDaemon::start(&why);
        QCOMPARE(m_alerts.alerts().size(), 1);
        QCOMPARE(m_alerts.alerts().first().messageText, QString("You could not be signed in."));
        QVERIFY2(!m_app->btnSignIn->isHidden(), "the window shows a sign-in that was not kept");
        QVERIFY2(m_activations.names.isEmpty(), "the notifier was handed a user nothing stores");
        QCOMPARE(m_app->userNameTxtField->text(), QString("ada"));
        QVERIFY2(restarted, qPrintable(why));
        QCOMPARE(storedItems(), 0);

        // Once the keyring is back, the same press signs in.
        QTest::mouseClick(m_app->btnSignIn, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_app->progressIndicator->isHidden(), 30000);
        QCOMPARE(storedItems(), 1);
        QVERIFY(m_app->btnSignIn->isHidden());

        QVERIFY2(KeyringDaemon::stop(&why), qPrintable(why));
        QTest::mouseClick(m_app->btnSingout, Qt::LeftButton);
        restarted = KeyringDaemon::start(&why);
        QCOMPARE(m_alerts.alerts().size(), 2);
        QCOMPARE(m_alerts.alerts().last().messageText, QString("You could not be signed out."));
        QVERIFY2(!m_app->btnSingout->isHidden(), "the window shows a sign-out that did not happen");
        QVERIFY2(restarted, qPrintable(why));
        QCOMPARE(storedItems(), 1);

        QTest::mouseClick(m_app->btnSingout, Qt::LeftButton);
        QCOMPARE(storedItems(), 0);
        QVERIFY(m_app->btnSingout->isHidden() && m_alerts.alerts().size() == 2);
    }

    void aKeyringAwayIsWaitedForAndNeitherSignsOutNorLosesASetting_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("locked") << true;
        QTest::newRow("not running") << false;
    }

    void aKeyringAwayIsWaitedForAndNeitherSignsOutNorLosesASetting()
    {
        QFETCH(bool, locked);
        QString why;
        const auto takeAway = [&] {
            return locked ? SecretServiceControl::lockDefaultCollection(&why) : KeyringDaemon::stop(&why);
        };
        const auto bringBack = [&] {
            return locked ? SecretServiceControl::unlockDefaultCollection(&why) : KeyringDaemon::start(&why);
        };
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 1, 1 });
        const QString record = storedRecord();
        QVERIFY2(takeAway(), qPrintable(why));
        launch(m_service.url());
        QVERIFY2(m_app->btnSignIn->isHidden() && m_app->btnSingout->isHidden(),
            "a keyring that cannot be asked was shown as signed in or out");
        QVERIFY(m_activations.names.isEmpty());
        QVERIFY2(bringBack(), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(!m_app->btnSingout->isHidden(), 30000);
        QCOMPARE(m_app->signInstatusLbl->text(), QString("You are Logged in as ada"));
        QCOMPARE(m_activations.names.size(), 1);

        // Brought forward, then a settings change, while the keyring is away.
        QVERIFY2(takeAway(), qPrintable(why));
        QVERIFY(m_app->applicationShouldHandleReopen(qApp, true));
        QVERIFY2(!m_app->btnSingout->isHidden(), "a keyring that cannot be asked was taken for a sign-out");
        QTest::keyClick(m_app->frequencyComboBox, Qt::Key_Down);
        const bool back = bringBack();
        QCOMPARE(m_alerts.alerts().size(), 1);
        QCOMPARE(m_alerts.alerts().first().messageText, QString("Your change could not be saved."));
        QCOMPARE(m_app->frequencyComboBox->currentIndex(), 1);
        QCOMPARE(m_activations.names.size(), 1);
        QVERIFY2(back, qPrintable(why));
        QCOMPARE(storedRecord(), record);
        QVERIFY(!m_app->btnSingout->isHidden());
    }

    void bothProgramsWritingTheRecordAtOnceLeaveOneWholeRecord()
    {
        const QString ours = "UserName=ada;Password=s3cret;Freequency=1;Status=1";
        const QString theirs = "UserName=bob;Password=hunter2;Freequency=2;Status=0";
        DetailsRecord::addDetailsToKeyChain({ "ada", "s3cret", 1, 1 });
        launch(m_service.url());
        QProcess writer;
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(TARVENDESK_BIN_DIR "/record-writer", { "60" });
        QVERIFY2(writer.waitForStarted(30000), "record-writer did not start");
        writer.write("bob\nhunter2\n2\n0\n");
        writer.closeWriteChannel();
        QVERIFY2(writer.waitForReadyRead(30000), "record-writer did not begin");
        // Settings changes, each a write, for as long as the other program writes.
        int changes = 0;
        while ((changes < 20 || !writer.waitForFinished(0)) && changes < 2000) {
            m_app->onFrequencyChange(m_app->frequencyComboBox);
            ++changes;
        }
        QVERIFY2(writer.state() == QProcess::NotRunning || writer.waitForFinished(60000),
            "record-writer did not end");
        QVERIFY2(writer.exitStatus() == QProcess::NormalExit && writer.exitCode() == 0,
            "record-writer failed");
        QVERIFY(writer.readAll().contains("written"));

        QCOMPARE(storedItems(), 1);
        const QString record = storedRecord();
        QVERIFY2(record == ours || record == theirs, qPrintable("stored: " + record));
        UserDetails read;
        QVERIFY(DetailsRecord::getDetailsFromKeyChain(read));
        // Once the other program's user is stored, this window signs out
        // rather than write its own user back.
        QVERIFY(m_activations.names.size() <= changes + 1);
    }
};

QTEST_MAIN(tst_SignInFaults)
#include "tst_SignInFaults.moc"
