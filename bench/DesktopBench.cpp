#include "DesktopBench.h"

#include "ProcessFigures.h"
#include "TrayHost.h"
#include "WindowMapWatcher.h"
#include "common/DetailsRecord.h"
#include "common/SeverityCountRequest.h"
#include "support/NotificationRecorder.h"
#include "support/ReferenceService.h"
#include "support/SecretServiceControl.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDate>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QTimer>
#include <signal.h>

namespace {

const QString signInProgram = QStringLiteral("TarvenDESK");
const QString notifierProgram = QStringLiteral("tarvenDESKStatusBar");
const QString bareWindowProgram = QStringLiteral("bare-window");
const QString bareTrayProgram = QStringLiteral("bare-tray");
const int startTimeoutMs = 60000;

QString randomText(int length)
{
    static const char letters[] = "abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString text;
    for (int i = 0; i < length; ++i)
        text += QLatin1Char(letters[QRandomGenerator::system()->bounded(int(sizeof letters - 1))]);
    return text;
}

QJsonArray switchesJson(const QList<ProcessFigures::ThreadSwitches>& before,
    const QList<ProcessFigures::ThreadSwitches>& after, qint64* total)
{
    QJsonArray threads;
    *total = 0;
    for (const ProcessFigures::ThreadSwitches& thread : after) {
        qint64 earlier = 0;
        for (const ProcessFigures::ThreadSwitches& old : before)
            if (old.id == thread.id)
                earlier = old.voluntary;
        *total += thread.voluntary - earlier;
        threads.append(
            QJsonObject { { "name", thread.name }, { "voluntary", thread.voluntary - earlier } });
    }
    return threads;
}

// The menu's entry of that label in a dbusmenu layout (ia{sv}av), or -1.
int findMenuItem(const QDBusArgument& layout, const QString& label)
{
    int id = -1;
    QVariantMap properties;
    layout.beginStructure();
    layout >> id >> properties;
    int found = properties.value(QStringLiteral("label")).toString() == label ? id : -1;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        if (found < 0)
            found = findMenuItem(child.variant().value<QDBusArgument>(), label);
    }
    layout.endArray();
    layout.endStructure();
    return found;
}

} // namespace

DesktopBench::DesktopBench(const Options& options, QObject* parent)
    : QObject(parent)
    , m_options(options)
{
    m_clock.start();
}

DesktopBench::~DesktopBench()
{
    DetailsRecord::clearDetailsInKeyChain();
    if (m_service.state() != QProcess::NotRunning) {
        m_service.terminate();
        m_service.waitForFinished(10000);
    }
}

bool DesktopBench::fail(const QString& why)
{
    m_error = why;
    return false;
}

bool DesktopBench::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &DesktopBench::happened, &loop, [&] {
        if (done())
            loop.quit();
    });
    timeout.start(timeoutMs);
    loop.exec();
    return done();
}

bool DesktopBench::run()
{
    return setUp() && measureWindowStartUps() && measureTrayStartUps() && measureIdleAndChecks()
        && measureLockedKeyringWait();
}

bool DesktopBench::setUp()
{
    m_windows = std::make_unique<WindowMapWatcher>();
    if (!m_windows->isValid())
        return fail(QStringLiteral("no X display to watch (DISPLAY is not set or refused)"));
    connect(m_windows.get(), &WindowMapWatcher::windowMapped, this, [this](quint32, qint64 pid) {
        if (!m_windowShown.contains(pid))
            m_windowShown.insert(pid, now());
        emit happened();
    });
    m_trayHost = std::make_unique<TrayHost>();
    if (!m_trayHost->isRegistered())
        return fail(
            QStringLiteral("another tray host holds org.kde.StatusNotifierWatcher on this bus"));
    connect(m_trayHost.get(), &TrayHost::itemRegistered, this,
        [this](const QString& service, qint64 pid) {
            if (!m_trayItems.contains(pid))
                m_trayItems.insert(pid, { now(), service });
            emit happened();
        });
    // Like GNOME Shell's, this server plays the sound itself.
    m_notifications = std::make_unique<NotificationRecorder>(QStringList { "body", "sound" });
    if (!m_notifications->waitUntilRegistered())
        return fail(
            QStringLiteral("another notification server holds org.freedesktop.Notifications"));
    connect(m_notifications.get(), &NotificationRecorder::notified, this, [this] {
        m_notified << now();
        emit happened();
    });
    return startService();
}

