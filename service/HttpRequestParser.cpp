#include "service/HttpRequestParser.h"

#include <algorithm>

namespace {

bool isTokenChar(char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isTokenChar);
}

// Visible ASCII only: a target holds no spaces, controls or raw non-ASCII bytes.
bool isTarget(QByteArrayView text)
{
    return text.startsWith('/')
        && std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

bool isFieldValue(QByteArrayView text)
{
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7f;
    });
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

// Where the head ends (just past its empty line), or -1 while it is still
// arriving. Lines may end in CRLF or, leniently, in a bare LF.
qsizetype headEnd(const QByteArray& buffer)
{
    for (qsizetype at = buffer.indexOf('\n'); at >= 0; at = buffer.indexOf('\n', at + 1)) {
        if (buffer.mid(at + 1, 1) == "\n")
            return at + 2;
        if (buffer.mid(at + 1, 2) == "\r\n")
            return at + 3;
    }
    return -1;
}

} // namespace

HttpRequestParser::State HttpRequestParser::feed(QByteArrayView bytes)
{
    if (m_state != State::Incomplete)
        return m_state;
    m_buffer.append(bytes);

    if (!m_headDone) {
        // Empty lines before a request line are tolerated, as HTTP asks.
        qsizetype blank = 0;
        while (m_buffer.mid(blank, 2) == "\r\n" || m_buffer.mid(blank, 1) == "\n")
            blank += m_buffer.at(blank) == '\r' ? 2 : 1;
        m_buffer.remove(0, blank);

        const qsizetype end = headEnd(m_buffer);
        if ((end < 0 && m_buffer.size() > maxHeadSize) || end > maxHeadSize)
            return fail(431, QStringLiteral("The request head is larger than 16 KiB."));
        if (end < 0)
            return m_state;
        if (!parseHead(QByteArrayView(m_buffer).first(end)))
            return m_state;
        m_buffer.remove(0, end);
        m_headDone = true;
        if (m_contentLength > maxBodySize)
            return fail(413, QStringLiteral("The request body is larger than 64 KiB."));
    }

    if (m_buffer.size() < m_contentLength)
        return m_state;
    m_request.body = m_buffer.left(m_contentLength);
    m_buffer.clear();
    m_state = State::Complete;
    return m_state;
}

qint64 HttpRequestParser::unreadBodyBytes() const
{
    if (m_state != State::Failed || !m_headDone)
        return 0;
    return std::max<qint64>(0, m_contentLength - m_buffer.size());
}

HttpRequestParser::State HttpRequestParser::fail(int status, const QString& message)
{
    m_state = State::Failed;
    m_failureStatus = status;
    m_failureMessage = message;
    return m_state;
}

bool HttpRequestParser::parseHead(QByteArrayView head)
{
    QList<QByteArrayView> lines;
    for (qsizetype start = 0; start < head.size();) {
        const qsizetype newline = head.indexOf('\n', start);
        QByteArrayView line = head.sliced(start, newline - start);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        start = newline + 1;
    }
    lines.removeLast(); // the empty line that ends the head

    if (!parseRequestLine(lines.first()))
        return false;
    for (const QByteArrayView line : QList<QByteArrayView>(lines.begin() + 1, lines.end())) {
        if (!parseHeaderLine(line))
            return false;
    }
    if (m_request.hasHeader("transfer-encoding")) {
        fail(501, QStringLiteral("Transfer codings are not accepted; send a Content-Length."));
        return false;
    }
    if (m_version == "HTTP/1.1" && !m_request.hasHeader("host")) {
        fail(400, QStringLiteral("The request has no Host header."));
        return false;
    }
    return true;
}

bool HttpRequestParser::parseRequestLine(QByteArrayView line)
{
    const QList<QByteArray> parts = line.toByteArray().split(' ');
    if (parts.size() != 3 || !isToken(parts.at(0)) || !isTarget(parts.at(1))) {
        fail(400, QStringLiteral("The request line is malformed."));
        return false;
    }
    const QByteArray& version = parts.at(2);
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        const bool http = version.size() == 8 && version.startsWith("HTTP/") && version.at(6) == '.';
        fail(http ? 505 : 400,
            http ? QStringLiteral("Only HTTP/1.0 and HTTP/1.1 are spoken here.")
                 : QStringLiteral("The request line is malformed."));
        return false;
    }
    m_version = version;
    m_request.method = parts.at(0);
    m_request.target = parts.at(1);
    return true;
}

bool HttpRequestParser::parseHeaderLine(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    // A line starting with blanks would be an obsolete folded continuation,
    // and a blank before the colon is a known request-smuggling trick.
    if (colon <= 0 || !isToken(line.first(colon))) {
        fail(400, QStringLiteral("A header line is malformed."));
        return false;
    }
    const QByteArrayView value = trimmed(line.sliced(colon + 1));
    if (!isFieldValue(value)) {
        fail(400, QStringLiteral("A header value holds control characters."));
        return false;
    }
    const QByteArray name = line.first(colon).toByteArray().toLower();
    if (name == "content-length") {
        const bool digits = !value.isEmpty() && value.size() <= 12
            && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        const qint64 length = digits ? value.toLongLong() : -1;
        if (!digits || (m_sawContentLength && length != m_contentLength)) {
            fail(400, QStringLiteral("The Content-Length header is invalid."));
            return false;
        }
        m_sawContentLength = true;
        m_contentLength = length;
    }
    m_request.headers.append({ name, value.toByteArray() });
    return true;
}
