#pragma once

// Reads one HTTP/1.x request from the bytes of a connection as they arrive,
// within fixed bounds: a head of at most 16 KiB and a Content-Length body of
// at most 64 KiB. A request it cannot take ends in a failure that says which
// answer the client gets.

#include "service/HttpRequest.h"

#include <QByteArrayView>
#include <QString>

class HttpRequestParser
{
public:
    static constexpr qsizetype maxHeadSize = 16 * 1024;
    static constexpr qsizetype maxBodySize = 64 * 1024;

    enum class State { Incomplete, Complete, Failed };

    // Bytes fed after the request is complete or has failed are ignored.
    State feed(QByteArrayView bytes);
    State state() const { return m_state; }

    // Method and target are filled as soon as the request line is read.
    const HttpRequest& request() const { return m_request; }

    int failureStatus() const { return m_failureStatus; }
    const QString& failureMessage() const { return m_failureMessage; }

    // Declared body bytes the client has still to send after a failure: what
    // the connection reads and drops so that its answer is not lost to a reset.
    qint64 unreadBodyBytes() const;

private:
    State fail(int status, const QString& message);
    bool parseHead(QByteArrayView head);
    bool parseRequestLine(QByteArrayView line);
    bool parseHeaderLine(QByteArrayView line);

    State m_state = State::Incomplete;
    QByteArray m_buffer;
    bool m_headDone = false;
    bool m_sawContentLength = false;
    qint64 m_contentLength = 0;
    QByteArray m_version;
    HttpRequest m_request;
    int m_failureStatus = 0;
    QString m_failureMessage;
};
