// The sign-in program's window on the offscreen display, signing in against
// the reference service and keeping the record in the test session's keyring.

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

#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>
#include <QtWidgets>
#include <signal.h>

namespace {

const QString StatusBarEntry = QStringLiteral(
    TARVENDESK_BIN_DIR "/../share/applications/org.tarvendesk.tarvenDESKStatusBar.desktop");

// Passes every activation on to the desktop, and remembers what was activated.
struct ActivationRecorder
{
    QStringList names;
};

QVariant storedRecord()
{
    Error error;
    return KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error);
}

} // namespace

class tst_SignIn : public QObject
{
    Q_OBJECT

    ReferenceService service;
    QNetworkAccessManager network;
    RecordingAlertPresenter alerts;
    std::unique_ptr<ActivationRecorder> activations;
    std::unique_ptr<QWidget> window;
    std::unique_ptr<AppDelegate> app;

    void launch(const QUrl& url = {})
    {
        window = SignInWindow::load();
        window->show();
        app = std::make_unique<AppDelegate>(
            *window, alerts, network, url.isEmpty() ? service.url() : url);
        app->applicationDidFinishLaunching({});
    }

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
        activations = std::make_unique<ActivationRecorder>();
        ProcessHelpers::setLauncher([this](const QString& name) {
            activations->names.append(name);
            ApplicationActivation::activateApplication(name);
            return QString();
        });
    }

    void init()
    {
        DetailsRecord::clearDetailsInKeyChain();
        alerts.clear();
        activations->names.clear();
    }

    void cleanup()
    {
        app.reset();
        window.reset();
        DetailsRecord::clearDetailsInKeyChain();
        // They may be held by a modal alert; they keep nothing of their own.
        QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier, SIGKILL));
        QVERIFY(BusPrograms::endProgramHolding(SignInBundleIdentifier, SIGKILL));
    }

    void startWithStoredRecordShowsItAndASettingsChangeStoresItsCredentials()
    {
        DetailsRecord::addDetailsToKeyChain({ "ada", "p&ss w+rd%", 2, 0 });
        launch();
        verifySignedIn(true);
        QCOMPARE(app->signInstatusLbl->text(), "You are Logged in as ada");
        QCOMPARE(app->frequencyComboBox->currentIndex(), 2);
        QVERIFY(!app->showNotifactionCheckBox->isChecked());
        QCOMPARE(activations->names, QStringList { StatusBarApplicationName });

        // The fields were never filled: the change keeps the stored user.
        QTest::keyClick(app->showNotifactionCheckBox, Qt::Key_Space);
        QCOMPARE(
            storedRecord().toString(), "UserName=ada;Password=p&ss w+rd%;Freequency=2;Status=1");
        QCOMPARE(activations->names.size(), 2);

        // Signed out from the notifier's menu while this window stays open.
        DetailsRecord::clearDetailsInKeyChain();
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Up);
        QVERIFY2(storedRecord().isNull(), "a user signed out elsewhere was stored again");
        verifySignedIn(false);
        QCOMPARE(activations->names.size(), 2);
        QVERIFY(app->applicationShouldHandleReopen(qApp, true));
        verifySignedIn(false);
        verifyStatusBarRunning();
    }

    void blankFieldsAreRefusedWithoutRequestNamingTheField_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::newRow("empty name") << QString() << "secret";
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
        QCOMPARE(activations->names, QStringList());
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
        QCOMPARE(activations->names, QStringList { StatusBarApplicationName });

        // With the fields emptied, the change still stores the signed-in user.
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        QCOMPARE(
            storedRecord().toString(), "UserName=ada ;Password=trailing;Freequency=2;Status=0");

        QTest::mouseClick(app->btnSingout, Qt::LeftButton);
        verifySignedIn(false);
        QVERIFY(storedRecord().isNull());
        QVERIFY2(activations->names.size() == 3, "a running notifier was not told of the sign-out");
        QVERIFY(app->userName.isNull() && app->password.isNull());
        QTest::keyClick(app->showNotifactionCheckBox, Qt::Key_Space);
        QVERIFY2(storedRecord().isNull(), "a settings change after sign-out signed the user in");

        window->close();
        QVERIFY(app->applicationShouldTerminateAfterLastWindowClosed(qApp));
        QVERIFY(storedRecord().isNull());
        QCOMPARE(activations->names, QStringList(4, StatusBarApplicationName));
        verifyStatusBarRunning();
        ProcessHelpers::launchApplication("TarvenDESK.app");
        QTRY_VERIFY_WITH_TIMEOUT(BusPrograms::isNameOwned(SignInBundleIdentifier), 30000);
    }

    void refusalAndNetworkFailureAlertAndHoldNothing_data()
    {
        QTest::addColumn<bool>("serviceDown");
        QTest::newRow("refused") << false;
        QTest::newRow("network down") << true;
    }

    void refusalAndNetworkFailureAlertAndHoldNothing()
    {
        QFETCH(bool, serviceDown);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        QUrl url = service.url();
        url.setPort(closed.serverPort());
        closed.close();
        launch(serviceDown ? url : QUrl());
        signIn("ada", "wrong");
        QCOMPARE(alerts.alerts().size(), 1);
        const QString alert = alerts.alerts().first().messageText;
        const QString refusal = "The operation could not be completed. "
                                "(Invalid user name or password. error 0.)";
        QVERIFY2(serviceDown ? !alert.isEmpty() && alert != refusal : alert == refusal,
            qPrintable(alert));
        QCOMPARE(app->userNameTxtField->text() + app->passwordTxtField->text(), QString());
        verifySignedIn(false);
        QTest::keyClick(app->frequencyComboBox, Qt::Key_Down);
        QVERIFY2(storedRecord().isNull(), "a refused user was stored by a settings change");
        QCOMPARE(activations->names, QStringList());
    }
};

QTEST_MAIN(tst_SignIn)
#include "tst_SignIn.moc"
