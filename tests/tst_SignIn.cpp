// The sign-in program's window on the offscreen display, signing in against
// the reference service and keeping the record in the test session's keyring;
// and under strain: a hundred presses of the sign-in button in a row, the
// service gone, and the keyring locked or its daemon away.

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "common/ProcessHelpers.h"
#include "platform/Application.h"
#include "platform/ApplicationActivation.h"
#include "platform/NetworkTrust.h"
#include "platform/StoreWorker.h"
#include "signin/AppDelegate.h"
#include "signin/SignInWindow.h"
#include "support/BusPrograms.h"
#include "support/RawTlsServer.h"
#include "support/RecordingAlertPresenter.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QTest>
#include <QtNetwork>
#include <QtWidgets>
#include <signal.h>

#define WAIT(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 30000)

static QString storedRecord()
{
    return KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, nullptr).toString();
}

class tst_SignIn : public QObject
{
    Q_OBJECT

    // First, so that it stops last: as the program's entry owns it.
    StoreWorker storeWorker;
    ReferenceService service;
    std::unique_ptr<RawTlsServer> server;
    QNetworkAccessManager network;
    RecordingAlertPresenter alerts;
    // Every hand-over to the notifier. It is started only when handOver is
    // set; with handOverFailure set, every hand-over fails with it.
    QStringList activations;
    bool handOver = true;
    QString handOverFailure;
    QString why;
    std::unique_ptr<SignInWindow> window;
    std::unique_ptr<AppDelegate> app;
    inline static const QString Ada = "UserName=ada;Password=p&ss w+rd%;Freequency=";

    // Started, with the keyring's first answer in.
    void launch(const QUrl& url = {})
    {
        window = std::make_unique<SignInWindow>();
        window->show();
        app = std::make_unique<AppDelegate>(
            *window, alerts, network, url.isEmpty() ? service.url() : url);
        app->applicationDidFinishLaunching({});
        settle();
    }
    template <typename T = QWidget> T* element(const char* name) const
    {
        return window->findChild<T*>(name);
    }
    QString typed() const
    {
        return element<QLineEdit>("userNameTxtField")->text()
            + element<QLineEdit>("passwordTxtField")->text();
    }
    qsizetype requestsUnderWay() const { return network.findChildren<URLConnection*>().size(); }
    // Waits until the store's worker has answered everything asked of it so far.
    void settle()
    {
        bool answered = false;
        QObject context;
        DetailsRecord::getDetailsFromKeyChain(&context, [&](const auto&) { answered = true; });
        WAIT(answered);
    }
    void choose(const char* name, Qt::Key key)
    {
        QTest::keyClick(element(name), key);
        settle();
    }
    void signOut()
    {
        QTest::mouseClick(element("btnSingout"), Qt::LeftButton);
        settle();
    }

    // Types into the fields, presses Enter (and then the button, for so many
    // presses in all) and waits for the answer. The indicator runs while the
    // one request is under way, and only then: a blank field sends none.
    void signIn(const QString& userName, const QString& password, int presses = 1)
    {
        element<QLineEdit>("userNameTxtField")->setText(userName);
        element<QLineEdit>("passwordTxtField")->setText(password);
        QTest::keyClick(element("passwordTxtField"), Qt::Key_Return);
        for (int press = 1; press < presses; ++press)
            QTest::mouseClick(element("btnSignIn"), Qt::LeftButton);
        QWidget* indicator = element("progressIndicator");
        QVERIFY(requestsUnderWay() <= 1);
        QCOMPARE(indicator->isHidden(), requestsUnderWay() == 0);
        // It runs on while the keyring keeps an accepted sign-in.
        WAIT(indicator->isHidden() && requestsUnderWay() == 0);
    }

    void verifySignedIn(bool signedIn)
    {
        QCOMPARE(element("btnSingout")->isHidden() + element("signInstatusLbl")->isHidden(),
            signedIn ? 0 : 2);
        for (const char* name :
            { "userNameTxtField", "passwordTxtField", "lblUsername", "lblPassword", "btnSignIn" })
            QVERIFY2(element(name)->isHidden() == signedIn, name);
        // No empty space below the view shown.
        QTRY_COMPARE(window->height(), window->sizeHint().height());
    }

