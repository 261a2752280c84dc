#include "platform/Application.h"

#include <QApplication>
#include <QWidget>

namespace {

std::function<void(QObject*)>& terminateHandler()
{
    static std::function<void(QObject*)> handler;
    return handler;
}

} // namespace

namespace Application {

void setApplicationIconImage(const QIcon& image)
{
    QApplication::setWindowIcon(image);
}

void activateIgnoringOtherApps(bool flag)
{
    QWidget* toActivate = QApplication::activeWindow();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->windowType() == Qt::Popup
            || window->windowType() == Qt::ToolTip)
            continue;
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        if (!toActivate)
            toActivate = window;
    }
    // A window manager with focus-stealing prevention may still decline.
    if (toActivate && flag)
        toActivate->activateWindow();
}

void terminate(QObject* sender)
{
    if (terminateHandler()) {
        terminateHandler()(sender);
        return;
    }
    // Queued: a call made before the event loop runs would otherwise be lost.
    // exit, not quit, which would first close the windows one by one.
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void setTerminateHandler(std::function<void(QObject* sender)> handler)
{
    terminateHandler() = std::move(handler);
}

} // namespace Application
