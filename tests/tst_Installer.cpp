// The installer on real copies into the real system folders: the process has
// a mount namespace of its own, in which each test binds temporary folders
// over /etc/xdg, /opt and /usr/local/share.

#include "common/ProcessHelpers.h"
#include "installer/InstallerInterface.h"
#include "platform/Application.h"
#include "platform/ApplicationActivation.h"
#include "platform/PrivilegedDuplication.h"
#include "programs/ProbeProcess.h"
#include "support/BusPrograms.h"
#include "support/RecordingAlertPresenter.h"

#include <QApplication>
#include <QDirIterator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <optional>
#include <pwd.h>
#include <sched.h>
#include <sys/inotify.h>
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
const QString SystemData = QStringLiteral("/usr/local/share");
const bool NotifierBuilt = QStringLiteral(TARVENDESK_SUITE_PROGRAMS).contains("StatusBar");

// Only while the process has one thread: a process with more cannot leave
// its mount namespace. Empty when its mounts reach nobody else's.
QString noPrivateMounts;
QString enterPrivateMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(content) == content.size();
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// The status of a program run to its end, its output through `output`.
int run(const QString& program, const QStringList& arguments, QString* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ended
        = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return ended ? process.exitCode() : -1;
}

// What arrived in the folders watched, in order: a copy is put in place
// whole, by one rename from its hidden staging folder.
QStringList arrivals(int inotify, const QStringList& folders)
{
    QStringList arrived;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(inotify, buffer, sizeof buffer)) > 0;)
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->name[0] != '.')
                arrived << folders.value(event->wd - 1) + QFile::decodeName(event->name);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    return arrived;
}

