#include "common/SeverityCountRequest.h"

#include "common/SeverityCountEndpoint.h"

QUrl SeverityCountURL()
{
    return QUrl(QString::fromLatin1(SeverityCountEndpointURL), QUrl::StrictMode);
}

QByteArray SeverityCountTrustedCertificates()
{
    return QByteArray(SeverityCountEndpointCertificates);
}

URLRequest severityCountRequest(const QString& userName, const QString& password, const QUrl& url)
{
    URLRequest request;
    request.url = url;
    request.method = "POST";
    request.headers.insert("Content-Type", "application/x-www-form-urlencoded");
    request.body = "username=" + formEncoded(userName) + "&password=" + formEncoded(password);
    return request;
}

QByteArray formEncoded(const QString& value)
{
    return value.toUtf8().toPercentEncoding();
}
