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
#include <QPointer>
#include <QWidget>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>

namespace {

struct Options
{
    QString identity = QStringLiteral("org.tarvendesk.test.ActivationProbe");
    bool killOthers = false;
    bool quitOnLastWindowClosed = false;
    QString activateAtLaunch;
};

void say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

class ProbeDelegate : public ApplicationDelegate
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarvendesk.test.Probe")

public:
    ProbeDelegate(const Options& options, QWidget* window)
        : m_options(options)
        , m_window(window)
    {
    }

    void applicationDidFinishLaunching(const Notification&) override
    {
        ++m_launches;
        if (m_options.killOthers)
            ProcessHelpers::killAllOtherInstance(m_options.identity);
        if (!m_options.activateAtLaunch.isEmpty())
            ProcessHelpers::launchApplication(m_options.activateAtLaunch);
        say("launched");
    }

    void applicationWillTerminate(const Notification&) override { say("will-terminate"); }

    bool applicationShouldTerminateAfterLastWindowClosed(QObject*) override
    {
        say("last-window-closed");
        return m_options.quitOnLastWindowClosed;
    }

    bool applicationShouldHandleReopen(QObject*, bool) override
    {
        ++m_activations;
        say("activated");
        return true;
    }

public slots:
    int activationCount() const { return m_activations; }
    int launchCount() const { return m_launches; }
    QString desktopFileName() const { return QGuiApplication::desktopFileName(); }
    int dumpable() const { return ::prctl(PR_GET_DUMPABLE); }
    void closeWindow()
    {
        if (m_window)
            m_window->close();
    }
    void terminate() { Application::terminate(this); }
    // Answers at once; the activation goes on without it.
    void activate(const QString& applicationName)
    {
        ApplicationActivation::activateApplication(applicationName);
    }

private:
    Options m_options;
    QPointer<QWidget> m_window;
    int m_activations = 0;
    int m_launches = 0;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--identity") == 0 && i + 1 < argc)
            options.identity = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--kill-others") == 0)
            options.killOthers = true;
        else if (std::strcmp(argv[i], "--quit-on-last-window-closed") == 0)
            options.quitOnLastWindowClosed = true;
        else if (std::strcmp(argv[i], "--activate-at-launch") == 0 && i + 1 < argc)
            options.activateAtLaunch = QString::fromLocal8Bit(argv[++i]);
    }
    const ApplicationIdentity identity { options.identity, QStringLiteral("app-probe"),
        QStringLiteral("App Probe"), QStringLiteral("A program of the suite's shape."),
        { QCommandLineOption("identity", "", "id"), QCommandLineOption("kill-others"),
            QCommandLineOption("quit-on-last-window-closed"),
            QCommandLineOption("activate-at-launch", "", "name") } };
    return applicationMain(argc, argv, identity, [&](InterfaceObjects& interface) {
        QWidget* window = interface.keep(std::make_unique<QWidget>());
        window->setWindowTitle(QStringLiteral("App Probe"));
        window->show();
        auto delegate = std::make_unique<ProbeDelegate>(options, window);
        QDBusConnection::sessionBus().registerObject(QStringLiteral("/org/tarvendesk/test/Probe"),
            delegate.get(), QDBusConnection::ExportAllSlots);
        return delegate;
    });
}

#include "app-probe.moc"
