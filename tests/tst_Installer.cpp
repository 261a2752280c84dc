// The installer on real copies into the real system folders: the process has
// a mount namespace of its own, in which each test mounts empty folders over
// /etc/xdg, /opt and /usr/local/share.

#include "common/ProcessHelpers.h"
#include "installer/AppDelegate.h"
#include "installer/InstallerWindow.h"
#include "platform/Application.h"
#include "platform/PrivilegedDuplication.h"
#include "support/BusPrograms.h"
#include "support/RecordingAlertPresenter.h"

#include <QApplication>
#include <QDirIterator>
#include <QPushButton>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Data = QStringLiteral(TARVENDESK_BIN_DIR "/../share/tarvendesk/installer");
const QString Tool = QStringLiteral(TARVENDESK_BIN_DIR "/tarvendesk-duplicate");
const QString AgentName = QStringLiteral("org.tarvendesk.TarvenDeskChecker.desktop");
const QString Agent = QStringLiteral("/etc/xdg/autostart/") + AgentName;
const QString App = QStringLiteral("/opt/tarvenDESK.app");
const char* const Folders[] = { "/etc/xdg", "/opt", "/usr/local/share" };
const bool NotifierBuilt = QStringLiteral(TARVENDESK_SUITE_PROGRAMS).contains("StatusBar");
// Why the process has no mounts of its own, or 0: set before main, while the
// process has one thread, as a process with more cannot leave its namespace.
const int noPrivateMounts = ::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
    ? errno
    : 0;

// The copy the command made of the installer's agent in the autostart
// folder, or why it made none.
QString duplicated(const QStringList& command,
    std::chrono::milliseconds limit = PrivilegedDuplication::DefaultTimeLimit)
{
    std::optional<QString> outcome;
    QObject context;
    PrivilegedDuplication::duplicateItem(
        Data + u'/' + AgentName, "/etc/xdg/autostart/", &context,
        [&](const QString& copy, const Error& why) {
            outcome = copy.isNull() ? why.localizedDescription() : copy;
        },
        command, limit);
    return QTest::qWaitFor([&] { return outcome.has_value(); }, 30000) ? *outcome : "(none)";
}

struct Installer
{
    explicit Installer(const QString& data)
        : delegate(std::make_unique<AppDelegate>(window, alerts, Bundle(data)))
    {
        delegate->applicationDidFinishLaunching(
            { ApplicationDidFinishLaunchingNotification, qApp });
    }
    // What the alerts of the press said, a line each.
    QString press()
    {
        alerts.clear();
        const bool installing = button()->text() == InstallTitle;
        QTest::mouseClick(button(), Qt::LeftButton);
        // Through once the button is back or an alert is up.
        if (installing)
            (void)QTest::qWaitFor(
                [&] { return button()->isEnabled() || !alerts.alerts().isEmpty(); }, 30000);
        QString said;
        for (const Alert& alert : alerts.alerts())
            said += alert.messageText + u' ' + alert.informativeText + u'\n';
        return said;
    }

    QPushButton* button() const { return window.findChild<QPushButton*>("instalButton"); }

    RecordingAlertPresenter alerts;
    InstallerWindow window;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace

class tst_Installer : public QObject
{
    Q_OBJECT

    QObject* m_terminatedBy = nullptr;

private slots:
    void initTestCase()
    {
        // It copies into the system folders only in mounts of its own.
        if (noPrivateMounts)
            QSKIP(std::strerror(noPrivateMounts));
        Application::setTerminateHandler([this](QObject* sender) { m_terminatedBy = sender; });
    }

    void init()
    {
        m_terminatedBy = nullptr;
        for (const char* folder : Folders)
            QVERIFY2(::mount("tmpfs", folder, "tmpfs", 0, nullptr) == 0, folder);
        QVERIFY(QDir().mkpath("/etc/xdg/autostart"));
    }

