#pragma once

// Puts the tests' keyring daemon into the states a user's desktop goes
// through: the login collection locked, and unlocked again with its password;
// the daemon stopped and started again as the test session does, unlocked,
// with the same keyring on disk; and it plants items the way other builds or
// programs left them.

#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace SecretServiceControl {

bool lockDefaultCollection(QString* why = nullptr);
// Unlocks without a prompt, as the desktop's login does with the password.
bool unlockDefaultCollection(QString* why = nullptr);
bool isDefaultCollectionLocked();
bool lockCollection(const QString& path, QString* why = nullptr);

// Points the default alias at the collection; "/" leaves no default one.
bool setDefaultAlias(const QString& collection);

// A second keyring, made without a prompt; its path, or empty on failure.
QString createCollection(const QString& label);
bool deleteCollection(const QString& path);

// An item of the suite's schema with these attributes and bytes, in the
// collection or else in the default one.
bool plantItem(
    QMap<QString, QString> attributes, const QByteArray& value, const QString& collection = {});

// The attributes of every item with this account and service, as the daemon
// holds them, in the collection or else in any.
QList<QMap<QString, QString>> itemAttributes(
    const QString& account, const QString& service, const QString& collection = {});

// The calls made to the Secret Service's own interface, by anyone, while the
// event loop runs for so long; -1 when they could not be watched.
int serviceCallsDuring(int milliseconds);

} // namespace SecretServiceControl

// The desktop's own prompter (gcr's), which the keyring daemon has the bus
// start, on a virtual display of its own; its prompts are answered with the
// keyboard, as a person would.
class KeyringPrompter
{
public:
    KeyringPrompter();
    ~KeyringPrompter();
    bool isValid() const { return !m_display.isEmpty(); }
    // The next prompt shown gets the texts typed into its fields, Tab between
    // them and Enter after the last (a new keyring's password is asked for
    // twice, the second time to confirm it); with none it is dismissed with
    // Escape. Returns at once.
    void answerNextPrompt(const QStringList& typed = {});
    // Waits until a prompt is shown.
    bool shown();
    // Waits until the keys have been pressed and the prompt has gone.
    bool answered();

private:
    bool isPromptVisible() const;

    QProcess m_server;
    QProcess m_answer;
    QString m_display;
};

namespace KeyringDaemon {

bool isRunning();
// Ends the daemon that owns the Secret Service name and waits for the name to go.
bool stop(QString* why = nullptr);
// Starts one with the test keyring's password on its standard input and waits
// until the name is owned again. Without the password (as after an autologin)
// the login keyring stays locked as it was loaded from disk.
bool start(QString* why = nullptr, bool withPassword = true);

} // namespace KeyringDaemon
