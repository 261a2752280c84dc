#include "statusbar/StatusMenu.h"

#include "platform/Application.h"
#include "statusbar/AppDelegate.h"
#include "ui_StatusMenu.h"

QMenu* loadStatusMenu(InterfaceObjects& interface, AppDelegate& delegate)
{
    QMenu* menu = interface.keep(std::make_unique<QMenu>());
    Ui::StatusMenu form;
    form.setupUi(menu);
    delegate.statusMenu = menu;
    delegate.signOutMenuItem = form.signOutMenuItem;

    const auto sendTo = [&delegate](QAction* item, void (AppDelegate::*action)(QObject*)) {
        QObject::connect(item, &QAction::triggered, &delegate,
            [&delegate, item, action] { (delegate.*action)(item); });
    };
    sendTo(form.checkNotificationMenuItem, &AppDelegate::onCheckNotificationMenuItemClick);
    sendTo(form.goToApplicationMenuItem, &AppDelegate::onGoToApplicationMenuItemClick);
    sendTo(form.signOutMenuItem, &AppDelegate::onSignOutMenuItemClick);
    // The platform's own quit; the program has no code of its own for it.
    QAction* quit = form.quitMenuItem;
    QObject::connect(quit, &QAction::triggered, menu, [quit] { Application::terminate(quit); });
    return menu;
}
