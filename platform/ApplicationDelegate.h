#pragma once

// What the application tells a program's delegate over its life. A program's
// AppDelegate derives from this and answers what it needs; it depends on
// nothing else here, so tests make one without starting the application.

#include <QObject>
#include <QString>

struct Notification
{
    QString name;
    QObject* object = nullptr;
};

inline const QString ApplicationDidFinishLaunchingNotification
    = QStringLiteral("ApplicationDidFinishLaunchingNotification");
inline const QString ApplicationWillTerminateNotification
    = QStringLiteral("ApplicationWillTerminateNotification");

class ApplicationDelegate : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Once, from the running event loop, after the interface is built.
    virtual void applicationDidFinishLaunching(const Notification&) { }
    // Once, when the event loop ends: quit, terminate(), SIGTERM or SIGINT.
    virtual void applicationWillTerminate(const Notification&) { }
    // After the last window closed; true ends the program.
    virtual bool applicationShouldTerminateAfterLastWindowClosed(QObject*) { return false; }
    // Another program activated this one while it runs; true lets the
    // application raise and activate its windows.
    virtual bool applicationShouldHandleReopen(QObject*, bool) { return true; }
    // The desktop chose one of the actions the program's desktop entry
    // lists; false for an action the program does not have.
    virtual bool applicationPerformAction(QObject*, const QString&) { return false; }
};