struct Installer
{
    explicit Installer(const QString& data)
        : delegate(buildInstallerInterface(interface, alerts, Bundle(data)))
    {
        delegate->applicationDidFinishLaunching(
            { ApplicationDidFinishLaunchingNotification, qApp });
    }
    QString title() const { return delegate->instalButton()->text(); }
    // What the alerts so far said, each message with its informative text.
    QStringList press()
    {
        alerts.clear();
        QTest::mouseClick(delegate->instalButton(), Qt::LeftButton);
        QStringList said;
        for (const Alert& alert : alerts.alerts())
            said << alert.messageText + u' ' + alert.informativeText;
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

private slots:
    void initTestCase()
    {
        if (!noPrivateMounts.isEmpty())
            QSKIP(qPrintable("It copies into the system folders, and has no mounts of its own: "
                + noPrivateMounts));
        Application::setTerminateHandler([this](QObject* sender) { m_terminatedBy = sender; });
    }

    void init()
    {
        QVERIFY(m_system.emplace().isValid() && QDir(m_system->path()).mkpath("xdg/autostart")
            && QDir(m_system->path()).mkpath("opt") && QDir(m_system->path()).mkpath("share"));
        for (const QString folder : { "/etc/xdg", "/opt", "/usr/local/share" })
            QVERIFY2(
                ::mount(QFile::encodeName(m_system->path() + folder.mid(folder.lastIndexOf(u'/'))),
                    QFile::encodeName(folder), nullptr, MS_BIND, nullptr)
                    == 0,
                qPrintable(folder));
        m_terminatedBy = nullptr;
    }

    void cleanup()
    {
        QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier));
        ::umount2("/opt", MNT_DETACH);
        ::umount2("/usr/local/share", MNT_DETACH);
        ::umount2("/etc/xdg", MNT_DETACH);
    }

    void installPutsTheAgentThenTheBundleInPlaceAndDoneStartsTheChecker()
    {
        Installer installer(Data);
        QVERIFY(installer.delegate->window()->isVisible() && !QApplication::windowIcon().isNull());
        QCOMPARE(installer.title(), InstallTitle);
        const int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const QStringList folders { "/etc/xdg/autostart/", "/opt/" };
        for (const QString& folder : folders)
            ::inotify_add_watch(
                inotify, QFile::encodeName(folder).constData(), IN_MOVED_TO | IN_CREATE);

        QCOMPARE(installer.press(), QStringList());
        QCOMPARE(installer.title(), DoneTitle);
        QCOMPARE(arrivals(inotify, folders), (QStringList { Agent, App }));
        ::close(inotify);
        QCOMPARE(contentOf(Agent), contentOf(Data + u'/' + AgentName));
        QCOMPARE(run("diff", { "-r", App, Data + "/tarvenDESK.app" }), 0);
        // What the desktop reads of the bundle is linked into its data folder.
        int exported = 0;
        for (QDirIterator it(App + "/share", QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString file = it.next();
            if (file.startsWith(App + "/share/tarvendesk/"))
                continue;
            QCOMPARE(QFile::symLinkTarget(SystemData + file.mid(App.size() + 6)), file);
            ++exported;
        }
        QVERIFY(exported >= 3);
        const auto checker
            = ApplicationActivation::desktopEntryForApplicationName(CheckerApplicationName);
        QCOMPARE(checker ? checker->execArguments() : QStringList(),
            NotifierBuilt ? QStringList { Notifier } : QStringList());

        QCOMPARE(installer.press(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(m_terminatedBy, installer.delegate.get(), 30000);
        QVERIFY2(installer.delegate->applicationShouldTerminateAfterLastWindowClosed(qApp),
            "closing the window leaves the installer running");
        if (NotifierBuilt)
            QTRY_COMPARE_WITH_TIMEOUT(
                QFile::symLinkTarget(
                    QStringLiteral("/proc/%1/exe").arg(ownerPid(StatusBarBundleIdentifier))),
                Notifier, 30000);
    }

    void doneEndsTheInstallerEvenWithNoCheckerInstalled()
    {
        Installer installer(Data);
        QVERIFY(!ApplicationActivation::desktopEntryForApplicationName(CheckerApplicationName));
        installer.delegate->instalButton()->setText(DoneTitle);
        installer.press();
        QTRY_COMPARE_WITH_TIMEOUT(m_terminatedBy, installer.delegate.get(), 30000);
        QCOMPARE(installer.alerts.alerts().size(), 1);
        QVERIFY(installer.alerts.alerts().front().messageText.contains(CheckerApplicationName));
    }

    void earlierCopiesAreReplacedAndFailuresReported_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("failed");
        QTest::addColumn<QString>("reason");
        const QString app = QStringLiteral("tarvenDESK.app");
        QTest::newRow("an earlier installation") << "both there" << QStringList() << "";
        QTest::newRow("the bundle there") << "bundle there" << QStringList() << "";
        QTest::newRow("no autostart folder")
            << "no folder" << QStringList { AgentName } << "can’t be found";
        QTest::newRow("installer without bundle")
            << "no bundle" << QStringList { app } << "holds no";
        QTest::newRow("installer without agent")
            << "no agent" << QStringList { AgentName } << "holds no";
        QTest::newRow("a link in the bundle, the bundle there")
            << "link, bundle there" << QStringList { app } << "neither a file nor a folder";
        QTest::newRow("a file in the way of the menu folder")
            << "menu folder" << QStringList { app } << "couldn’t be linked";
    }

    // Once the cause is gone, "Install" again puts everything in place.
    void earlierCopiesAreReplacedAndFailuresReported()
    {
        QFETCH(QString, fault);
        QFETCH(QStringList, failed);
        QFETCH(QString, reason);
        QTemporaryDir data;
        const QString agent = data.filePath(AgentName);
        const QString program = data.filePath("tarvenDESK.app/bin/program");
        const QString entry = data.filePath("tarvenDESK.app/share/applications/x.desktop");
        QVERIFY(writeFile(agent, "[Desktop Entry]\n") && writeFile(program, "program")
            && writeFile(entry, "[Desktop Entry]\n"));
        if (fault == "menu folder")
            QVERIFY(writeFile(SystemData + "/applications", "in the way"));
        if (fault.endsWith("there"))
            QVERIFY(writeFile(App + "/bin/earlier", "earlier"));
        if (fault == "both there")
            QVERIFY(writeFile(Agent, "earlier"));
        if (fault == "no folder")
            QVERIFY(QDir("/etc/xdg/autostart").removeRecursively());
        if (fault == "no bundle")
            QVERIFY(QDir(data.filePath("tarvenDESK.app")).removeRecursively());
        if (fault == "no agent")
            QVERIFY(QFile::remove(agent));
        if (fault.startsWith("link"))
            QVERIFY(QFile::link("/etc/shadow", data.filePath("tarvenDESK.app/bin/shadow")));

        Installer installer(data.path());
        const QStringList said = installer.press();
        QCOMPARE(said.size(), failed.size());
        for (qsizetype i = 0; i < said.size(); ++i)
            QVERIFY2(said[i].contains(failed[i]) && said[i].contains(reason), qPrintable(said[i]));
        QCOMPARE(installer.title(), failed.isEmpty() ? DoneTitle : InstallTitle);
        // A failed copy leaves the earlier one whole.
        QCOMPARE(QFileInfo::exists(App + "/bin/earlier"), fault.startsWith("link"));
        const auto installed = [] {
            return contentOf(Agent) == "[Desktop Entry]\n" && QFileInfo::exists(App + "/bin/program")
                && QFile::symLinkTarget(SystemData + "/applications/x.desktop")
                == App + "/share/applications/x.desktop";
        };
        if (failed.isEmpty()) {
            QVERIFY(installed());
            return;
        }

        QVERIFY(QDir().mkpath("/etc/xdg/autostart") && writeFile(agent, "[Desktop Entry]\n")
            && writeFile(program, "program"));
        QFile::remove(data.filePath("tarvenDESK.app/bin/shadow"));
        QFile::remove(SystemData + "/applications");
        QVERIFY(writeFile(entry, "[Desktop Entry]\n"));
        QCOMPARE(installer.press(), QStringList());
        QCOMPARE(installer.title(), DoneTitle);
        QVERIFY(installed());
    }

    void privilegedToolCopiesOnlyTheBundlesItemsIntoTheirFolders()
    {
        QTemporaryDir temp;
        QVERIFY(
            writeFile(temp.filePath("item"), "item") && writeFile(temp.filePath(AgentName), "x"));
        QString said;
        for (const QStringList& refused : { QStringList { temp.filePath("item"), "/opt/" },
                 QStringList { "/root/.bashrc", "/opt/" },
                 QStringList { temp.filePath(AgentName), "/etc/xdg/autostart/" },
                 QStringList { Data + u'/' + AgentName, "/opt/" },
                 QStringList { Data + "/../installer/" + AgentName, "/opt/../tmp" },
                 QStringList { AgentName, "/etc/xdg/autostart/" },
                 QStringList { Data + u'/' + AgentName } })
            QVERIFY2(run(Tool, refused, &said) == 2 && QDir("/opt").isEmpty()
                    && QDir("/etc/xdg/autostart").isEmpty(),
                qPrintable(refused.join(' ') + ": " + said));
        QCOMPARE(run(Tool, { Data + u'/' + AgentName, "/etc/xdg/autostart/" }, &said), 0);
        QCOMPARE(said.trimmed(), Agent);
    }

    void onlyARootToolIsRunWithAdministratorRights_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("owned by a user") << "owner";
        QTest::newRow("writable by its group") << "mode";
        QTest::newRow("in a folder others may write") << "folder";
    }

    void onlyARootToolIsRunWithAdministratorRights()
    {
        QFETCH(QString, fault);
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() != 0 || !nobody)
            QSKIP("Needs root and the user nobody.");
        // Under the build folder, whose folders belong to root when root builds.
        const QString folder
            = fault == "folder" ? QDir::tempPath() : QStringLiteral(TARVENDESK_TESTS_BINARY_DIR);
        QTemporaryDir home(folder + "/tool-XXXXXX");
        QVERIFY(QFile::setPermissions(home.path(),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                | QFile::ExeOther));
        const QString tool = home.filePath("tarvendesk-duplicate");
        QVERIFY(QFile::copy(Tool, tool));
        if (fault == "owner")
            QVERIFY(::chown(QFile::encodeName(tool).constData(), nobody->pw_uid, 0) == 0);
        if (fault == "mode")
            QVERIFY(::chmod(QFile::encodeName(tool).constData(), 0775) == 0);
        if (!PrivilegedDuplication::isTrustedTool(Tool, nullptr))
            QSKIP("The build folder does not belong to root alone.");
        QVERIFY(!PrivilegedDuplication::isTrustedTool(tool, nullptr));

        std::optional<QString> why;
        QObject context;
        PrivilegedDuplication::duplicateItem(Data + u'/' + AgentName, "/etc/xdg/autostart/",
            &context, [&](const QString&, const Error& error) { why = error.localizedDescription(); },
            { "pkexec", tool });
        QTRY_VERIFY(why);
        QVERIFY2(why->contains("not installed for administrators"), qPrintable(*why));
    }

    void aCopyToolThatDoesNotEndFailsInTime()
    {
        std::optional<QString> why;
        QObject context;
        PrivilegedDuplication::duplicateItem(
            Data + u'/' + AgentName, "/etc/xdg/autostart/", &context,
            [&](const QString&, const Error& error) { why = error.localizedDescription(); },
            { "sh", "-c", "sleep 30", "sh" }, std::chrono::milliseconds(200));
        QTRY_VERIFY_WITH_TIMEOUT(why, 10000);
        QVERIFY2(why->contains("did not answer in time"), qPrintable(*why));
    }

    void refusedAdministratorRightsAreAFailedCopy()
    {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || QStandardPaths::findExecutable("setpriv").isEmpty()
            || QStandardPaths::findExecutable("pkexec").isEmpty())
            QSKIP("Needs the user nobody, setpriv and pkexec.");
        QTemporaryDir temp;
        QVERIFY(writeFile(temp.filePath("item"), "item"));
        // An ordinary user without an authentication agent is granted nothing.
        const QStringList asNobody { "setpriv", QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
            QStringLiteral("--regid=%1").arg(nobody->pw_gid), "--clear-groups", "pkexec", Tool };
        std::optional<std::pair<QString, QString>> outcome;
        QObject context;
        PrivilegedDuplication::duplicateItem(
            temp.filePath("item"), "/opt/", &context,
            [&](const QString& copy, const Error& error) {
                outcome = { copy, error.localizedDescription() };
            },
            asNobody);
        QTRY_VERIFY_WITH_TIMEOUT(outcome, 30000);
        QVERIFY(outcome->first.isNull());
        QVERIFY2(outcome->second.contains("administrator rights were not given"),
            qPrintable(outcome->second));
        QVERIFY(QDir("/opt").isEmpty());
    }

private:
    std::optional<QTemporaryDir> m_system;
    QObject* m_terminatedBy = nullptr;
};

int main(int argc, char** argv)
{
    noPrivateMounts = enterPrivateMountNamespace();
    QApplication application(argc, argv);
    tst_Installer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Installer.moc"
