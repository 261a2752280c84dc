#pragma once

// The installer's one window and one button: the first press puts the
// checker's autostart entry and the suite's bundle into the system folders,
// the second starts the checker and ends the installer.

#include "platform/ApplicationDelegate.h"
#include "platform/Bundle.h"

#include <QString>
#include <functional>

class AlertPresenter;
class InstallerWindow;

// The checker's autostart entry in the installer's data folder bears it as its
// name, and once installed the checker is its program.
inline const QString CheckerLaunchAgentLabel = QStringLiteral("org.tarvendesk.TarvenDeskChecker");
inline const QString CheckerApplicationName = QStringLiteral("TarvenDeskChecker.app");
inline const QString InstallTitle = QStringLiteral("Install");
inline const QString DoneTitle = QStringLiteral("Done");

class AppDelegate : public ApplicationDelegate
{
    Q_OBJECT

public:
    // The window's press comes to onInstall. The bundle is the installer's
    // data folder, which holds what it copies. The window and the presenter
    // must outlive the delegate.
    AppDelegate(InstallerWindow& window, AlertPresenter& alertPresenter,
        Bundle bundle = Bundle::mainBundle());

    void applicationDidFinishLaunching(const Notification& notification) override;
    void applicationWillTerminate(const Notification& notification) override;
    // Closing the window ends the installer.
    bool applicationShouldTerminateAfterLastWindowClosed(QObject* sender) override;

    // The button is off while a press is carried out: a copy into a system
    // folder waits for the user to grant administrator rights.
    void onInstall(QObject* sender);
    // Each copy replaces an earlier one of its item; a failure is shown in an
    // alert that names the item and the reason. The bundle's menu entries,
    // services and icons are linked into the system data folder with its
    // copy, and a failure to link is the copy's. copyPlist goes on with
    // copyApp, and that with the end of the press.
    void copyPlist();
    void copyApp(const QString& path);
    // then runs once the activation has succeeded or failed.
    void launchApplication(const QString& applicationName, std::function<void()> then = {});

private:
    void copyItem(const QString& itemName, const QString& path, const QString& folder,
        const std::function<void()>& then, const QString& exportFolder = {});
    void copiesFinished();

    InstallerWindow& m_window;
    AlertPresenter& m_alertPresenter;
    Bundle m_bundle;
    bool m_busy = false;
    bool m_copyFailed = false;
};
