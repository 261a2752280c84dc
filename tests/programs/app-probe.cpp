// A program of the suite's shape for the tests: it starts through
// applicationMain under the identity its command line gives, shows a window,
// and reports what its delegate was told, as lines on standard output and
// through an object on the session bus.
//
//   app-probe [--identity ID] [--kill-others] [--quit-on-last-window-closed]
//             [--activate-at-launch NAME.app]

#include "common/ProcessHelpers.h"
#include "platform/Application.h"
#include "platform/ApplicationActivation.h"
#include "platform/ApplicationMain.h"

#include <QApplication>
#include <QDBusConnection>
#include <QWidget>
#include <cstdio>
#include <sys/prctl.h>

namespace {

QStringList arguments;

// The value after the option (empty after a flag), or null without it.
QString option(const char* name)
{
    const qsizetype at = arguments.indexOf(QLatin1String(name));
    return at > 0 ? arguments.value(at + 1, QStringLiteral("")) : QString();
}

class ProbeDelegate : public ApplicationDelegate
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarvendesk.test.Probe")

public:
    int m_activations = 0;
    int m_launches = 0;

    void applicationDidFinishLaunching(const Notification&) override
    {
        ++m_launches;
        if (!option("--kill-others").isNull())
            ProcessHelpers::killAllOtherInstance(QGuiApplication::desktopFileName());
        if (const QString name = option("--activate-at-launch"); !name.isEmpty())
            ProcessHelpers::launchApplication(name);
        std::puts("launched");
    }
    void applicationWillTerminate(const Notification&) override { std::puts("will-terminate"); }
    bool applicationShouldTerminateAfterLastWindowClosed(QObject*) override
    {
        std::puts("last-window-closed");
        return !option("--quit-on-last-window-closed").isNull();
    }
    bool applicationShouldHandleReopen(QObject*, bool) override
    {
        ++m_activations;
        return true;
    }

public slots:
    int activationCount() const { return m_activations; }
    int launchCount() const { return m_launches; }
    int dumpable() const { return ::prctl(PR_GET_DUMPABLE); }
    void closeWindow() { QApplication::topLevelWidgets().value(0)->close(); }
    void terminate() { Application::terminate(this); }
    // Answers at once; the activation goes on without it.
    void activate(const QString& name) { ApplicationActivation::activateApplication(name); }
};

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString id = option("--identity");
    const ApplicationIdentity identity { id.isEmpty() ? "org.tarvendesk.test.ActivationProbe" : id,
        "app-probe", "App Probe", "A program of the suite's shape.",
        { QCommandLineOption("identity", "", "id"), QCommandLineOption("kill-others"),
            QCommandLineOption("quit-on-last-window-closed"),
            QCommandLineOption("activate-at-launch", "", "name") } };
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        auto delegate = std::make_unique<ProbeDelegate>();
        interface.keep(std::make_unique<QWidget>())->show();
        QDBusConnection::sessionBus().registerObject(
            "/org/tarvendesk/test/Probe", delegate.get(), QDBusConnection::ExportAllSlots);
        return delegate;
    });
}

#include "app-probe.moc"
