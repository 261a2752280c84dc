#include "service/ServeCommand.h"

#include "service/CertificateMaker.h"
#include "service/CommandLine.h"
#include "service/HttpsServer.h"
#include "service/PasswordChecker.h"
#include "service/SeverityEndpoint.h"
#include "service/UserStore.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

constexpr qint64 maxPemSize = 1024 * 1024;

std::optional<QByteArray> readSmallFile(const QString& path, QString* why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const QByteArray bytes = file.read(maxPemSize + 1);
    if (bytes.size() > maxPemSize) {
        *why = QStringLiteral("%1 is too large for a PEM file").arg(path);
        return std::nullopt;
    }
    return bytes;
}

// One line per answer: method and path only. A query string might carry what
// a client should never have put in an address, and it is no business of the
// log; the path is shown as visible ASCII, whatever bytes it decoded to.
void logAnswer(const httplib::Request& request, const httplib::Response& response)
{
    const auto visible = [](const std::string& text, std::size_t maxSize) {
        if (text.empty())
            return std::string("-");
        std::string shown = text.substr(0, maxSize);
        for (char& c : shown) {
            if (c <= 0x20 || c >= 0x7f)
                c = '?';
        }
        return shown;
    };
    static std::mutex output;
    const std::lock_guard lock(output);
    std::printf("%s %s %d\n", visible(request.method, 32).c_str(),
        visible(request.path, 256).c_str(), response.status);
    std::fflush(stdout);
}

} // namespace

int ServeCommand::run(const QStringList& arguments)
{
    QCommandLineParser parser;
    for (const char* name :
        { "listen", "db", "cert", "key", "today", "concurrent-checks", "check-queue" })
        parser.addOption({ QString::fromLatin1(name), {}, QStringLiteral("VALUE") });
    int exitCode = 0;
    if (!CommandLine::parse(parser, arguments,
            { QStringLiteral("listen"), QStringLiteral("db"), QStringLiteral("cert"),
                QStringLiteral("key") },
            {}, &exitCode))
        return exitCode;

    QString why;
    const auto listen = parseListen(parser.value(QStringLiteral("listen")), &why);
    if (!listen)
        return CommandLine::complain(CommandLine::badArgument, why);
    std::optional<QDate> today;
    if (parser.isSet(QStringLiteral("today"))) {
        today = CommandLine::parseDate(parser.value(QStringLiteral("today")));
        if (!today)
            return CommandLine::complain(CommandLine::badArgument,
                QStringLiteral("--today: \"%1\" is not a valid date of the form YYYY-MM-DD")
                    .arg(parser.value(QStringLiteral("today"))));
    }
    int concurrentChecks = std::max(1, int(std::thread::hardware_concurrency()));
    int checkQueue = 16;
    for (auto [name, value] :
        { std::pair { "concurrent-checks", &concurrentChecks }, { "check-queue", &checkQueue } }) {
        if (!parser.isSet(QLatin1String(name)))
            continue;
        bool ok = false;
        *value = parser.value(QLatin1String(name)).toInt(&ok);
        const int least = value == &concurrentChecks ? 1 : 0;
        if (!ok || *value < least || *value > 1000)
            return CommandLine::complain(CommandLine::badArgument,
                QStringLiteral("--%1 wants a number from %2 to 1000")
                    .arg(QLatin1String(name))
                    .arg(least));
    }
    if (!checkTls(parser.value(QStringLiteral("cert")), parser.value(QStringLiteral("key")), &why))
        return CommandLine::complain(CommandLine::badArgument, why);
    UserStore store;
    if (!store.open(parser.value(QStringLiteral("db")), &why))
        return CommandLine::complain(CommandLine::badArgument, why);

    PasswordChecker checker(concurrentChecks, checkQueue);
    const SeverityEndpoint endpoint(
        store, checker, [today] { return today.value_or(QDate::currentDate()); });
    HttpsServer server(
        parser.value(QStringLiteral("cert")), parser.value(QStringLiteral("key")),
        [&endpoint](const httplib::Request& request, httplib::Response& response,
            const httplib::ContentReader* reader) { endpoint.answer(request, response, reader); },
        logAnswer);
    if (!server.listen(listen->addresses, listen->port, &why))
        return CommandLine::complain(CommandLine::failure, why);
    std::printf("listening on https://%s:%u\n", qPrintable(listen->host), unsigned(server.port()));
    std::fflush(stdout);
    server.run();
    return 0;
}

std::optional<ServeCommand::Listen> ServeCommand::parseListen(const QString& text, QString* why)
{
    const qsizetype colon = text.lastIndexOf(u':');
    const QString host = colon < 0 ? QString() : text.left(colon);
    const QString portText = colon < 0 ? QString() : text.mid(colon + 1);
    bool portOk = false;
    const uint port = portText.toUInt(&portOk);
    const bool digitsOnly = std::all_of(
        portText.begin(), portText.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (host.isEmpty() || !portOk || !digitsOnly || port > 65535) {
        *why = QStringLiteral("--listen wants ADDRESS:PORT, not \"%1\"").arg(text);
        return std::nullopt;
    }
    Listen listen;
    listen.port = static_cast<quint16>(port);
    listen.host = host;
    if (host == u"localhost") {
        listen.addresses
            = { QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6) };
        return listen;
    }
    const bool bracketed = host.startsWith(u'[') && host.endsWith(u']');
    QHostAddress address;
    const QString literal = bracketed ? host.mid(1, host.size() - 2) : host;
    if (!address.setAddress(literal)
        || (address.protocol() == QAbstractSocket::IPv6Protocol) != bracketed) {
        *why = QStringLiteral("--listen: \"%1\" is not an IP address (write IPv6 as [::1])")
                   .arg(host);
        return std::nullopt;
    }
    if (!address.isLoopback()) {
        *why = QStringLiteral("--listen: refusing %1, which is not a loopback address").arg(host);
        return std::nullopt;
    }
    listen.addresses = { address };
    return listen;
}

bool ServeCommand::checkTls(const QString& certificatePath, const QString& keyPath, QString* why)
{
    const auto certificatePem = readSmallFile(certificatePath, why);
    const auto keyPem = certificatePem ? readSmallFile(keyPath, why) : std::nullopt;
    if (!keyPem)
        return false;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*certificatePem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        *why = QStringLiteral("%1 holds no PEM certificate").arg(certificatePath);
        return false;
    }
    QSslKey key(*keyPem, QSsl::Ec);
    if (key.isNull())
        key = QSslKey(*keyPem, QSsl::Rsa);
    if (key.isNull()) {
        *why = QStringLiteral("%1 holds no PEM private key without a passphrase").arg(keyPath);
        return false;
    }
    if (!CertificateMaker::keyMatches(*certificatePem, *keyPem)) {
        *why = QStringLiteral("%1 is not the key of %2").arg(keyPath, certificatePath);
        return false;
    }
    return true;
}
