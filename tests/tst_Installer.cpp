// The installer on real copies into the real system folders: the process has
// a mount namespace of its own, in which each test binds temporary folders
// over /etc/xdg, /opt and /usr/local/share.

#include "common/ProcessHelpers.h"
#include "installer/InstallerInterface.h"
#include "platform/Application.h"
#include "platform/ApplicationActivation.h"
#include "platform/PrivilegedDuplication.h"
#include "support/BusPrograms.h"
#include "support/RecordingAlertPresenter.h"

#include <QApplication>
#include <QDirIterator>
#include <QStandardPaths>
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
const QString Notifier = App + QStringLiteral("/bin/tarvenDESKStatusBar");
const bool NotifierBuilt = QStringLiteral(TARVENDESK_SUITE_PROGRAMS).contains("StatusBar");
// Why the process has no mounts of its own, or 0.
int noPrivateMounts = 0;

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(content) == content.size();
}

// The copy the command made of the installer's agent in the autostart
// folder, or why it made none.
QString duplicated(const QStringList& command,
    std::chrono::milliseconds limit = PrivilegedDuplication::DefaultTimeLimit)
{
    std::optional<QString> outcome;
    QObject context;
    PrivilegedDuplication::duplicateItem(
        Data + u'/' + AgentName, "/etc/xdg/autostart/", &context,
        [&](const QString& copy, const QString& why) { outcome = copy.isNull() ? why : copy; },
        command, limit);
    return QTest::qWaitFor([&] { return outcome.has_value(); }, 30000) ? *outcome : "(none)";
}

struct Installer
{
    explicit Installer(const QString& data)
        : delegate(buildInstallerInterface(interface, alerts, Bundle(data)))
    {
        delegate->applicationDidFinishLaunching(
            { ApplicationDidFinishLaunchingNotification, qApp });
    }
    // What the alerts of the press said, each message with its informative text.
    QString press()
    {
        alerts.clear();
        QTest::mouseClick(delegate->instalButton(), Qt::LeftButton);
        QString said;
        for (const Alert& alert : alerts.alerts())
            said += alert.messageText + u' ' + alert.informativeText + u'\n';
        return said;
    }

    RecordingAlertPresenter alerts;
    InterfaceObjects interface;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace

class tst_Installer : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_system;
    QObject* m_terminatedBy = nullptr;

private slots:
    void initTestCase()
    {
        if (noPrivateMounts)
            QSKIP(qPrintable("It copies into the system folders, and has no mounts of its own: "
                + QString::fromLocal8Bit(std::strerror(noPrivateMounts))));
        Application::setTerminateHandler([this](QObject* sender) { m_terminatedBy = sender; });
    }

    void init()
    {
        QVERIFY(m_system.emplace().isValid());
        for (const QString folder : { "/etc/xdg", "/opt", "/usr/local/share" }) {
            const QByteArray over = QFile::encodeName(m_system->filePath(folder.section(u'/', -1)));
            QVERIFY(QDir().mkpath(over + (folder == "/etc/xdg" ? "/autostart" : ""))
                && ::mount(over, QFile::encodeName(folder), nullptr, MS_BIND, nullptr) == 0);
        }
        m_terminatedBy = nullptr;
    }

