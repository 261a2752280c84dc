#pragma once

// The installer's one window and one button: the first press puts the
// checker's autostart entry and the suite's bundle into the system folders,
// the second starts the checker and ends the installer.

#include "platform/ApplicationDelegate.h"
#include "platform/Bundle.h"

#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

class AlertPresenter;

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
    // The bundle is the installer's data folder, which holds what it copies.
    explicit AppDelegate(AlertPresenter& alertPresenter, Bundle bundle = Bundle::mainBundle());

    QWidget* window() const { return _window; }
    void setWindow(QWidget* window) { _window = window; }
    QPushButton* instalButton() const { return _instalButton; }
    void setInstalButton(QPushButton* button) { _instalButton = button; }

    void applicationDidFinishLaunching(const Notification& notification) override;
    void applicationWillTerminate(const Notification& notification) override;

    void onInstall(QObject* sender);
    // Each answers whether its item is in place; a failure has been shown in
    // an alert that names the item and the reason.
    bool copyPlist();
    bool copyApp(const QString& path);
    void launchApplication(const QString& applicationName);

private:
    bool copyItem(const QString& itemName, const QString& path, const QString& scriptSource);

    AlertPresenter& m_alertPresenter;
    Bundle m_bundle;
    QPointer<QWidget> _window;
    QPointer<QPushButton> _instalButton;
    // What is already in place from an earlier press of this run: pressing
    // "Install" again after a failure copies only what is still missing, as
    // a second copy of what is there would fail with "already exists".
    bool m_plistInPlace = false;
    bool m_appInPlace = false;
};
