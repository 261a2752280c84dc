#include "statusbar/StatusMenu.h"

#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/StatusItem.h"
#include "ui_StatusMenu.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QLocale>

StatusMenu::StatusMenu()
    : m_menu(std::make_unique<QMenu>())
{
    Ui::StatusMenu form;
    form.setupUi(m_menu.get());
    m_signOutMenuItem = form.signOutMenuItem;

    const auto report = [this](QAction* item, void (StatusMenu::*clicked)(QObject*)) {
        connect(item, &QAction::triggered, this, [this, item, clicked] { (this->*clicked)(item); });
    };
    report(form.checkNotificationMenuItem, &StatusMenu::checkNotificationMenuItemClicked);
    report(form.goToApplicationMenuItem, &StatusMenu::goToApplicationMenuItemClicked);
    report(form.signOutMenuItem, &StatusMenu::signOutMenuItemClicked);
    QAction* quit = form.quitMenuItem;
    connect(quit, &QAction::triggered, this, [quit] { Application::terminate(quit); });
}

StatusMenu::~StatusMenu() = default;

void StatusMenu::showStatusItem()
{
    m_statusItem = StatusItem::statusItemWithLength(StatusItem::VariableStatusItemLength);
    m_statusItem->setMenu(m_menu.get());
    // By its name from the icon theme, so that the panel draws the symbolic
    // icon in its own colour; the program's own copy where none is installed.
    m_statusItem->setImage(QIcon::fromTheme(QStringLiteral("tarvendesk-status-symbolic"),
        Bundle::imageNamed(QStringLiteral("tarvendesk-status-symbolic.svg"))));
    m_statusItem->setHighlightMode(true);
    m_statusItem->setVisible(true);
}

void StatusMenu::showSignOutTitle()
{
    if (m_signOutMenuItem)
        m_signOutMenuItem->setText(tr("Sign Out"));
}

void StatusMenu::showSignInTitle()
{
    if (m_signOutMenuItem)
        m_signOutMenuItem->setText(tr("Sign In"));
}

bool StatusMenu::isSignOutTitleShown() const
{
    return m_signOutMenuItem && m_signOutMenuItem->text() == tr("Sign Out");
}

void StatusMenu::showCheckResult(const QString& text)
{
    if (m_statusItem)
        m_statusItem->setToolTip(
            tr("%1\n%2\nChecked %3")
                .arg(QGuiApplication::applicationDisplayName(), text,
                    QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat)));
}