    void cleanup()
    {
        QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier));
        for (const char* folder : Folders)
            ::umount2(folder, MNT_DETACH);
    }

    void installReplacesEarlierCopiesOrReportsWhatFailed_data()
    {
        QTest::addColumn<QString>("failed");
        QTest::newRow("a first installation") << QString();
        QTest::newRow("an earlier installation, a bundle without the checker") << QString();
        QTest::newRow("no autostart folder") << AgentName;
        QTest::newRow("a link in the bundle, an earlier installation") << "tarvenDESK.app";
        QTest::newRow("a file in the way of the menu folder") << "tarvenDESK.app";
    }

    // Once the cause is gone, "Install" again puts everything in place; then
    // "Done" ends the installer.
    void installReplacesEarlierCopiesOrReportsWhatFailed()
    {
        QFETCH(QString, failed);
        const QString fault = QTest::currentDataTag();
        QTemporaryDir temp;
        const QString data = temp.path();
        const QString bundle = temp.filePath("tarvenDESK.app/");
        QVERIFY(QProcess::execute("cp", { "-r", Data + "/.", data }) == 0);
        QVERIFY(!fault.contains("without the checker")
            || QFile::remove(bundle + "share/applications/" + AgentName));
        QVERIFY(!fault.contains("earlier")
            || (QDir().mkpath(App + "/bin")
                && QFile(App + "/bin/earlier").open(QIODevice::WriteOnly)
                && QFile(Agent).open(QIODevice::WriteOnly)));
        QVERIFY(!fault.contains("menu")
            || QFile("/usr/local/share/applications").open(QIODevice::WriteOnly));
        QVERIFY(!fault.contains("autostart") || QDir("/etc/xdg/autostart").removeRecursively());
        QVERIFY(!fault.contains("link") || QFile::link("/etc/shadow", bundle + "bin/shadow"));

        Installer installer(data);
        installer.alerts.holdAnswers = true;
        const QString said = installer.press();
        // Nothing goes on until the failure's alert is answered.
        QCOMPARE(installer.button()->isEnabled(), failed.isEmpty());
        QVERIFY(failed != AgentName || !QFileInfo::exists(App));
        installer.alerts.answerHeld();
        installer.alerts.holdAnswers = false;
        QTRY_VERIFY_WITH_TIMEOUT(installer.button()->isEnabled(), 30000);
        QVERIFY2(
            failed.isEmpty() ? said.isEmpty() : said.count(u'\n') == 1 && said.contains(failed),
            qPrintable(said));
        QCOMPARE(installer.button()->text(), failed.isEmpty() ? DoneTitle : InstallTitle);
        // A failed copy leaves the earlier one whole.
        QCOMPARE(QFileInfo::exists(App + "/bin/earlier"), fault.contains("link"));
        if (!failed.isEmpty()) {
            QFile::remove(bundle + "bin/shadow");
            QFile::remove("/usr/local/share/applications");
            QVERIFY(QDir().mkpath("/etc/xdg/autostart"));
            QCOMPARE(installer.press(), QString());
        }
        QCOMPARE(QProcess::execute("cmp", { Agent, data + u'/' + AgentName })
                + QProcess::execute("diff", { "-r", App, data + "/tarvenDESK.app" }),
            0);
        // What the desktop reads of the bundle is linked into its data folder.
        for (QDirIterator it(App + "/share", QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();)
            if (const QString file = it.next(); !file.startsWith(App + "/share/tarvendesk/"))
                QCOMPARE(QFile::symLinkTarget("/usr/local/share" + file.mid(App.size() + 6)), file);

        // "Done" starts the checker the bundle brings, or says there is none.
        const bool started = NotifierBuilt && !fault.contains("without the checker");
        installer.press();
        QTRY_COMPARE_WITH_TIMEOUT(m_terminatedBy, installer.delegate.get(), 30000);
        QVERIFY2(installer.delegate->applicationShouldTerminateAfterLastWindowClosed(qApp),
            "closing the window leaves the installer running");
        QCOMPARE(installer.alerts.alerts().size(), started ? 0 : 1);
        QVERIFY(started
            || installer.alerts.alerts().value(0).messageText.contains(CheckerApplicationName));
        const QString notifier = started ? App + "/bin/tarvenDESKStatusBar" : QString();
        QTRY_COMPARE_WITH_TIMEOUT(
            QFile::symLinkTarget(
                "/proc/" + QString::number(ownerPid(StatusBarBundleIdentifier)) + "/exe"),
            notifier, 30000);
    }

    // The tool takes only the installer's two items, each into its own
    // folder; it is run with administrator rights only when it and every
    // folder above it are root's alone, and a copy that takes too long or is
    // refused those rights fails.
    void privilegedCopiesAreMadeOnlyOfTheInstallersItemsByRootsOwnTool()
    {
        const QString agent = Data + u'/' + AgentName;
        const QString elsewhere = Data + "/tarvenDESK.app/share/applications/" + AgentName;
        for (const QStringList& refused :
            QList<QStringList> { { "/root/.bashrc", "/opt/" }, { elsewhere, "/etc/xdg/autostart/" },
                { agent, "/opt/" }, { Data + "/../installer/" + AgentName, "/opt/../tmp" },
                { AgentName, "/etc/xdg/autostart/" }, { agent } })
            QVERIFY2(QProcess::execute(Tool, refused) == 2 && QDir("/opt").isEmpty()
                    && QDir("/etc/xdg/autostart").isEmpty(),
                qPrintable(refused.join(' ')));
        QCOMPARE(duplicated({ Tool }), Agent);
        QVERIFY(QFile::remove(Agent));
        QVERIFY(duplicated({ "sh", "-c", "sleep 30", "sh" }, std::chrono::milliseconds(200))
                    .contains("did not answer in time"));

        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody || !QFileInfo::exists("/usr/bin/pkexec"))
            QSKIP("Needs root, the user nobody and pkexec.");
        // An ordinary user without an authentication agent is granted nothing.
        QVERIFY(duplicated({ "setpriv", QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                               QStringLiteral("--regid=%1").arg(nobody->pw_gid), "--clear-groups",
                               "pkexec", Tool })
                    .contains("administrator rights were not given"));
        if (!PrivilegedDuplication::isTrustedTool(Tool, nullptr))
            QSKIP("The build folder does not belong to root alone.");
        // Owned by a user, writable by its group, in a folder others may write.
        for (const auto& [folder, owner, mode] :
            { std::tuple { QStringLiteral(TARVENDESK_TESTS_BINARY_DIR), nobody->pw_uid, 0755 },
                { QStringLiteral(TARVENDESK_TESTS_BINARY_DIR), 0u, 0775 },
                { QDir::tempPath(), 0u, 0755 } }) {
            // The build folder's folders belong to root when root builds.
            QTemporaryDir home(folder + "/tool-XXXXXX");
            const QString tool = home.filePath("tarvendesk-duplicate");
            QCOMPARE(::chmod(QFile::encodeName(home.path()), 0755), 0);
            QVERIFY(QFile::copy(Tool, tool));
            QCOMPARE(::chown(QFile::encodeName(tool), owner, 0), 0);
            QCOMPARE(::chmod(QFile::encodeName(tool), mode), 0);
            QVERIFY2(duplicated({ "pkexec", tool }).contains("not installed for administrators"),
                qPrintable(tool));
        }
        QVERIFY(QDir("/etc/xdg/autostart").isEmpty());
    }
};

QTEST_MAIN(tst_Installer)
#include "tst_Installer.moc"
