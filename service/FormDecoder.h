#pragma once

// Decodes an application/x-www-form-urlencoded body as browsers and Qt encode
// it: "+" is a space, then percent-escapes are bytes, and the bytes are UTF-8.
// Whatever a user typed into a field comes back exactly as typed.

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <optional>

class FormDecoder
{
public:
    // Field names and values, or nothing (with the reason) when a name or value
    // is not UTF-8 or holds a NUL, or a field appears twice: each is a client's
    // mistake that the service should not paper over by guessing.
    static std::optional<QHash<QString, QString>> decode(
        QByteArrayView body, QString* why = nullptr);

    // One name or value; nothing when its bytes are not UTF-8.
    static std::optional<QString> decodeComponent(QByteArrayView component);
};
