#include "platform/ApplicationMain.h"

#include "platform/ApplicationBusObject.h"
#include "platform/TerminationSignals.h"
#include "platform/Workspace.h"

#include <QApplication>

InterfaceObjects::~InterfaceObjects()
{
    // Newest first, as a window made later may refer to one made earlier.
    while (!m_objects.empty())
        m_objects.pop_back();
}

int applicationMain(int argc, char** argv, const ApplicationIdentity& identity,
    const InterfaceBuilder& buildInterface)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(identity.applicationName);
    QApplication::setApplicationDisplayName(identity.displayName);
    QApplication::setDesktopFileName(identity.bundleIdentifier);
    // Whether closing the last window ends the program is the delegate's call.
    QApplication::setQuitOnLastWindowClosed(false);

    // exit, not quit: quit closes every window first, which would tell the
    // delegate of a last window closed that nobody closed.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &application,
        [] { QCoreApplication::exit(0); });

    InterfaceObjects interface;
    const std::unique_ptr<ApplicationDelegate> delegate = buildInterface(interface);
    if (!delegate)
        return 1;

    QObject::connect(&application, &QGuiApplication::lastWindowClosed, delegate.get(), [&] {
        if (delegate->applicationShouldTerminateAfterLastWindowClosed(&application))
            QCoreApplication::exit(0);
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, delegate.get(), [&] {
        delegate->applicationWillTerminate({ ApplicationWillTerminateNotification, &application });
    });
    // Posted before the name is taken, so it comes before any activation
    // another program sends once the name is ours.
    QMetaObject::invokeMethod(
        delegate.get(),
        [&] {
            delegate->applicationDidFinishLaunching(
                { ApplicationDidFinishLaunchingNotification, &application });
        },
        Qt::QueuedConnection);

    // The object first: a program started by the bus for an activation gets
    // that call as soon as it holds the name.
    ApplicationBusObject busObject(*delegate);
    busObject.exportFor(identity.bundleIdentifier);
    Workspace::registerBundleIdentifier(identity.bundleIdentifier);

    return QApplication::exec();
}