    enum Away
    {
        Locked,
        NotRunning,
        LockedOnDisk // the daemon started again without the password
    };
    // Takes the keyring away, or brings it back.
    bool keyring(bool up, Away away)
    {
        using namespace SecretServiceControl;
        if (up)
            return away == NotRunning ? KeyringDaemon::start(&why) : unlockDefaultCollection(&why);
        if (away == Locked)
            return lockDefaultCollection(&why);
        return KeyringDaemon::stop(&why)
            && (away == NotRunning || KeyringDaemon::start(&why, false));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(service.isValid() && service.addUser("ada", "p&ss w+rd%")
                && service.addUser("ada ", "trailing") && service.start(),
            qPrintable(service.errorString()));
        const std::optional<TestCertificates> certificates = TestCertificates::make(&why);
        QVERIFY2(certificates, qPrintable(why));
        server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        QVERIFY(server->listen());
        NetworkTrust::addTrustedCertificates(service.caCertificates() << certificates->authority);
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
        DetailsRecord::clearDetailsInKeyChain();
    }

    void cleanup()
    {
        QVERIFY2((KeyringDaemon::isRunning() || keyring(true, NotRunning))
                && (!SecretServiceControl::isDefaultCollectionLocked() || keyring(true, Locked)),
            qPrintable(why));
        app.reset();
        window.reset();
        DetailsRecord::clearDetailsInKeyChain();
        alerts.clear();
        activations.clear();
        handOverFailure.clear();
        // They may be held by a modal alert; they keep nothing of their own.
        QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier, SIGKILL));
        QVERIFY(BusPrograms::endProgramHolding(SignInBundleIdentifier, SIGKILL));
    }

    void cleanupTestCase() { ProcessHelpers::setLauncher({}); }

    void blankFieldsRefusalsAndAnAcceptedSignInThenItsSignOut()
    {
        launch();
        verifySignedIn(false);
        // A blank field is named, gets the focus and keeps what was typed.
        signIn("ada", " \t");
        QCOMPARE(window->focusWidget(), element("passwordTxtField"));
        QCOMPARE(typed(), "ada \t");
        signIn("\t\n\v\f\r\u0085\u00a0\u2003\u2028\u3000", "secret");
        QCOMPARE(window->focusWidget(), element("userNameTxtField"));
        QCOMPARE(alerts.count("Please enter your password."), 1);
        QCOMPARE(alerts.count("Please enter your user name."), 1);

        // A hundred presses ask once; a refusal empties the fields and holds no one.
        signIn("ada ", "wrong", 100);
        QCOMPARE(
            alerts.count(
                "The operation could not be completed. (Invalid user name or password. error 0.)"),
            1);
        QCOMPARE(typed(), QString());
        choose("frequencyComboBox", Qt::Key_Down);
        choose("showNotifactionCheckBox", Qt::Key_Space);
        QVERIFY2(storedRecord().isNull(), "a settings change stored a refused user");
        // Once the answer is in, a press asks again.
        signIn("ada ", "wrong");
        QCOMPARE(alerts.alerts().size(), 4);

        // Accepted, and the notifier could not be started: shown and logged.
        handOverFailure = "Application “tarvenDESKStatusBar.app” can’t be started.";
        QTest::ignoreMessage(QtWarningMsg,
            qPrintable("Activating tarvenDESKStatusBar.app failed: " + handOverFailure));
        signIn("ada ", "trailing", 100);
        QCOMPARE(alerts.count(std::exchange(handOverFailure, {})), 1);
        verifySignedIn(true);
        QCOMPARE(storedRecord(), "UserName=ada ;Password=trailing;Freequency=1;Status=0");
        QCOMPARE(typed(), QString());
        // With the fields emptied, the change still stores the signed-in user.
        choose("frequencyComboBox", Qt::Key_Down);
        QCOMPARE(storedRecord(), "UserName=ada ;Password=trailing;Freequency=2;Status=0");

        signOut();
        verifySignedIn(false);
        QVERIFY(storedRecord().isNull());
        choose("showNotifactionCheckBox", Qt::Key_Space);
        QVERIFY2(storedRecord().isNull(), "a settings change after sign-out signed the user in");

        // The service gone: one alert for a hundred presses, and a press after it asks again.
        service.stop();
        signIn("ada", "p&ss w+rd%", 100);
        QCOMPARE(typed(), QString());
        signIn("ada", "p&ss w+rd%");
        QCOMPARE(alerts.alerts().size(), 7);
        QVERIFY2(service.start(), qPrintable(service.errorString()));
        // Closed, it ends once the hand-over has answered, after its failure's alert.
        int terminations = 0;
        Application::setTerminateHandler([&](QObject*) { ++terminations; });
        handOverFailure = "Application “tarvenDESKStatusBar.app” has no command to start it.";
        QTest::ignoreMessage(QtWarningMsg,
            qPrintable("Activating tarvenDESKStatusBar.app failed: " + handOverFailure));
        alerts.holdAnswers = true;
        window->close();
        QVERIFY(!app->applicationShouldTerminateAfterLastWindowClosed(qApp));
        QCOMPARE(alerts.count("The notifier could not be started."), 2); // at sign-in, and now
        QCOMPARE(terminations, 0);
        alerts.answerHeld();
        alerts.holdAnswers = false;
        handOverFailure.clear();
        Application::setTerminateHandler({});
        QCOMPARE(terminations, 1);
        // Told on the sign-in, the change, the sign-out and the close.
        QCOMPARE(activations, QStringList(4, StatusBarApplicationName));
        WAIT(BusPrograms::isNameOwned(StatusBarBundleIdentifier));
        ProcessHelpers::launchApplication("TarvenDESK.app");
        WAIT(BusPrograms::isNameOwned(SignInBundleIdentifier));
    }

    // Only counts sign in; anything else is told, keeps the typed text when
    // it may be tried again, and stores nothing. Values the record could not
    // hold are refused before anything is posted.
    void whatIsNotAnAcceptanceIsToldAndStoresNothing_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("told"); // the alert's message and detail
        QTest::addColumn<bool>("posted");
        const auto row = [](const char* name, const QString& userName, const QString& password,
                             const QByteArray& answer, const QString& told, bool posted) {
            QTest::newRow(name) << userName << password << answer << told << posted;
        };
        // How each kind of answer is classified is tested on its own; here, one of each kind.
        row("502 with HTML", "ada", "pw",
            RawTlsServer::Answer::http(502, "<html>Bad Gateway</html>")
                .bytes.replace("json", "html"),
            "The service's answer could not be read. It answered with HTTP status 502.", true);
        row("cut short", "ada", "pw",
            "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n{",
            "The document service could not be reached. ", true);
        row("user name over 4 KiB", QString(4097, u'a'), "pw", {},
            "Your user name is too long. It may be at most 4096 bytes long.", false);
        row("password over 4 KiB", "ada", QString(1366, u'€'), {}, // 4098 bytes of UTF-8
            "Your password is too long. It may be at most 4096 bytes long.", false);
    }

    void whatIsNotAnAcceptanceIsToldAndStoresNothing()
    {
        QFETCH(QString, userName);
        QFETCH(QString, password);
        QFETCH(QByteArray, answer);
        QFETCH(QString, told);
        QFETCH(bool, posted);
        server->setAnswer({ answer });
        launch(server->url());
        const qsizetype before = server->requests().size();
        signIn(userName, password);
        QCOMPARE(alerts.alerts().size(), 1);
        const Alert alert = alerts.alerts().first();
        QVERIFY2((alert.messageText + " " + alert.informativeText).startsWith(told),
            qPrintable(alert.messageText + " " + alert.informativeText));
        verifySignedIn(false);
        QVERIFY(storedRecord().isNull());
        QVERIFY(activations.isEmpty());
        QCOMPARE(server->requests().size() - before, posted ? 1 : 0);
    }

    void aStoredRecordIsFollowedAndAKeyringAwayLosesNothing_data()
    {
        QTest::addColumn<int>("away");
        QTest::newRow("locked") << int(Locked);
        QTest::newRow("not running") << int(NotRunning);
        QTest::newRow("locked on disk") << int(LockedOnDisk);
    }

    void aStoredRecordIsFollowedAndAKeyringAwayLosesNothing()
    {
        QFETCH(int, away);
        const auto locked = Away(away);
        handOver = false;
        DetailsRecord::addDetailsToKeyChain({ "ada", "p&ss w+rd%", 2, 0 });
        QVERIFY2(keyring(false, locked), qPrintable(why));
        launch();
        QVERIFY2(element("btnSignIn")->isHidden() && element("btnSingout")->isHidden()
                && activations.isEmpty(),
            "a keyring that cannot be asked was taken for a sign-in or a sign-out");
        // The unlock asked at the opening fails here, with no display for the
        // prompt, and the waiting view offers to ask again.
        if (locked != NotRunning) {
            WAIT(!element("btnUnlockKeyring")->isHidden());
            QTest::mouseClick(element("btnUnlockKeyring"), Qt::LeftButton);
            QVERIFY(element("btnUnlockKeyring")->isHidden());
            WAIT(!element("btnUnlockKeyring")->isHidden());
        }
        QVERIFY2(keyring(true, locked), qPrintable(why));
        WAIT(!element("btnSingout")->isHidden());
        verifySignedIn(true);
        QCOMPARE(element<QLabel>("signInstatusLbl")->text(), "You are Logged in as ada");
        // The stored settings are shown, and the fields were never filled:
        // the change keeps the stored user.
        choose("showNotifactionCheckBox", Qt::Key_Space);
        QCOMPARE(storedRecord(), Ada + "2;Status=1");

        // Brought forward, a settings change and a sign-out, all while it is away.
        QVERIFY2(keyring(false, locked), qPrintable(why));
        QVERIFY(app->applicationShouldHandleReopen(qApp, true));
        choose("frequencyComboBox", Qt::Key_Up);
        WAIT(alerts.alerts().size() == 1); // once the keyring was asked to unlock
        QCOMPARE(element<QComboBox>("frequencyComboBox")->currentIndex(), 2);
        if (locked) { // the entry's action is the button's sign-out
            signOut();
        } else {
            QVERIFY(app->applicationPerformAction(qApp, "sign-out"));
            QVERIFY(!app->applicationPerformAction(qApp, "sign-in"));
            settle();
        }
        verifySignedIn(true);
        QCOMPARE(alerts.count("Your change could not be saved."), 1);
        QCOMPARE(alerts.count("You could not be signed out."), 1);
        QVERIFY2(keyring(true, locked), qPrintable(why));
        QCOMPARE(storedRecord(), Ada + "2;Status=1");

        // Signed out from the notifier's menu while this window stays open:
        // it follows at once.
        DetailsRecord::clearDetailsInKeyChain();
        WAIT(!element("btnSignIn")->isHidden());
        choose("frequencyComboBox", Qt::Key_Up);
        QVERIFY2(storedRecord().isNull(), "a user signed out elsewhere was stored again");
        verifySignedIn(false);
        QVERIFY(app->applicationShouldHandleReopen(qApp, true));
        settle();
        verifySignedIn(false);
        QCOMPARE(activations.size(), 2);

        // An accepted sign-in the keyring cannot keep is neither shown nor handed over.
        QVERIFY2(keyring(false, locked), qPrintable(why));
        signIn("ada", "p&ss w+rd%");
        QCOMPARE(alerts.alerts().size(), 3);
        QCOMPARE(alerts.count("You could not be signed in."), 1);
        verifySignedIn(false);
        QCOMPARE(typed(), "adap&ss w+rd%");
        QCOMPARE(activations.size(), 2);
        QVERIFY2(keyring(true, locked), qPrintable(why));
        QVERIFY(storedRecord().isNull());
        // Once the keyring is back, the same press signs in.
        signIn("ada", "p&ss w+rd%");
        verifySignedIn(true);
        QCOMPARE(storedRecord(), Ada + "0;Status=1");
    }
};

QTEST_MAIN(tst_SignIn)
#include "tst_SignIn.moc"
