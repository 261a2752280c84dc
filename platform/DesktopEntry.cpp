#include "platform/DesktopEntry.h"

#include <QFile>

namespace {

// The escapes of a string value: \s \n \t \r \\.
QString unescapedValue(const QString& value)
{
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result += c;
            continue;
        }
        const QChar e = value.at(++i);
        if (e == QLatin1Char('s'))
            result += QLatin1Char(' ');
        else if (e == QLatin1Char('n'))
            result += QLatin1Char('\n');
        else if (e == QLatin1Char('t'))
            result += QLatin1Char('\t');
        else if (e == QLatin1Char('r'))
            result += QLatin1Char('\r');
        else if (e == QLatin1Char('\\'))
            result += QLatin1Char('\\');
        else
            result += QLatin1Char('\\') + e;
    }
    return result;
}

struct Word
{
    QString text;
    bool quoted = false;
};

// Splits a command line: words apart by blanks, or between double quotes,
// where \" \` \$ and \\ stand for the character itself.
std::optional<QList<Word>> splitCommandLine(const QString& line)
{
    QList<Word> words;
    qsizetype i = 0;
    while (i < line.size()) {
        if (line.at(i) == QLatin1Char(' ') || line.at(i) == QLatin1Char('\t')) {
            ++i;
            continue;
        }
        Word word;
        if (line.at(i) == QLatin1Char('"')) {
            word.quoted = true;
            for (++i;; ++i) {
                if (i >= line.size())
                    return std::nullopt;
                const QChar c = line.at(i);
                if (c == QLatin1Char('"'))
                    break;
                if (c == QLatin1Char('\\') && i + 1 < line.size()
                    && QStringLiteral("\"`$\\").contains(line.at(i + 1)))
                    word.text += line.at(++i);
                else
                    word.text += c;
            }
            ++i;
        } else {
            while (i < line.size() && line.at(i) != QLatin1Char(' ')
                && line.at(i) != QLatin1Char('\t'))
                word.text += line.at(i++);
        }
        words.append(word);
    }
    return words;
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::read(const QString& filePath, const QString& id)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    DesktopEntry entry;
    entry.id = id;
    entry.filePath = filePath;
    bool inGroup = false;
    bool sawGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            sawGroup = sawGroup || inGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = unescapedValue(line.mid(equals + 1).trimmed());
        if (key == QLatin1String("Type"))
            entry.type = value;
        else if (key == QLatin1String("Name"))
            entry.name = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("Path"))
            entry.path = value;
        else if (key == QLatin1String("DBusActivatable"))
            entry.dbusActivatable = value == QLatin1String("true");
        else if (key == QLatin1String("Hidden"))
            entry.hidden = value == QLatin1String("true");
    }
    if (!sawGroup)
        return std::nullopt;
    return entry;
}

QStringList DesktopEntry::execArguments() const
{
    const std::optional<QList<Word>> words = splitCommandLine(exec);
    if (!words || words->isEmpty())
        return {};
    QStringList arguments;
    for (const Word& word : *words) {
        if (word.quoted) {
            arguments.append(word.text);
            continue;
        }
        if (word.text == QLatin1String("%i")) {
            if (!icon.isEmpty())
                arguments << QStringLiteral("--icon") << icon;
            continue;
        }
        QString expanded;
        bool onlyFileCodes = true;
        for (qsizetype i = 0; i < word.text.size(); ++i) {
            const QChar c = word.text.at(i);
            if (c != QLatin1Char('%')) {
                expanded += c;
                onlyFileCodes = false;
                continue;
            }
            if (i + 1 == word.text.size())
                return {};
            const QChar code = word.text.at(++i);
            if (code == QLatin1Char('%')) {
                expanded += QLatin1Char('%');
                onlyFileCodes = false;
            } else if (code == QLatin1Char('c')) {
                expanded += name;
                onlyFileCodes = false;
            } else if (code == QLatin1Char('k')) {
                expanded += filePath;
                onlyFileCodes = false;
            } else if (!QStringLiteral("fFuUdDnNvmi").contains(code)) {
                return {};
            }
        }
        // A word that was only %U or the like stands for no file at all.
        if (!onlyFileCodes)
            arguments.append(expanded);
    }
    if (arguments.isEmpty() || arguments.front().isEmpty())
        return {};
    return arguments;
}

QString DesktopEntry::objectPath() const
{
    QString path = QLatin1Char('/') + id;
    path.replace(QLatin1Char('.'), QLatin1Char('/')).replace(QLatin1Char('-'), QLatin1Char('_'));
    return path;
}