bool DesktopBench::startService()
{
    // The build's own certificate, which the programs trust; a database of the bench's own.
    const QString pki = QFileInfo(QStringLiteral(TARVENDESK_BENCH_SERVICE_CA)).absolutePath();
    if (!m_serviceData.isValid())
        return fail(QStringLiteral("no temporary folder for the service's database"));
    const QString database = m_serviceData.filePath(QStringLiteral("service.sqlite"));
    m_userName = QStringLiteral("bench-") + randomText(6);
    m_password = randomText(24);
    const QDate today = QDate::currentDate();
    const auto tool = [&](const QStringList& arguments, const QByteArray& input = {}) {
        const ReferenceService::Run run = ReferenceService::run(arguments, input);
        if (run.exitCode != 0)
            m_error = QString::fromUtf8(run.standardError).trimmed();
        return run.exitCode == 0;
    };
    if (!tool({ QStringLiteral("add-user"), QStringLiteral("--db"), database, QStringLiteral("--"),
                  m_userName },
            m_password.toUtf8() + '\n'))
        return fail(QStringLiteral("the service's user could not be made: ") + m_error);
    // Two expiring, one critical, three expired, as the demo user's.
    const std::pair<int, const char*> documents[] = { { 20, "Lease" }, { 25, "Insurance" },
        { 3, "Passport" }, { -1, "Visa" }, { -30, "Permit" }, { -400, "Contract" } };
    for (const auto& [days, title] : documents)
        if (!tool({ QStringLiteral("add-document"), QStringLiteral("--db"), database,
                QStringLiteral("--"), m_userName, QString::fromLatin1(title),
                today.addDays(days).toString(Qt::ISODate) }))
            return fail(QStringLiteral("a document could not be added: ") + m_error);

    const QUrl url = SeverityCountURL();
    connect(&m_service, &QProcess::readyReadStandardOutput, this, &DesktopBench::readServiceOutput);
    connect(&m_service, &QProcess::finished, this, &DesktopBench::happened);
    m_service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_service.start(QStringLiteral(TARVENDESK_SERVICE_PROGRAM),
        { QStringLiteral("serve"), QStringLiteral("--listen"),
            QStringLiteral("%1:%2").arg(url.host()).arg(url.port(443)), QStringLiteral("--db"),
            database, QStringLiteral("--cert"), QDir(pki).filePath(QStringLiteral("cert.pem")),
            QStringLiteral("--key"), QDir(pki).filePath(QStringLiteral("key.pem")) });
    if (!waitUntil(
            [this] { return m_serviceListening || m_service.state() == QProcess::NotRunning; },
            30000)
        || !m_serviceListening)
        return fail(
            QStringLiteral("the reference service did not listen on %1 (is the port taken?)")
                .arg(url.toString()));
    double ms = 0;
    if (!baselinePost(&ms))
        return fail(QStringLiteral("the service did not answer a request of the bench's own"));
    return true;
}

void DesktopBench::readServiceOutput()
{
    m_serviceOutput += m_service.readAllStandardOutput();
    qsizetype end;
    while ((end = m_serviceOutput.indexOf('\n')) >= 0) {
        const QByteArray line = m_serviceOutput.left(end);
        m_serviceOutput.remove(0, end + 1);
        if (line.startsWith("listening on "))
            m_serviceListening = true;
        else if (line.startsWith("POST "))
            m_answers << now();
    }
    emit happened();
}

int DesktopBench::answersSince(double since) const
{
    return int(std::count_if(
        m_answers.cbegin(), m_answers.cend(), [since](double at) { return at >= since; }));
}

