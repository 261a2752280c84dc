#pragma once

// The notifier's view: its item in the tray and the item's menu from the
// program's interface resource. It shows what the delegate tells it and
// reports the entries' choices as signals; the quit entry goes to the
// platform's own quit, as no code of the program handles it.

#include <QObject>
#include <QPointer>
#include <memory>

class QAction;
class QIcon;
class QMenu;
class StatusItem;

class StatusMenu : public QObject
{
    Q_OBJECT

public:
    StatusMenu();
    ~StatusMenu() override;

    // Creates the item with the menu and the icon and puts it up at once.
    void showStatusItem();
    // The sign-out entry's title, the program's only record of whether a
    // user is signed in: "Sign Out" while one is, "Sign In" otherwise.
    void showSignOutTitle();
    void showSignInTitle();
    bool isSignOutTitleShown() const;
    // While the keyring is locked: said in the item's tool tip, and the menu
    // offers to unlock it.
    void showKeyringLocked(bool locked);
    // The item's tool tip names the last check's result and when it came.
    void showCheckResult(const QString& text);

    // The menu, whose entries carry the names of the interface resource, and
    // the item once it is shown.
    QMenu* menu() const { return m_menu.get(); }
    const StatusItem* statusItem() const { return m_statusItem.get(); }
    // True while a tray host shows the item.
    bool isStatusItemVisible() const;

signals:
    // Each with the entry chosen as its sender.
    void checkNotificationMenuItemClicked(QObject* sender);
    void goToApplicationMenuItemClicked(QObject* sender);
    void signOutMenuItemClicked(QObject* sender);
    void unlockKeyringMenuItemClicked(QObject* sender);
    // The sign-out entry's title changed between "Sign Out" and "Sign In".
    void signOutTitleShownChanged(bool shown);
    // The item went up or down in a tray, or found none.
    void statusItemVisibilityChanged();

private:
    static QIcon statusImage();
    void setSignOutTitle(const QString& title);

    std::unique_ptr<QMenu> m_menu;
    QPointer<QAction> m_signOutMenuItem;
    QPointer<QAction> m_unlockKeyringMenuItem;
    std::unique_ptr<StatusItem> m_statusItem;
};
