#include "service/SeverityEndpoint.h"

#include "service/FormDecoder.h"
#include "service/HttpsServer.h"
#include "service/JsonAnswer.h"
#include "service/PasswordChecker.h"
#include "service/SeverityCounter.h"
#include "service/UserStore.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

bool isForm(const std::string& contentType)
{
    const QByteArray type = QByteArray::fromStdString(contentType.substr(0, contentType.find(';')));
    return type.trimmed().toLower() == "application/x-www-form-urlencoded";
}

// The declared body length: 0 when none is declared, nothing when the
// declarations are not one plain number. Two different lengths are a known
// request-smuggling trick.
std::optional<std::size_t> contentLength(const httplib::Request& request)
{
    std::optional<std::string> declared;
    const auto [first, last] = request.headers.equal_range("Content-Length");
    for (auto header = first; header != last; ++header) {
        const std::string& value = header->second;
        const bool digits = !value.empty() && value.size() <= 12
            && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || (declared && *declared != value))
            return std::nullopt;
        declared = value;
    }
    return declared ? std::stoull(*declared) : 0;
}

void internalError(httplib::Response& response, const QString& why)
{
    std::fprintf(stderr, "tarvendesk-service: %s\n", qPrintable(why));
    JsonAnswer::setMessage(response, 500, QStringLiteral("The service cannot read its records."));
}

} // namespace

SeverityEndpoint::SeverityEndpoint(
    UserStore& store, PasswordChecker& checker, std::function<QDate()> today)
    : m_store(store)
    , m_checker(checker)
    , m_today(std::move(today))
{
}

void SeverityEndpoint::answer(const httplib::Request& request, httplib::Response& response,
    const httplib::ContentReader* reader) const
{
    const auto refuse = [&response](int status, const QString& text) {
        JsonAnswer::setMessage(response, status, text);
    };
    // The head is judged before any of the body is read.
    if (request.version == "HTTP/1.1" && !request.has_header("Host"))
        return refuse(400, QStringLiteral("The request has no Host header."));
    if (request.has_header("Transfer-Encoding"))
        return refuse(
            501, QStringLiteral("Transfer codings are not accepted; send a Content-Length."));
    const std::optional<std::size_t> length = contentLength(request);
    if (!length)
        return refuse(400, QStringLiteral("The Content-Length header is invalid."));
    if (*length > HttpsServer::maxBodySize) {
        // httplib reads and drops a body past its payload limit.
        if (reader && *length <= HttpsServer::maxDrainSize)
            (*reader)([](const char*, std::size_t) { return true; });
        return refuse(413, JsonAnswer::refusalText(413));
    }
    std::string body;
    if (reader && *length > 0) {
        const bool complete = (*reader)([&body](const char* data, std::size_t size) {
            body.append(data, size);
            return body.size() <= HttpsServer::maxBodySize;
        });
        if (!complete)
            return refuse(408, JsonAnswer::refusalText(408));
    }

    if (request.path != path)
        return refuse(404, JsonAnswer::refusalText(404));
    if (request.method != "POST") {
        refuse(405, QStringLiteral("Only POST is answered here."));
        response.set_header("Allow", "POST");
        return;
    }
    if (!isForm(request.get_header_value("Content-Type")))
        return refuse(415, QStringLiteral("Send the fields as application/x-www-form-urlencoded."));
    answerForm(request.remote_addr, body, response);
}

void SeverityEndpoint::answerForm(
    const std::string& remoteAddress, const std::string& body, httplib::Response& response) const
{
    QString why;
    const auto fields
        = FormDecoder::decode(QByteArrayView(body.data(), qsizetype(body.size())), &why);
    if (!fields)
        return JsonAnswer::setMessage(response, 400, why);
    for (const char* field : { "username", "password" }) {
        if (fields->value(QLatin1String(field)).isEmpty())
            return JsonAnswer::setMessage(response, 400,
                QStringLiteral("The field \"%1\" is missing.").arg(QLatin1String(field)));
    }

    const QString userName = fields->value(QStringLiteral("username"));
    const QByteArray password = fields->value(QStringLiteral("password")).toUtf8();
    const auto stored = m_store.storedPassword(userName, &why);
    if (!stored)
        return internalError(response, why);
    switch (m_checker.check(QString::fromStdString(remoteAddress), userName, password, *stored)) {
    case PasswordChecker::Result::Busy:
        JsonAnswer::setMessage(response, 503, JsonAnswer::refusalText(503));
        response.set_header("Retry-After", "1");
        return;
    case PasswordChecker::Result::Refused:
        return JsonAnswer::setMessage(response, 401, refusal);
    case PasswordChecker::Result::Accepted:
        break;
    }
    const auto dates = m_store.expiryDates(userName, &why);
    if (!dates)
        return internalError(response, why);

    const SeverityCount count = SeverityCounter::count(*dates, m_today());
    // Written by hand to keep the members in the order clients show them.
    const std::string counts = QStringLiteral(R"({"expiring":%1,"critical":%2,"expired":%3})")
                                   .arg(count.expiring)
                                   .arg(count.critical)
                                   .arg(count.expired)
                                   .toStdString();
    response.status = 200;
    response.set_content(counts, "application/json");
}