double DesktopBench::firstAnswerSince(double since) const
{
    for (double at : m_answers)
        if (at >= since)
            return at;
    return -1;
}

std::unique_ptr<QProcess> DesktopBench::startProgram(const QString& name)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(QDir(QCoreApplication::applicationDirPath()).filePath(name));
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process.get(), &QProcess::finished, this, &DesktopBench::happened);
    process->start();
    if (name == bareTrayProgram) {
        // On a pipe: the credentials go nowhere else.
        process->write((m_userName + u'\n' + m_password + u'\n').toUtf8());
        process->closeWriteChannel();
    }
    return process;
}

void DesktopBench::stopProgram(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
    // Lets the bus and the X server forget the program before the next one.
    pause(300);
}

bool DesktopBench::waitForWindow(qint64 pid, double since, double* shownMs)
{
    if (!waitUntil([&] { return m_windowShown.contains(pid); }, startTimeoutMs))
        return false;
    *shownMs = m_windowShown.value(pid) - since;
    return true;
}

bool DesktopBench::waitForTray(qint64 pid, double since, TrayStart* start)
{
    if (!waitUntil([&] { return m_trayItems.contains(pid) && firstAnswerSince(since) >= 0; },
            startTimeoutMs))
        return false;
    start->trayItemMs = m_trayItems.value(pid).first - since;
    start->firstCheckMs = firstAnswerSince(since) - since;
    return true;
}

bool DesktopBench::measureWindowStartUps()
{
    // With nothing stored the sign-in program shows its window and starts nothing else.
    DetailsRecord::clearDetailsInKeyChain();
    QJsonArray bare, signIn;
    for (int run = 0; run < m_options.runs; ++run) {
        // Alternating, so that a busy moment of the machine falls on both.
        for (const QString& name : { bareWindowProgram, signInProgram }) {
            const double since = now();
            std::unique_ptr<QProcess> process = startProgram(name);
            double shown = 0;
            if (!waitForWindow(process->processId(), since, &shown))
                return fail(name + QStringLiteral(" showed no window within a minute"));
            (name == signInProgram ? signIn : bare).append(shown);
            stopProgram(*process);
        }
    }
    m_results.insert(
        "windowStartUp", QJsonObject { { bareWindowProgram, bare }, { signInProgram, signIn } });
    return true;
}

bool DesktopBench::measureTrayStartUps()
{
    // Checks on: one at once at start-up, the next half a minute later.
    DetailsRecord::addDetailsToKeyChain(UserDetails { m_userName, m_password, 0, 1 });
    QJsonObject figures;
    for (const QString& name : { bareTrayProgram, notifierProgram })
        figures.insert(name,
            QJsonObject { { "ready", QJsonArray() }, { "trayItem", QJsonArray() },
                { "firstCheck", QJsonArray() }, { "residentKiB", QJsonArray() } });
    for (int run = 0; run < m_options.runs; ++run) {
        for (const QString& name : { bareTrayProgram, notifierProgram }) {
            const double since = now();
            std::unique_ptr<QProcess> process = startProgram(name);
            TrayStart start;
            if (!waitForTray(process->processId(), since, &start))
                return fail(
                    name + QStringLiteral(" did not set its tray item and check within a minute"));
            // Resident memory once the start-up's work, the answer included, is done.
            pause(2000);
            QJsonObject program = figures.value(name).toObject();
            const auto append = [&program](const char* key, double value) {
                QJsonArray values = program.value(key).toArray();
                values.append(value);
                program.insert(key, values);
            };
            append("ready", start.readyMs());
            append("trayItem", start.trayItemMs);
            append("firstCheck", start.firstCheckMs);
            append("residentKiB", double(ProcessFigures::residentKiB(pid_t(process->processId()))));
            figures.insert(name, program);
            stopProgram(*process);
        }
    }
    m_results.insert("trayStartUp", figures);
    return true;
}

