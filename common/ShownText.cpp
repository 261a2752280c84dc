#include "common/ShownText.h"

#include "platform/Logging.h"

#include <QList>
#include <algorithm>

namespace {

constexpr char32_t FirstStrongIsolate = 0x2068;
constexpr char32_t PopDirectionalIsolate = 0x2069;
constexpr char32_t Ellipsis = 0x2026;

bool isDirectionControl(char32_t c)
{
    return c == 0x061c || c == 0x200e || c == 0x200f || (c >= 0x202a && c <= 0x202e)
        || (c >= 0x2066 && c <= 0x2069);
}

bool isSpaceControl(char32_t c)
{
    return (c >= 0x09 && c <= 0x0d) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

bool isRightToLeft(char32_t c)
{
    const QChar::Direction direction = QChar::direction(c);
    return direction == QChar::DirR || direction == QChar::DirAL || direction == QChar::DirAN;
}

} // namespace

QString shownText(const QString& text, qsizetype maxLength)
{
    QList<char32_t> kept;
    bool rightToLeft = false;
    bool changed = false;
    for (const uint code : text.toUcs4()) {
        char32_t c = code;
        if (isSpaceControl(c)) {
            c = U' ';
            changed = true;
        } else if (isControl(c) || isDirectionControl(c)) {
            changed = true;
            continue;
        }
        rightToLeft = rightToLeft || isRightToLeft(c);
        kept.append(c);
    }
    if (kept.size() > maxLength) {
        kept.resize(std::max<qsizetype>(maxLength - 1, 0));
        kept.append(Ellipsis);
        changed = true;
    }
    if (rightToLeft) {
        kept.prepend(FirstStrongIsolate);
        kept.append(PopDirectionalIsolate);
    }
    const QString shown = QString::fromUcs4(kept.constData(), kept.size());
    if (changed)
        qCDebug(lcExchange) << "Shown as" << shown << "from" << text;
    return shown;
}
