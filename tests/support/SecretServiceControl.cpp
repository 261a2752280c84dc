#include "support/SecretServiceControl.h"

#include "support/BusPrograms.h"

#include <QProcess>
#include <QTest>
#include <QtDBus>

namespace {

const QString secretsName = "org.freedesktop.secrets";
const QString servicePath = "/org/freedesktop/secrets";
const QString serviceInterface = "org.freedesktop.Secret.Service";
const QString defaultPath = "/org/freedesktop/secrets/aliases/default";
const QString collectionInterface = "org.freedesktop.Secret.Collection";
// gnome-keyring's own interface for keyrings with a password in hand, no prompt.
const QString gnomeInterface = "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface";

// Plain method calls: an interface object would introspect the daemon and
// keep a meta-object for it that Qt never frees.
QDBusMessage call(const QString& method, const QVariantList& arguments = {},
    const QString& path = servicePath, const QString& interface = serviceInterface)
{
    qDBusRegisterMetaType<QMap<QString, QString>>();
    QDBusMessage message = QDBusMessage::createMethodCall(secretsName, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message);
}

// A property's value; invalid when it could not be read.
QVariant property(const QString& path, const QString& interface, const QString& name)
{
    const QDBusReply<QDBusVariant> reply
        = call("Get", { interface, name }, path, "org.freedesktop.DBus.Properties");
    return reply.isValid() ? reply.value().variant() : QVariant();
}

// Always false, with the reason handed back when asked for.
bool fail(QString* why, const QString& text)
{
    return why && (*why = text, false);
}

bool succeeded(const QDBusMessage& reply, QString* why = nullptr)
{
    return reply.type() != QDBusMessage::ErrorMessage || fail(why, reply.errorMessage());
}

// The bytes as a secret (oayays) of a plain-text session opened for them.
QVariant secretOf(const QByteArray& value)
{
    const QDBusMessage opened
        = call("OpenSession", { "plain", QVariant::fromValue(QDBusVariant("")) });
    QDBusArgument secret;
    secret.beginStructure();
    secret << opened.arguments().value(1).value<QDBusObjectPath>() << QByteArray() << value
           << QString("text/plain");
    secret.endStructure();
    return QVariant::fromValue(secret);
}

} // namespace

namespace SecretServiceControl {

bool lockCollection(const QString& path, QString* why)
{
    const QList<QDBusObjectPath> paths { QDBusObjectPath(path) };
    return succeeded(call("Lock", { QVariant::fromValue(paths) }), why);
}

bool lockDefaultCollection(QString* why)
{
    return lockCollection(defaultPath, why)
        && (isDefaultCollectionLocked() || fail(why, "the collection is still unlocked"));
}

bool unlockDefaultCollection(QString* why)
{
    const QVariantList arguments { QVariant::fromValue(QDBusObjectPath(defaultPath)),
        secretOf(TARVENDESK_TEST_KEYRING_PASSWORD) };
    return succeeded(call("UnlockWithMasterPassword", arguments, servicePath, gnomeInterface), why)
        && (!isDefaultCollectionLocked() || fail(why, "the collection is still locked"));
}

bool isDefaultCollectionLocked()
{
    return property(defaultPath, collectionInterface, "Locked").toBool();
}

bool setDefaultAlias(const QString& collection)
{
    return succeeded(
        call("SetAlias", { "default", QVariant::fromValue(QDBusObjectPath(collection)) }));
}

QString createCollection(const QString& label)
{
    const QVariantList arguments { QVariantMap { { collectionInterface + ".Label", label } },
        secretOf(TARVENDESK_TEST_KEYRING_PASSWORD) };
    const QDBusReply<QDBusObjectPath> created
        = call("CreateWithMasterPassword", arguments, servicePath, gnomeInterface);
    return created.isValid() ? created.value().path() : QString();
}

bool deleteCollection(const QString& path)
{
    return succeeded(call("Delete", {}, path, collectionInterface));
}

bool plantItem(
    QMap<QString, QString> attributes, const QByteArray& value, const QString& collection)
{
    attributes.insert("xdg:schema", "org.tarvendesk.GenericPassword");
    const QVariantMap properties { { "org.freedesktop.Secret.Item.Label", "planted" },
        { "org.freedesktop.Secret.Item.Attributes", QVariant::fromValue(attributes) } };
    return succeeded(call("CreateItem", { properties, secretOf(value), false },
        collection.isEmpty() ? defaultPath : collection, collectionInterface));
}

QList<QMap<QString, QString>> itemAttributes(
    const QString& account, const QString& service, const QString& collection)
{
    const QVariantList query { QVariant::fromValue(
        QMap<QString, QString> { { "account", account }, { "service", service } }) };
    QList<QMap<QString, QString>> items;
    // The service answers with its unlocked and its locked items, a collection
    // with its own; an error's text converts to no paths.
    for (const QVariant& list :
        (collection.isEmpty() ? call("SearchItems", query)
                              : call("SearchItems", query, collection, collectionInterface))
            .arguments())
        for (const QDBusObjectPath& path : qdbus_cast<QList<QDBusObjectPath>>(list))
            items.append(qdbus_cast<QMap<QString, QString>>(
                property(path.path(), "org.freedesktop.Secret.Item", "Attributes")));
    return items;
}

int serviceCallsDuring(int milliseconds)
{
    QProcess monitor;
    monitor.start(
        "dbus-monitor", { "--session", "type='method_call',interface='" + serviceInterface + "'" });
    // It tells of its own name first, once its rules are in place.
    if (!monitor.waitForStarted(30000)
        || !QTest::qWaitFor([&] { return monitor.bytesAvailable() > 0; }, 30000))
        return -1;
    monitor.readAll();
    QTest::qWait(milliseconds);
    monitor.terminate();
    monitor.waitForFinished(30000);
    return int(monitor.readAll().count("method call "));
}

} // namespace SecretServiceControl