    void cleanup()
    {
        QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier));
        for (const char* folder : { "/opt", "/usr/local/share", "/etc/xdg" })
            ::umount2(folder, MNT_DETACH);
    }

    void installReplacesEarlierCopiesOrReportsWhatFailed_data()
    {
        QTest::addColumn<QString>("failed");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the suite's own") << ""
                                         << "";
        QTest::newRow("an earlier installation") << ""
                                                 << "";
        QTest::newRow("no autostart folder") << AgentName << "can’t be found";
        QTest::newRow("a link in the bundle, an earlier installation")
            << "tarvenDESK.app"
            << "neither a file nor a folder";
        QTest::newRow("a file in the way of the menu folder") << "tarvenDESK.app"
                                                              << "couldn’t be linked";
    }

    // Once the cause is gone, "Install" again puts everything in place; then
    // "Done" starts the checker, or says there is none, and ends the installer.
    void installReplacesEarlierCopiesOrReportsWhatFailed()
    {
        QFETCH(QString, failed);
        QFETCH(QString, reason);
        const QString fault = QTest::currentDataTag();
        const bool own = fault == "the suite's own";
        QTemporaryDir temp;
        const QString data = own ? Data : temp.path();
        const auto fill = [&] {
            return own
                || (QDir().mkpath("/etc/xdg/autostart")
                    && writeFile(temp.filePath(AgentName), "[Desktop Entry]\n")
                    && writeFile(temp.filePath("tarvenDESK.app/bin/program"), "program")
                    && writeFile(
                        temp.filePath("tarvenDESK.app/share/applications/x.desktop"), "x"));
        };
        QVERIFY(fill());
        if (fault.contains("earlier"))
            QVERIFY(writeFile(App + "/bin/earlier", "earlier") && writeFile(Agent, "earlier"));
        if (fault.contains("menu"))
            QVERIFY(writeFile("/usr/local/share/applications", "in the way"));
        if (fault.contains("autostart"))
            QVERIFY(QDir("/etc/xdg/autostart").removeRecursively());
        if (fault.contains("link"))
            QVERIFY(QFile::link("/etc/shadow", temp.filePath("tarvenDESK.app/bin/shadow")));

        Installer installer(data);
        QVERIFY(installer.delegate->window()->isVisible() && !QApplication::windowIcon().isNull());
        const QString said = installer.press();
        QVERIFY2(failed.isEmpty()
                ? said.isEmpty()
                : said.count(u'\n') == 1 && said.contains(failed) && said.contains(reason),
            qPrintable(said));
        QCOMPARE(installer.delegate->instalButton()->text(),
            failed.isEmpty() ? DoneTitle : InstallTitle);
        // A failed copy leaves the earlier one whole.
        QCOMPARE(QFileInfo::exists(App + "/bin/earlier"), fault.contains("link"));
        if (!failed.isEmpty()) {
            QFile::remove(temp.filePath("tarvenDESK.app/bin/shadow"));
            QFile::remove("/usr/local/share/applications");
            QVERIFY(fill());
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
        QVERIFY(QFileInfo::exists("/usr/local/share/applications"));
        const auto checker
            = ApplicationActivation::desktopEntryForApplicationName(CheckerApplicationName);
        QCOMPARE(checker ? checker->execArguments() : QStringList(),
            own && NotifierBuilt ? QStringList { Notifier } : QStringList());

        installer.press();
        QTRY_COMPARE_WITH_TIMEOUT(m_terminatedBy, installer.delegate.get(), 30000);
        QVERIFY2(installer.delegate->applicationShouldTerminateAfterLastWindowClosed(qApp),
            "closing the window leaves the installer running");
        if (!checker)
            QVERIFY(installer.alerts.alerts().size() == 1
                && installer.alerts.alerts().front().messageText.contains(CheckerApplicationName));
        else
            QTRY_COMPARE_WITH_TIMEOUT(
                QFile::symLinkTarget(
                    QStringLiteral("/proc/%1/exe").arg(ownerPid(StatusBarBundleIdentifier))),
                Notifier, 30000);
    }

    // The tool takes only the installer's two items, each into its own
    // folder; it is run with administrator rights only when it and every
    // folder above it are root's alone, and a copy that takes too long or is
    // refused those rights fails.
    void privilegedCopiesAreMadeOnlyOfTheInstallersItemsByRootsOwnTool()
    {
        QTemporaryDir temp;
        QVERIFY(writeFile(temp.filePath(AgentName), "x"));
        for (const QStringList& refused : { QStringList { "/root/.bashrc", "/opt/" },
                 QStringList { temp.filePath(AgentName), "/etc/xdg/autostart/" },
                 QStringList { Data + u'/' + AgentName, "/opt/" },
                 QStringList { Data + "/../installer/" + AgentName, "/opt/../tmp" },
                 QStringList { AgentName, "/etc/xdg/autostart/" },
                 QStringList { Data + u'/' + AgentName } })
            QVERIFY2(QProcess::execute(Tool, refused) == 2 && QDir("/opt").isEmpty()
                    && QDir("/etc/xdg/autostart").isEmpty(),
                qPrintable(refused.join(' ')));
        QCOMPARE(duplicated({ Tool }), Agent);
        QVERIFY(QFile::remove(Agent));
        QVERIFY(duplicated({ "sh", "-c", "sleep 30", "sh" }, std::chrono::milliseconds(200))
                    .contains("did not answer in time"));

        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody || QStandardPaths::findExecutable("pkexec").isEmpty())
            QSKIP("Needs root, the user nobody and pkexec.");
        // An ordinary user without an authentication agent is granted nothing.
        QVERIFY(duplicated({ "setpriv", QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                               QStringLiteral("--regid=%1").arg(nobody->pw_gid), "--clear-groups",
                               "pkexec", Tool })
                    .contains("administrator rights were not given"));
        if (!PrivilegedDuplication::untrustedToolReason(Tool).isEmpty())
            QSKIP("The build folder does not belong to root alone.");
        for (const QString fault : { "owned by a user", "writable by its group", "in /tmp" }) {
            // Under the build folder, whose folders belong to root when root builds.
            QTemporaryDir home((fault == "in /tmp" ? QDir::tempPath()
                                                   : QStringLiteral(TARVENDESK_TESTS_BINARY_DIR))
                + "/tool-XXXXXX");
            const QString tool = home.filePath("tarvendesk-duplicate");
            QVERIFY(::chmod(QFile::encodeName(home.path()), 0755) == 0 && QFile::copy(Tool, tool)
                && (!fault.startsWith("owned")
                    || ::chown(QFile::encodeName(tool), nobody->pw_uid, 0) == 0)
                && (!fault.startsWith("writable") || ::chmod(QFile::encodeName(tool), 0775) == 0));
            QVERIFY2(duplicated({ "pkexec", tool }).contains("not installed for administrators"),
                qPrintable(fault));
        }
        QVERIFY(QDir("/etc/xdg/autostart").isEmpty());
    }
};

int main(int argc, char** argv)
{
    // Only while the process has one thread: a process with more cannot leave
    // its mount namespace.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        noPrivateMounts = errno;
    QApplication application(argc, argv);
    tst_Installer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Installer.moc"
