#include "statusbar/StatusMenu.h"

#include "platform/Application.h"
#include "platform/Bundle.h"
#include "platform/StatusItem.h"
#include "ui_StatusMenu.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QIcon>
#include <QLocale>
#include <QStandardPaths>

StatusMenu::StatusMenu()
    : m_menu(std::make_unique<QMenu>())
{
    Ui::StatusMenu form;
    form.setupUi(m_menu.get());
    m_signOutMenuItem = form.signOutMenuItem;
    m_unlockKeyringMenuItem = form.unlockKeyringMenuItem;

    const auto report = [this](QAction* item, void (StatusMenu::*clicked)(QObject*)) {
        connect(item, &QAction::triggered, this, [this, item, clicked] { (this->*clicked)(item); });
    };
    report(form.checkNotificationMenuItem, &StatusMenu::checkNotificationMenuItemClicked);
    report(form.goToApplicationMenuItem, &StatusMenu::goToApplicationMenuItemClicked);
    report(form.signOutMenuItem, &StatusMenu::signOutMenuItemClicked);
    report(form.unlockKeyringMenuItem, &StatusMenu::unlockKeyringMenuItemClicked);
    QAction* quit = form.quitMenuItem;
    connect(quit, &QAction::triggered, this, [quit] { Application::terminate(quit); });
}

StatusMenu::~StatusMenu() = default;

// By its name from the icon theme, so that the panel draws the symbolic icon
// in its own colour; the program's own copy where the suite installed none.
// The theme is searched only when the copy is there: a search that can only
// miss reads every index of the theme and its parents, which costs the item
// several milliseconds at each start.
QIcon StatusMenu::statusImage()
{
    const QString name = QStringLiteral("tarvendesk-status-symbolic");
    const QIcon own = Bundle::imageNamed(name + QStringLiteral(".svg"));
    const QString installed
        = QStringLiteral("icons/hicolor/symbolic/apps/") + name + QStringLiteral(".svg");
    if (QStandardPaths::locate(QStandardPaths::GenericDataLocation, installed).isEmpty())
        return own;
    return QIcon::fromTheme(name, own);
}

void StatusMenu::showStatusItem()
{
    m_statusItem = StatusItem::statusItemWithLength(StatusItem::VariableStatusItemLength);
    connect(m_statusItem.get(), &StatusItem::visibilityChanged, this,
        &StatusMenu::statusItemVisibilityChanged);
    m_statusItem->setMenu(m_menu.get());
    // In colour for an XEmbed tray; the symbolic one where the host recolours it.
    m_statusItem->setImage(Bundle::imageNamed(QStringLiteral("tarvendesk-status.svg")));
    m_statusItem->setSymbolicImage(statusImage());
    m_statusItem->setHighlightMode(true);
    m_statusItem->setVisible(true);
}

void StatusMenu::showSignOutTitle()
{
    setSignOutTitle(tr("Sign Out"));
}

void StatusMenu::showSignInTitle()
{
    setSignOutTitle(tr("Sign In"));
}

void StatusMenu::setSignOutTitle(const QString& title)
{
    if (!m_signOutMenuItem || m_signOutMenuItem->text() == title)
        return;
    m_signOutMenuItem->setText(title);
    emit signOutTitleShownChanged(isSignOutTitleShown());
}

bool StatusMenu::isStatusItemVisible() const
{
    return m_statusItem && m_statusItem->isVisible();
}

bool StatusMenu::isSignOutTitleShown() const
{
    return m_signOutMenuItem && m_signOutMenuItem->text() == tr("Sign Out");
}

void StatusMenu::showKeyringLocked(bool locked)
{
    if (m_unlockKeyringMenuItem)
        m_unlockKeyringMenuItem->setVisible(locked);
    if (m_statusItem && locked)
        m_statusItem->setToolTip(
            tr("%1\nThe keyring is locked").arg(QGuiApplication::applicationDisplayName()));
}

void StatusMenu::showCheckResult(const QString& text)
{
    if (m_statusItem)
        m_statusItem->setToolTip(
            tr("%1\n%2\nChecked %3")
                .arg(QGuiApplication::applicationDisplayName(), text,
                    QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat)));
}
