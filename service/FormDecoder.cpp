#include "service/FormDecoder.h"

#include <QStringDecoder>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<QString> FormDecoder::decodeComponent(QByteArrayView component)
{
    QByteArray bytes;
    bytes.reserve(component.size());
    for (qsizetype i = 0; i < component.size(); ++i) {
        const char c = component.at(i);
        const int high = i + 2 < component.size() ? hexValue(component.at(i + 1)) : -1;
        const int low = i + 2 < component.size() ? hexValue(component.at(i + 2)) : -1;
        if (c == '+') {
            bytes.append(' ');
        } else if (c == '%' && high >= 0 && low >= 0) {
            bytes.append(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            // A "%" that starts no escape stands for itself, as browsers read it.
            bytes.append(c);
        }
    }
    // A leading byte-order mark is kept: it is part of what was typed.
    QStringDecoder utf8(QStringDecoder::Utf8,
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

std::optional<QHash<QString, QString>> FormDecoder::decode(QByteArrayView body, QString* why)
{
    QHash<QString, QString> fields;
    for (const QByteArrayView pair : QByteArrayView(body).toByteArray().split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const auto name = decodeComponent(equals < 0 ? pair : pair.first(equals));
        const auto value = decodeComponent(equals < 0 ? QByteArrayView() : pair.sliced(equals + 1));
        if (!name || !value) {
            if (why)
                *why = QStringLiteral("The form is not UTF-8 text.");
            return std::nullopt;
        }
        // HMAC pads a short key with NULs, so a password hash cannot tell
        // "pw" from "pw\0": no field may hold one.
        if (name->contains(QChar(0)) || value->contains(QChar(0))) {
            if (why)
                *why = QStringLiteral("The form holds a NUL character.");
            return std::nullopt;
        }
        if (fields.contains(*name)) {
            if (why)
                *why = QStringLiteral("The field \"%1\" appears more than once.").arg(*name);
            return std::nullopt;
        }
        fields.insert(*name, *value);
    }
    return fields;
}
