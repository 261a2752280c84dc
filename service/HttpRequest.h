#pragma once

// One request as the service reads it off the wire. Header names are kept in
// lower case, so lookups need not care how the client spelled them.

#include <QByteArray>
#include <QList>
#include <QPair>

#include <algorithm>

struct HttpRequest
{
    QByteArray method;
    QByteArray target; // as sent, query included
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArray path() const
    {
        const qsizetype query = target.indexOf('?');
        return query < 0 ? target : target.left(query);
    }

    bool hasHeader(const QByteArray& lowerCaseName) const
    {
        return std::any_of(headers.begin(), headers.end(),
            [&](const auto& header) { return header.first == lowerCaseName; });
    }

    // The first value of a header, or a null array when it is absent.
    QByteArray header(const QByteArray& lowerCaseName) const
    {
        for (const auto& [name, value] : headers) {
            if (name == lowerCaseName)
                return value;
        }
        return {};
    }
};
