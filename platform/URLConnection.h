#pragma once

// One asynchronous HTTP request and its delegate: the reply's progress arrives
// as five delegate calls on the thread of the network access manager (the main
// thread). A connection starts when it is made, owns itself, and deletes itself
// after its last delegate call, or as soon as its delegate is destroyed.

#include "platform/Error.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class URLConnection;

inline const QString URLConnectionErrorDomain = QStringLiteral("org.tarvendesk.URLConnection");

struct URLRequest
{
    QUrl url;
    QByteArray method = "GET";
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
    // Time allowed without any byte moving before the request fails.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
    // Time allowed for the whole exchange, however steadily its bytes come:
    // a server that sends one byte now and then would otherwise hold a
    // request, and whatever waits for its answer, for ever.
    std::chrono::milliseconds timeLimit = std::chrono::minutes(2);
};

struct URLResponse
{
    QUrl url;
    int statusCode = 0;
    QMap<QByteArray, QByteArray> headers;
};

class URLConnectionDelegate
{
public:
    virtual ~URLConnectionDelegate() = default;

    // A new response begins; what came before it belongs to an earlier one.
    virtual void connectionDidReceiveResponse(
        URLConnection* connection, const URLResponse& response)
        = 0;
    virtual void connectionDidReceiveData(URLConnection* connection, const QByteArray& data) = 0;
    // Asked once before a complete answer finishes, as the chance to keep it.
    // The connection keeps nothing whatever the answer: requests always go to
    // the network and the manager is given no cache.
    virtual std::optional<URLResponse> connectionWillCacheResponse(
        URLConnection* connection, const URLResponse& cachedResponse)
        = 0;
    virtual void connectionDidFinishLoading(URLConnection* connection) = 0;
    // The request could not be carried out: no connection, TLS, time-out, proxy.
    // An HTTP answer of any status is a response, never a failure.
    virtual void connectionDidFailWithError(URLConnection* connection, const Error& error) = 0;
};

class URLConnection : public QObject
{
    Q_OBJECT

public:
    // Starts the request at once. The connection belongs to itself (and to
    // the manager, should the manager go first); the pointer is valid until
    // the delegate's last call returns. A delegate that is a QObject is
    // watched: once it is destroyed the transfer ends and the delegate hears
    // nothing more. Any other delegate must outlive the connection.
    static URLConnection* initWithRequest(
        const URLRequest& request, URLConnectionDelegate* delegate, QNetworkAccessManager& manager);

    ~URLConnection() override;

    URLRequest originalRequest() const { return m_request; }

    // Ends the transfer without waiting for the rest of the answer; the
    // delegate then hears connectionDidFinishLoading, after the current
    // delegate call has returned, and nothing more.
    void stopLoading();

private:
    URLConnection(
        const URLRequest& request, URLConnectionDelegate* delegate, QNetworkAccessManager& manager);

    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void onTimeLimitReached();
    void deliverResponseOnce();
    void finishLoading(bool complete);
    void end();
    void onDelegateDestroyed();
    URLResponse response() const;

    URLRequest m_request;
    URLConnectionDelegate* m_delegate;
    QPointer<QNetworkReply> m_reply;
    QTimer m_timeLimit;
    bool m_responseDelivered = false;
    bool m_ended = false;
};
