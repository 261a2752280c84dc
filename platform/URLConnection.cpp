#include "platform/URLConnection.h"

#include "platform/NetworkTrust.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace {

QNetworkRequest networkRequest(const URLRequest& request)
{
    QNetworkRequest networkRequest(request.url);
    for (auto header = request.headers.cbegin(); header != request.headers.cend(); ++header)
        networkRequest.setRawHeader(header.key(), header.value());
    networkRequest.setTransferTimeout(static_cast<int>(request.timeout.count()));
    networkRequest.setAttribute(
        QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    // A redirect is not followed: following it would post the form, and with
    // it the user's credentials, to wherever the answer points. The redirect
    // answer itself is what the delegate receives.
    networkRequest.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return networkRequest;
}

// QNetworkReply reports an HTTP error status as an error too (codes from 201
// up). Such an answer is still an answer; only the network and proxy ranges
// below 200, or a reply that never got an HTTP status, mean the request failed.
bool isTransportFailure(const QNetworkReply& reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return false;
    return error < QNetworkReply::ContentAccessDenied
        || !reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

Error timedOutError()
{
    return Error::errorWithDomain(URLConnectionErrorDomain, QNetworkReply::TimeoutError,
        { { Error::LocalizedDescriptionKey, QStringLiteral("The request timed out.") } });
}

} // namespace

URLConnection* URLConnection::initWithRequest(
    const URLRequest& request, URLConnectionDelegate* delegate, QNetworkAccessManager& manager)
{
    return new URLConnection(request, delegate, manager);
}

URLConnection::URLConnection(
    const URLRequest& request, URLConnectionDelegate* delegate, QNetworkAccessManager& manager)
    : QObject(&manager)
    , m_request(request)
    , m_delegate(delegate)
{
    m_reply = manager.sendCustomRequest(networkRequest(request), request.method, request.body);
    NetworkTrust::applyTrustedCertificates(m_reply);
    // Its destroyed signal comes from ~QObject, after the delegate's own
    // members have gone: the connection ends there, before any later event
    // could reach them.
    if (const QObject* guard = dynamic_cast<QObject*>(delegate))
        connect(guard, &QObject::destroyed, this, &URLConnection::onDelegateDestroyed);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &URLConnection::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &URLConnection::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &URLConnection::onFinished);
    m_timeLimit.setSingleShot(true);
    connect(&m_timeLimit, &QTimer::timeout, this, &URLConnection::onTimeLimitReached);
    m_timeLimit.start(request.timeLimit);
}

URLConnection::~URLConnection()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

void URLConnection::stopLoading()
{
    if (m_ended || !m_reply)
        return;
    m_reply->disconnect(this);
    m_reply->abort();
    m_reply->deleteLater();
    m_reply.clear();
    QMetaObject::invokeMethod(
        this, [this] { finishLoading(false); }, Qt::QueuedConnection);
}

void URLConnection::onMetaDataChanged()
{
    if (m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        deliverResponseOnce();
}

void URLConnection::onReadyRead()
{
    const QByteArray data = m_reply->readAll();
    if (data.isEmpty())
        return;
    deliverResponseOnce();
    m_delegate->connectionDidReceiveData(this, data);
}

void URLConnection::onFinished()
{
    if (isTransportFailure(*m_reply)) {
        // Nothing here aborts a reply it still listens to, so a cancel is
        // the manager's transfer time-out, which Qt reports as one.
        const Error error = m_reply->error() == QNetworkReply::OperationCanceledError
            ? timedOutError()
            : Error::errorWithDomain(URLConnectionErrorDomain, m_reply->error(),
                { { Error::LocalizedDescriptionKey, m_reply->errorString() } });
        m_delegate->connectionDidFailWithError(this, error);
        end();
        return;
    }
    if (const QByteArray rest = m_reply->readAll(); !rest.isEmpty()) {
        deliverResponseOnce();
        m_delegate->connectionDidReceiveData(this, rest);
        if (!m_reply)
            return; // stopped by the delegate: finishing is already on its way
    }
    deliverResponseOnce();
    finishLoading(true);
}

void URLConnection::onTimeLimitReached()
{
    if (m_ended || !m_reply)
        return; // stopped: its finishing is already on its way
    m_reply->disconnect(this);
    m_reply->abort();
    m_delegate->connectionDidFailWithError(this, timedOutError());
    end();
}

void URLConnection::deliverResponseOnce()
{
    if (m_responseDelivered)
        return;
    m_responseDelivered = true;
    m_delegate->connectionDidReceiveResponse(this, response());
}

void URLConnection::finishLoading(bool complete)
{
    if (m_ended)
        return;
    if (complete)
        m_delegate->connectionWillCacheResponse(this, response());
    m_delegate->connectionDidFinishLoading(this);
    end();
}

void URLConnection::end()
{
    m_ended = true;
    m_timeLimit.stop();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->deleteLater();
        m_reply.clear();
    }
    deleteLater();
}

void URLConnection::onDelegateDestroyed()
{
    m_delegate = nullptr;
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    end();
}

URLResponse URLConnection::response() const
{
    URLResponse response;
    if (!m_reply)
        return response;
    response.url = m_reply->url();
    response.statusCode = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    for (const auto& [name, value] : m_reply->rawHeaderPairs())
        response.headers.insert(name, value);
    return response;
}