bool DesktopBench::baselinePost(double* ms)
{
    const URLRequest form = severityCountRequest(m_userName, m_password);
    QNetworkRequest request(form.url);
    request.setHeader(
        QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    request.setAttribute(
        QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    // As the bare tray trusts it: the service's authority alone.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromData(SeverityCountTrustedCertificates(), QSsl::Pem));
    request.setSslConfiguration(tls);
    const double since = now();
    QNetworkReply* reply = m_network.post(request, form.body);
    bool finished = false;
    double at = 0;
    connect(reply, &QNetworkReply::finished, this, [&] {
        at = now();
        finished = true;
        emit happened();
    });
    const bool answered = waitUntil([&] { return finished; }, startTimeoutMs);
    const bool counts = answered && reply->error() == QNetworkReply::NoError
        && reply->readAll().contains("expiring");
    reply->deleteLater();
    *ms = at - since;
    return counts;
}

int DesktopBench::menuItemId(const QString& service, const QString& label)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/MenuBar"),
        QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList { QStringLiteral("label") };
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return -1;
    return findMenuItem(reply.arguments().at(1).value<QDBusArgument>(), label);
}

bool DesktopBench::measureIdleAndChecks()
{
    const double since = now();
    std::unique_ptr<QProcess> notifier = startProgram(notifierProgram);
    const qint64 pid = notifier->processId();
    TrayStart start;
    if (!waitForTray(pid, since, &start))
        return fail(QStringLiteral("the notifier did not start"));
    // Idle means after the schedule's check half a minute in: the next is a day away.
    if (!waitUntil([&] { return answersSince(since) >= 2; }, 90000))
        return fail(QStringLiteral(
            "the notifier's scheduled check half a minute after start did not come"));
    const double bareSince = now();
    std::unique_ptr<QProcess> bare = startProgram(bareTrayProgram);
    if (!waitForTray(bare->processId(), bareSince, &start))
        return fail(QStringLiteral("the bare tray program did not start"));
    pause(5000);

    QJsonArray notifierWindows, bareWindows;
    for (int window = 0; window < m_options.idleWindows; ++window) {
        const auto notifierBefore = ProcessFigures::contextSwitches(pid_t(pid));
        const auto bareBefore = ProcessFigures::contextSwitches(pid_t(bare->processId()));
        const int answersBefore = answersSince(0);
        pause(m_options.idleSeconds * 1000);
        qint64 total = 0;
        const QJsonArray threads
            = switchesJson(notifierBefore, ProcessFigures::contextSwitches(pid_t(pid)), &total);
        notifierWindows.append(QJsonObject { { "total", double(total) }, { "threads", threads },
            { "requests", answersSince(0) - answersBefore } });
        const QJsonArray bareThreads = switchesJson(
            bareBefore, ProcessFigures::contextSwitches(pid_t(bare->processId())), &total);
        bareWindows.append(QJsonObject { { "total", double(total) }, { "threads", bareThreads } });
    }
    m_results.insert("idle",
        QJsonObject { { "seconds", m_options.idleSeconds }, { notifierProgram, notifierWindows },
            { bareTrayProgram, bareWindows } });
    const double bareResident = double(ProcessFigures::residentKiB(pid_t(bare->processId())));
    stopProgram(*bare);

    const int checkNow = menuItemId(m_trayItems.value(pid).second, QStringLiteral("Check now"));
    if (checkNow < 0)
        return fail(
            QStringLiteral("the notifier's tray menu has no \"Check now\" entry on the bus"));
    QJsonArray costs, posts, resident;
    resident.append(QJsonArray { 0, double(ProcessFigures::residentKiB(pid_t(pid))) });
    for (int check = 1; check <= m_options.checks; ++check) {
        const qsizetype notifiedBefore = m_notified.size();
        QDBusMessage click = QDBusMessage::createMethodCall(m_trayItems.value(pid).second,
            QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
            QStringLiteral("Event"));
        click << checkNow << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0))
              << 0u;
        const double clicked = now();
        QDBusConnection::sessionBus().asyncCall(click);
        if (!waitUntil([&] { return m_notified.size() > notifiedBefore; }, startTimeoutMs))
            return fail(
                QStringLiteral("check %1 of the notifier brought no notification").arg(check));
        costs.append(m_notified.at(notifiedBefore) - clicked);
        if (check % 100 == 0 || check == m_options.checks) {
            resident.append(QJsonArray { check, double(ProcessFigures::residentKiB(pid_t(pid))) });
            for (int post = 0; post < m_options.postsPerHundredChecks; ++post) {
                double ms = 0;
                if (!baselinePost(&ms))
                    return fail(QStringLiteral("a baseline request to the service failed"));
                posts.append(ms);
            }
        }
    }
    pause(2000);
    resident.append(QJsonArray { -1, double(ProcessFigures::residentKiB(pid_t(pid))) });
    m_results.insert("checks",
        QJsonObject { { "costMs", costs }, { "baselinePostMs", posts }, { "residentKiB", resident },
            { "bareTrayResidentKiB", bareResident },
            { "peakResidentKiB", double(ProcessFigures::peakResidentKiB(pid_t(pid))) } });
    stopProgram(*notifier);
    return true;
}

