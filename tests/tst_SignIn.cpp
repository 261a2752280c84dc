// The sign-in program's window on the offscreen display, signing in against
// the reference service and keeping the record in the test session's keyring;
// and under strain: a hundred presses of the sign-in button in a row, the
// keyring daemon away or locked, and the record written by the window and by
// another program at once.

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "common/ProcessHelpers.h"
#include "platform/ApplicationActivation.h"
#include "platform/NetworkTrust.h"
#include "programs/ProbeProcess.h"
#include "signin/AppDelegate.h"
#include "signin/SignInWindow.h"
#include "support/BusPrograms.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>
#include <QtWidgets>
#include <signal.h>

namespace {

const QString StatusBarEntry = QStringLiteral(
    TARVENDESK_BIN_DIR "/../share/applications/org.tarvendesk.tarvenDESKStatusBar.desktop");

QVariant storedRecord()
{
    Error error;
    return KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error);
}

int storedItems()
{
    return int(SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).size());
}

} // namespace

class tst_SignIn : public QObject
{
    Q_OBJECT

    ReferenceService service;
    QNetworkAccessManager network;
    RecordingAlertPresenter alerts;
    // Every hand-over to the notifier, which starts it only when handOver is set.
    QStringList activations;
    bool handOver = true;
    // When set, every hand-over fails with this reason.
    QString handOverFailure;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<AppDelegate> app;

    void launch(const QUrl& url = {}, bool startNotifier = true)
    {
        handOver = startNotifier;
        window = SignInWindow::load();
        window->show();
        app = std::make_unique<AppDelegate>(
            *window, alerts, network, url.isEmpty() ? service.url() : url);
        app->applicationDidFinishLaunching({});
    }
    qsizetype requestsUnderWay() const { return network.findChildren<URLConnection*>().size(); }

