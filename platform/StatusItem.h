#pragma once

// The program's item in the desktop's tray, with its menu. A desktop without
// a tray host (plain GNOME) simply shows no item, and the item appears when a
// host comes up later in the session.

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <memory>

class QDBusServiceWatcher;

class StatusItem : public QObject
{
    Q_OBJECT

public:
    static constexpr double VariableStatusItemLength = -1.0;

    // A tray item has the size the host gives it: the length is accepted
    // for every caller's sake and has no effect.
    static std::unique_ptr<StatusItem> statusItemWithLength(double length);
    ~StatusItem() override;

    // The menu is not owned. It opens on a click on the item, as the
    // host's context menu too.
    void setMenu(QMenu* menu);
    QMenu* menu() const { return m_menu; }

    void setImage(const QIcon& image);
    QIcon image() const { return m_image; }
    // Given instead of the image to a tray that draws it in its panel's
    // colours (a StatusNotifierItem host); an XEmbed tray draws the pixels as
    // they are, and a grey symbolic icon on its grey would not be seen.
    void setSymbolicImage(const QIcon& image);
    // The image the tray was given; null while the item is not up.
    QIcon shownImage() const;

    // Shown by the host when the pointer rests on the item; the program's
    // name until one is set.
    void setToolTip(const QString& toolTip);
    QString toolTip() const { return m_toolTip; }

    // Tray hosts draw the item's state themselves: kept, without effect.
    void setHighlightMode(bool highlightMode) { m_highlightMode = highlightMode; }
    bool highlightMode() const { return m_highlightMode; }

    // True while a tray host shows the item.
    bool isVisible() const;
    // Puts the item up as soon as the tray's watcher has answered, or takes it
    // down until asked again.
    void setVisible(bool visible);

signals:
    // The item went up or down, or was found to have no host to go to.
    void visibilityChanged();

private:
    StatusItem();

    void putUp();
    void putUpWith(bool watcher, bool hostRegistered);
    void putUpAgain();
    void onTrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    QIcon imageForTray() const;

    QPointer<QMenu> m_menu;
    QIcon m_image;
    QIcon m_symbolicImage;
    QString m_toolTip;
    bool m_highlightMode = false;
    bool m_toldNoHost = false;
    bool m_hidden = false;
    // The watcher has been asked whether it is there and has not answered.
    bool m_hostAsked = false;
    // A child of this item; replaced whenever it has to be put up again.
    QPointer<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<QDBusServiceWatcher> m_hostWatcher;
};
