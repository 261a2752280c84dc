#include "service/SeverityEndpoint.h"

#include "service/FormDecoder.h"
#include "service/SeverityCounter.h"
#include "service/UserStore.h"

#include <cstdio>

namespace {

bool isForm(const QByteArray& contentType)
{
    const qsizetype parameters = contentType.indexOf(';');
    const QByteArray type = (parameters < 0 ? contentType : contentType.left(parameters)).trimmed().toLower();
    return type == "application/x-www-form-urlencoded";
}

HttpResponse internalError(const QString& why)
{
    std::fprintf(stderr, "tarvendesk-service: %s\n", qPrintable(why));
    return HttpResponse::message(500, QStringLiteral("The service cannot read its records."));
}

} // namespace

SeverityEndpoint::SeverityEndpoint(UserStore& store, std::function<QDate()> today)
    : m_store(store)
    , m_today(std::move(today))
{
}

HttpResponse SeverityEndpoint::answer(const HttpRequest& request) const
{
    if (request.path() != path)
        return HttpResponse::message(404, QStringLiteral("There is nothing at this address."));
    if (request.method != "POST") {
        HttpResponse response = HttpResponse::message(405, QStringLiteral("Only POST is answered here."));
        response.extraHeaders.append(qMakePair(QByteArray("Allow"), QByteArray("POST")));
        return response;
    }
    if (!isForm(request.header("content-type")))
        return HttpResponse::message(415, QStringLiteral("Send the fields as application/x-www-form-urlencoded."));

    QString why;
    const auto fields = FormDecoder::decode(request.body, &why);
    if (!fields)
        return HttpResponse::message(400, why);
    for (const char* field : { "username", "password" }) {
        if (fields->value(QLatin1String(field)).isEmpty())
            return HttpResponse::message(400, QStringLiteral("The field \"%1\" is missing.").arg(QLatin1String(field)));
    }

    const QString userName = fields->value(QStringLiteral("username"));
    const QByteArray password = fields->value(QStringLiteral("password")).toUtf8();
    switch (m_store.checkPassword(userName, password, &why)) {
    case UserStore::Check::Failed:
        return internalError(why);
    case UserStore::Check::Refused:
        return HttpResponse::message(401, refusal);
    case UserStore::Check::Accepted:
        break;
    }
    const auto dates = m_store.expiryDates(userName, &why);
    if (!dates)
        return internalError(why);

    const SeverityCount count = SeverityCounter::count(*dates, m_today());
    HttpResponse response;
    // Written by hand to keep the members in the order clients show them.
    response.body = QStringLiteral(R"({"expiring":%1,"critical":%2,"expired":%3})")
                        .arg(count.expiring)
                        .arg(count.critical)
                        .arg(count.expired)
                        .toUtf8();
    return response;
}