    // Types into the fields and presses Enter, as a user signs in.
    void signIn(const QString& userName, const QString& password)
    {
        app->userNameTxtField->setText(userName);
        app->passwordTxtField->setText(password);
        QTest::keyClick(app->passwordTxtField, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(app->progressIndicator->isHidden(), 30000);
    }

    void verifySignedIn(bool signedIn)
    {
        QCOMPARE(app->btnSingout->isHidden(), !signedIn);
        QCOMPARE(app->signInstatusLbl->isHidden(), !signedIn);
        for (QWidget* element : std::initializer_list<QWidget*> { app->userNameTxtField,
                 app->passwordTxtField, app->lblUsername, app->lblPassword, app->btnSignIn })
            QVERIFY2(element->isHidden() == signedIn, qPrintable(element->objectName()));
        QCOMPARE(app->containerBox->title(), signedIn ? QString() : QStringLiteral("Sign In"));
    }

    void verifyStatusBarRunning()
    {
        QVERIFY2(QFile::exists(StatusBarEntry), "the notifier's desktop entry is not in the build");
        QTRY_VERIFY_WITH_TIMEOUT(BusPrograms::isNameOwned(StatusBarBundleIdentifier), 30000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.isValid(), qPrintable(service.errorString()));
        QVERIFY(service.addUser("ada", "p&ss w+rd%"));
        QVERIFY(service.addUser("ada ", "trailing"));
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        NetworkTrust::addTrustedCertificates(service.caCertificates());
        QApplication::setQuitOnLastWindowClosed(false);
        QVERIFY(BusPrograms::useOffscreenDisplay());
        ProcessHelpers::setLauncher([this](const QString& name, Error* error) {
            activations.append(name);
            if (!handOverFailure.isNull())
                return reportError(error, errorWithDescription("test", 1, handOverFailure));
            if (handOver)
                ApplicationActivation::activateApplication(name);
            return true;
        });
    }

    void init()
    {
        DetailsRecord::clearDetailsInKeyChain();
        alerts.clear();
        activations.clear();
        handOverFailure.clear();
    }

    void cleanup()
    {
        QString why;
        if (!KeyringDaemon::isRunning())
            QVERIFY2(KeyringDaemon::start(&why), qPrintable(why));
        if (SecretServiceControl::isDefaultCollectionLocked())
            QVERIFY2(SecretServiceControl::unlockDefaultCollection(&why), qPrintable(why));
        app.reset();
        window.reset();
        DetailsRecord::clearDetailsInKeyChain();
        // They may be held by a modal alert; they keep nothing of their own.
        QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier, SIGKILL));
        QVERIFY(BusPrograms::endProgramHolding(SignInBundleIdentifier, SIGKILL));
    }

    void cleanupTestCase() { ProcessHelpers::setLauncher({}); }

    void startWithStoredRecordShowsItAndASettingsChangeStoresItsCredentials()
    {
        DetailsRecord::addDetailsToKeyChain({ "ada", "p&ss w+rd%", 2, 0 });
        launch();
        verifySignedIn(true);
        QCOMPARE(app->signInstatusLbl->text(), "You are Logged in as ada");
        QCOMPARE(app->frequencyComboBox->currentIndex(), 2);
        QVERIFY(!app->showNotifactionCheckBox->isChecked());
        QCOMPARE(activations, QStringList { StatusBarApplicationName });

        // The fields were never filled: the change keeps the stored user.
        QTest::keyClick(app->showNotifactionCheckBox, Qt::Key_Space);
        QCOMPARE(
            storedRecord().toString(), "UserName=ada;Password=p&ss w+rd%;Freequency=2;Status=1");
        QCOMPARE(activations.size(), 2);

        // Signed out from the notifier's menu while this window stays open.
        DetailsRecord::clearDetailsInKeyChain();
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Up);
        QVERIFY2(storedRecord().isNull(), "a user signed out elsewhere was stored again");
        verifySignedIn(false);
        QCOMPARE(activations.size(), 2);
        QVERIFY(app->applicationShouldHandleReopen(qApp, true));
        verifySignedIn(false);
        verifyStatusBarRunning();
    }

    void blankFieldsAreRefusedWithoutRequestNamingTheField_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::newRow("blanks of every kind") << "\t\n\v\f\r\u0085\u00a0\u2003\u2028\u3000"
                                              << "secret";
        QTest::newRow("blank password") << "ada" << QString(" \t");
    }

    void blankFieldsAreRefusedWithoutRequestNamingTheField()
    {
        QFETCH(QString, userName);
        QFETCH(QString, password);
        const bool nameMissing = userName != "ada";
        launch();
        verifySignedIn(false);
        QCOMPARE(window->focusWidget(), app->userNameTxtField.data());
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        QTest::keyClick(app->showNotifactionCheckBox, Qt::Key_Space);
        QVERIFY2(storedRecord().isNull(), "settings alone stored a record");

        signIn(userName, password);
        QVERIFY2(network.findChildren<URLConnection*>().isEmpty(), "a request was sent");
        QCOMPARE(alerts.alerts().size(), 1);
        QCOMPARE(alerts.alerts().first().messageText,
            nameMissing ? "Please enter your user name." : "Please enter your password.");
        QCOMPARE(window->focusWidget(),
            nameMissing ? app->userNameTxtField.data() : app->passwordTxtField.data());
        QCOMPARE(app->userNameTxtField->text(), userName);
        verifySignedIn(false);
        QVERIFY(storedRecord().isNull());
        QCOMPARE(activations, QStringList());
    }

    void acceptanceStoresHandsOverAndSignOutForgetsAndBothStartByName()
    {
        launch();
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        QTest::keyClick(app->showNotifactionCheckBox, Qt::Key_Space);
        signIn("ada ", "trailing");
        QCOMPARE(alerts.alerts().size(), 0);
        verifySignedIn(true);
        QCOMPARE(app->signInstatusLbl->text(), "You are Logged in as ada ");
        QCOMPARE(
            storedRecord().toString(), "UserName=ada ;Password=trailing;Freequency=1;Status=0");
        QCOMPARE(app->userNameTxtField->text() + app->passwordTxtField->text(), QString());
        QCOMPARE(activations, QStringList { StatusBarApplicationName });

        // With the fields emptied, the change still stores the signed-in user.
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        QCOMPARE(
            storedRecord().toString(), "UserName=ada ;Password=trailing;Freequency=2;Status=0");

        QTest::mouseClick(app->btnSingout, Qt::LeftButton);
        verifySignedIn(false);
        QVERIFY(storedRecord().isNull());
        QVERIFY2(activations.size() == 3, "a running notifier was not told of the sign-out");
        QVERIFY(app->userName.isNull() && app->password.isNull());
        QTest::keyClick(app->showNotifactionCheckBox, Qt::Key_Space);
        QVERIFY2(storedRecord().isNull(), "a settings change after sign-out signed the user in");

        window->close();
        QVERIFY(app->applicationShouldTerminateAfterLastWindowClosed(qApp));
        QVERIFY(storedRecord().isNull());
        QCOMPARE(activations, QStringList(4, StatusBarApplicationName));
        verifyStatusBarRunning();
        ProcessHelpers::launchApplication("TarvenDESK.app");
        QTRY_VERIFY_WITH_TIMEOUT(BusPrograms::isNameOwned(SignInBundleIdentifier), 30000);
    }

    void aHundredPressesInARowAskOnceAndEndOnce_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("serviceDown");
        QTest::addColumn<QString>("failure");
        QTest::newRow("accepted") << "p&ss w+rd%" << false << QString();
        QTest::newRow("accepted, the notifier does not start")
            << "p&ss w+rd%" << false << "Application “tarvenDESKStatusBar.app” can’t be started.";
        QTest::newRow("refused") << "wrong" << false << QString();
        QTest::newRow("service down") << "p&ss w+rd%" << true << QString();
    }

    void aHundredPressesInARowAskOnceAndEndOnce()
    {
        QFETCH(QString, password);
        QFETCH(bool, serviceDown);
        QFETCH(QString, failure);
        handOverFailure = failure;
        if (!failure.isNull())
            QTest::ignoreMessage(QtWarningMsg,
                qPrintable("Activating tarvenDESKStatusBar.app failed: " + failure));
        const bool accepted = password == "p&ss w+rd%" && !serviceDown;
        QUrl url = service.url();
        if (serviceDown) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            url.setPort(closed.serverPort());
        }
        launch(url, false);
        const int requests = service.requestCount();
        app->userNameTxtField->setText("ada");
        app->passwordTxtField->setText(password);
        for (int press = 0; press < 100; ++press)
            QTest::mouseClick(app->btnSignIn, Qt::LeftButton);
        QCOMPARE(requestsUnderWay(), 1);
        QVERIFY(!app->progressIndicator->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(
            app->progressIndicator->isHidden() && requestsUnderWay() == 0, 30000);

        QCOMPARE(service.requestCount() - requests, serviceDown ? 0 : 1);
        QCOMPARE(alerts.alerts().size(), accepted && failure.isNull() ? 0 : 1);
        QCOMPARE(storedItems(), accepted ? 1 : 0);
        QCOMPARE(activations.size(), accepted ? 1 : 0);
        if (accepted) {
            QVERIFY2(storedRecord().toString().startsWith("UserName=ada;Password=p&ss w+rd%;Freequency=0;"),
                qPrintable(storedRecord().toString()));
            QVERIFY(app->btnSignIn->isHidden());
            if (!failure.isNull())
                QCOMPARE(alerts.alerts().first().informativeText, failure);
            return;
        }
        const QString alert = alerts.alerts().first().messageText;
        const QString refusal = "The operation could not be completed. "
                                "(Invalid user name or password. error 0.)";
        QVERIFY2(serviceDown ? alert != refusal : alert == refusal, qPrintable(alert));
        QCOMPARE(app->userNameTxtField->text() + app->passwordTxtField->text(), QString());
        verifySignedIn(false);
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        QVERIFY2(storedRecord().isNull(), "a refused user was stored by a settings change");

        // Once the answer is in, a press asks again.
        app->userNameTxtField->setText("ada");
        app->passwordTxtField->setText(password);
        QTest::mouseClick(app->btnSignIn, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            app->progressIndicator->isHidden() && requestsUnderWay() == 0, 30000);
        QCOMPARE(alerts.alerts().size(), 2);
        QCOMPARE(storedItems(), 0);
    }

    void whileTheKeyringIsAwaySignInAndSignOutSaySoAndLoseNothing()
    {
        launch({}, false);
        QString why;
        QVERIFY2(KeyringDaemon::stop(&why), qPrintable(why));
        app->userNameTxtField->setText("ada");
        app->passwordTxtField->setText("p&ss w+rd%");
        QTest::mouseClick(app->btnSignIn, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(app->progressIndicator->isHidden(), 30000);
        bool restarted = KeyringDaemon::start(&why);
        QCOMPARE(alerts.alerts().size(), 1);
        QCOMPARE(alerts.alerts().first().messageText, QString("You could not be signed in."));
        QVERIFY2(!app->btnSignIn->isHidden(), "the window shows a sign-in that was not kept");
        QVERIFY2(activations.isEmpty(), "the notifier was handed a user nothing stores");
        QCOMPARE(app->userNameTxtField->text(), QString("ada"));
        QVERIFY2(restarted, qPrintable(why));
        QCOMPARE(storedItems(), 0);

        // Once the keyring is back, the same press signs in.
        QTest::mouseClick(app->btnSignIn, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(app->progressIndicator->isHidden(), 30000);
        QCOMPARE(storedItems(), 1);
        QVERIFY(app->btnSignIn->isHidden());

        QVERIFY2(KeyringDaemon::stop(&why), qPrintable(why));
        QTest::mouseClick(app->btnSingout, Qt::LeftButton);
        restarted = KeyringDaemon::start(&why);
        QCOMPARE(alerts.alerts().size(), 2);
        QCOMPARE(alerts.alerts().last().messageText, QString("You could not be signed out."));
        QVERIFY2(!app->btnSingout->isHidden(), "the window shows a sign-out that did not happen");
        QVERIFY2(restarted, qPrintable(why));
        QCOMPARE(storedItems(), 1);

        QTest::mouseClick(app->btnSingout, Qt::LeftButton);
        QCOMPARE(storedItems(), 0);
        QVERIFY(app->btnSingout->isHidden() && alerts.alerts().size() == 2);
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
        DetailsRecord::addDetailsToKeyChain({ "ada", "p&ss w+rd%", 1, 1 });
        const QString record = storedRecord().toString();
        QVERIFY2(takeAway(), qPrintable(why));
        launch({}, false);
        QVERIFY2(app->btnSignIn->isHidden() && app->btnSingout->isHidden(),
            "a keyring that cannot be asked was shown as signed in or out");
        QVERIFY(activations.isEmpty());
        QVERIFY2(bringBack(), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(!app->btnSingout->isHidden(), 30000);
        QCOMPARE(app->signInstatusLbl->text(), QString("You are Logged in as ada"));
        QCOMPARE(activations.size(), 1);

        // Brought forward, then a settings change, while the keyring is away.
        QVERIFY2(takeAway(), qPrintable(why));
        QVERIFY(app->applicationShouldHandleReopen(qApp, true));
        QVERIFY2(!app->btnSingout->isHidden(), "a keyring that cannot be asked was taken for a sign-out");
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        const bool back = bringBack();
        QCOMPARE(alerts.alerts().size(), 1);
        QCOMPARE(alerts.alerts().first().messageText, QString("Your change could not be saved."));
        QCOMPARE(app->frequencyComboBox->currentIndex(), 1);
        QCOMPARE(activations.size(), 1);
        QVERIFY2(back, qPrintable(why));
        QCOMPARE(storedRecord().toString(), record);
        QVERIFY(!app->btnSingout->isHidden());
    }

    void bothProgramsWritingTheRecordAtOnceLeaveOneWholeRecord()
    {
        const QString ours = "UserName=ada;Password=p&ss w+rd%;Freequency=1;Status=1";
        const QString theirs = "UserName=bob;Password=hunter2;Freequency=2;Status=0";
        DetailsRecord::addDetailsToKeyChain({ "ada", "p&ss w+rd%", 1, 1 });
        launch({}, false);
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
            app->onFrequencyChange(app->frequencyComboBox);
            ++changes;
        }
        QVERIFY2(writer.state() == QProcess::NotRunning || writer.waitForFinished(60000),
            "record-writer did not end");
        QVERIFY2(writer.exitStatus() == QProcess::NormalExit && writer.exitCode() == 0,
            "record-writer failed");
        QVERIFY(writer.readAll().contains("written"));

        QCOMPARE(storedItems(), 1);
        const QString record = storedRecord().toString();
        QVERIFY2(record == ours || record == theirs, qPrintable("stored: " + record));
        UserDetails read;
        QVERIFY(DetailsRecord::getDetailsFromKeyChain(read));
        // Once the other program's user is stored, this window signs out
        // rather than write its own user back.
        QVERIFY(activations.size() <= changes + 1);
    }
};

QTEST_MAIN(tst_SignIn)
#include "tst_SignIn.moc"
