#include "service/JsonAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>

void JsonAnswer::setMessage(httplib::Response& response, int status, const QString& text)
{
    response.status = status;
    const QByteArray body = QJsonDocument(
        QJsonObject { { QStringLiteral("message"),
            text } }).toJson(QJsonDocument::Compact);
    response.set_content(
        body.constData(), static_cast<std::size_t>(body.size()), "application/json");
}

QString JsonAnswer::refusalText(int status)
{
    switch (status) {
    case 404:
        return QStringLiteral("There is nothing at this address.");
    case 408:
        return QStringLiteral("The request did not arrive in time.");
    case 413:
        return QStringLiteral("The request body is larger than 64 KiB.");
    case 414:
        return QStringLiteral("The request line is too long.");
    case 431:
        return QStringLiteral("The request head is too large.");
    case 503:
        return QStringLiteral("The service is busy. Try again in a moment.");
    default:
        break;
    }
    return status < 500 ? QStringLiteral("The request is malformed.")
                        : QStringLiteral("The service could not answer.");
}