bool DesktopBench::measureLockedKeyringWait()
{
    // The login road on an autologin desktop: the notifier starts on a locked
    // keyring and asks for it to be unlocked; the prompt does not come (the
    // prompter has no display here, as if it had been dismissed). It then
    // waits on the keyring's signals until the login unlocks it.
    qDBusRegisterMetaType<QMap<QString, QString>>();
    const QMap<QString, QString> noDisplay { { QStringLiteral("DISPLAY"), QString() } };
    if (QDBusConnection::sessionBus()
            .interface()
            ->call(QStringLiteral("UpdateActivationEnvironment"), QVariant::fromValue(noDisplay))
            .type()
        != QDBusMessage::ReplyMessage)
        return fail(QStringLiteral("the bus's activation environment could not be set"));
    QJsonArray windows, unlockToCheck;
    for (int unlock = 0; unlock < m_options.unlocks; ++unlock) {
        QString why;
        if (!SecretServiceControl::lockDefaultCollection(&why))
            return fail(QStringLiteral("the keyring could not be locked: ") + why);
        const double since = now();
        std::unique_ptr<QProcess> notifier = startProgram(notifierProgram);
        const qint64 pid = notifier->processId();
        if (!waitUntil([&] { return m_trayItems.contains(pid); }, startTimeoutMs))
            return fail(QStringLiteral("the notifier set no tray item on a locked keyring"));
        // Past the unlock the notifier asks for and the prompter that fails to start.
        pause(5000);
        for (int window = 0; unlock == 0 && window < m_options.idleWindows; ++window) {
            const auto before = ProcessFigures::contextSwitches(pid_t(pid));
            const int answersBefore = answersSince(since);
            pause(m_options.idleSeconds * 1000);
            qint64 total = 0;
            const QJsonArray threads
                = switchesJson(before, ProcessFigures::contextSwitches(pid_t(pid)), &total);
            windows.append(QJsonObject { { "total", double(total) }, { "threads", threads },
                { "requests", answersSince(since) - answersBefore } });
        }
        if (answersSince(since) > 0)
            return fail(QStringLiteral("the notifier checked while the keyring was locked"));
        if (!SecretServiceControl::unlockDefaultCollection(&why))
            return fail(QStringLiteral("the keyring could not be unlocked: ") + why);
        const double unlocked = now();
        if (!waitUntil([&] { return answersSince(unlocked) > 0; }, startTimeoutMs))
            return fail(QStringLiteral("the notifier did not check after the keyring's unlock"));
        unlockToCheck.append(firstAnswerSince(unlocked) - unlocked);
        stopProgram(*notifier);
    }
    m_results.insert("lockedKeyring",
        QJsonObject { { "seconds", m_options.idleSeconds }, { "windows", windows },
            { "unlockToCheckMs", unlockToCheck } });
    return true;
}