KeyringPrompter::KeyringPrompter()
{
    // A prompter lingers a few seconds after its last prompt, and a prompt
    // asked of one that is leaving is lost: an earlier test's is let go first.
    if (!QTest::qWaitFor(
            [] { return !BusPrograms::isNameOwned("org.gnome.keyring.SystemPrompter"); }, 60000))
        return;
    // The server writes the display it chose to its standard output.
    m_server.start("Xvfb", { "-displayfd", "1", "-nolisten", "tcp" });
    if (!m_server.waitForStarted(30000)
        || !QTest::qWaitFor([&] { return m_server.canReadLine(); }, 30000))
        return;
    const QString display = ':' + QString::fromLatin1(m_server.readLine()).trimmed();
    if (BusPrograms::setActivationEnvironment({ { "DISPLAY", display } }))
        m_display = display;
}

KeyringPrompter::~KeyringPrompter()
{
    // Prompts asked later fail at once, as on a desktop with no display.
    BusPrograms::setActivationEnvironment({ { "DISPLAY", QString() } });
    m_answer.kill();
    m_answer.waitForFinished();
    m_server.terminate();
    m_server.waitForFinished();
}

void KeyringPrompter::answerNextPrompt(const QStringList& typed)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_display);
    m_answer.setProcessEnvironment(environment);
    // The display has no window manager to give the prompt the keyboard: the
    // prompt is given the input focus itself, and the keys go to it through
    // the XTEST extension, as a keyboard's would. Each is a command of its
    // own: in a chain xdotool sends them to the window found instead, and
    // after a typed file it takes the rest for more text. The texts go to
    // standard input, never onto a command line.
    m_answer.start("sh",
        { "-c",
            "xdotool search --sync --onlyvisible --class gcr-prompter windowfocus --sync %1"
            " && sleep 0.3 && xdotool "
                + QString(
                    typed.isEmpty() ? "key Escape" : "type --file - && xdotool key Return") });
    m_answer.waitForStarted(30000);
    // Written out at once: the call that shows the prompt may block this
    // thread's event loop until it is answered.
    m_answer.write(typed.join('\t').toUtf8());
    m_answer.waitForBytesWritten(30000);
    m_answer.closeWriteChannel();
}

bool KeyringPrompter::isPromptVisible() const
{
    QProcess search;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_display);
    search.setProcessEnvironment(environment);
    search.start("xdotool", { "search", "--onlyvisible", "--class", "gcr-prompter" });
    return !search.waitForFinished(30000) || search.exitCode() == 0;
}

bool KeyringPrompter::shown()
{
    return QTest::qWaitFor([&] { return isPromptVisible(); }, 60000);
}

bool KeyringPrompter::answered()
{
    // The answered prompt's window goes only once the daemon is done with it;
    // till then the next answer would find that window again.
    return QTest::qWaitFor([&] { return m_answer.state() == QProcess::NotRunning; }, 60000)
        && QTest::qWaitFor([&] { return !isPromptVisible(); }, 60000);
}

namespace KeyringDaemon {

bool isRunning()
{
    return BusPrograms::isNameOwned(secretsName);
}

bool stop(QString* why)
{
    return BusPrograms::endProgramHolding(secretsName)
        || fail(why, "the keyring daemon kept its name");
}

bool start(QString* why, bool withPassword)
{
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.setStandardOutputFile(QProcess::nullDevice());
    daemon.start("gnome-keyring-daemon",
        { withPassword ? "--unlock" : "--start", "--components=secrets", "--daemonize" });
    if (!daemon.waitForStarted(30000))
        return fail(why, "gnome-keyring-daemon did not start");
    if (withPassword)
        daemon.write(TARVENDESK_TEST_KEYRING_PASSWORD);
    daemon.closeWriteChannel();
    // The process started hands over to the daemon it forks, and ends.
    if (!daemon.waitForFinished(30000) || daemon.exitCode() != 0)
        return fail(why, "gnome-keyring-daemon did not daemonize");
    // The daemon takes its name before it has loaded and unlocked the login
    // keyring; until then a search finds nothing.
    const auto loaded = [withPassword] {
        return property(defaultPath, collectionInterface, "Locked") == QVariant(!withPassword);
    };
    return QTest::qWaitFor(loaded, 60000)
        || fail(why, "the new keyring daemon did not load its keyring");
}

} // namespace KeyringDaemon
