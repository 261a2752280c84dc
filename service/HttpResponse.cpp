#include "service/HttpResponse.h"

#include <QJsonDocument>
#include <QJsonObject>

HttpResponse HttpResponse::message(int status, const QString& text)
{
    HttpResponse response;
    response.status = status;
    response.body = QJsonDocument(QJsonObject { { QStringLiteral("message"), text } })
                        .toJson(QJsonDocument::Compact);
    return response;
}

QByteArray HttpResponse::serialized() const
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    bytes += "Content-Type: " + contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bytes += "Cache-Control: no-store\r\n";
    bytes += "Connection: close\r\n";
    for (const auto& [name, value] : extraHeaders)
        bytes += name + ": " + value + "\r\n";
    bytes += "\r\n";
    return bytes + body;
}

QByteArray HttpResponse::reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
    }
}
