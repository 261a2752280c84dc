#pragma once

// User notifications through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Delivery never blocks
// the event loop; a desktop without the service drops the notification, and
// a service that plays no sounds has the sound played here.

#include <QDBusConnection>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

struct ca_context;

// The desktop's usual sound for an incoming message.
inline const QString UserNotificationDefaultSoundName = QStringLiteral("message-new-instant");

struct UserNotification
{
    enum class Urgency : uchar
    {
        Low = 0,
        Normal = 1,
        Critical = 2
    };

    QString title;
    QString informativeText;
    // A freedesktop sound name, UserNotificationDefaultSoundName, or empty for
    // a silent notification.
    QString soundName;
    Urgency urgency = Urgency::Normal;
    // A freedesktop notification category ("x-vendor.class" for one of the
    // program's own), or empty for none.
    QString category {};
    // The name of the notification's default action (a click on it); empty
    // for a notification that does nothing when clicked.
    QString defaultActionTitle {};

    bool operator==(const UserNotification&) const = default;
};

Q_DECLARE_METATYPE(UserNotification)

class UserNotificationCenter : public QObject
{
    Q_OBJECT

public:
    // The centre on the session bus, owned by the application.
    static UserNotificationCenter* defaultUserNotificationCenter();

    explicit UserNotificationCenter(const QDBusConnection& connection, QObject* parent = nullptr);
    ~UserNotificationCenter() override;

    // Hands the notification to the desktop and returns at once. The
    // notification carries the program's display name, icon and desktop
    // entry; its body is shown as given, also by servers that read markup.
    // It takes the place of the one this centre delivered before.
    void deliverNotification(const UserNotification& notification);

signals:
    // The service has taken the notification (whether it shows it is the
    // desktop's and the user's choice).
    void didDeliverNotification(const UserNotification& notification);
    // No service took it: none on the bus, or it answered with an error.
    void didDropNotification(const UserNotification& notification);
    // The sound was handed to the desktop's sound player because the service
    // plays none.
    void didPlayEventSound(const QString& eventId);
    // The user clicked the last delivered notification (its default action).
    void didActivateNotification();

private slots:
    // QtDBus connects bus signals by slot name only.
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct SoundContextDeleter
    {
        void operator()(ca_context* context) const;
    };

    void notify(const UserNotification& notification, const QStringList& capabilities);
    void dropLater(const UserNotification& notification);
    void playSoundUnlessInhibited(const UserNotification& notification);
    void playEventSound(const QString& eventId, const QString& description);

    QDBusConnection m_connection;
    // The server's ID of the last notification still shown; 0 for none.
    uint m_shownId = 0;
    std::unique_ptr<ca_context, SoundContextDeleter> m_sounds;
};
