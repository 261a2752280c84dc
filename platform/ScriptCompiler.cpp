#include "platform/ScriptCompiler.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <utility>

namespace {

struct Token
{
    enum Kind
    {
        Word,
        String,
        Colon,
        LineBreak,
        End
    };
    Kind kind = End;
    QString text;
};

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

QString describe(const Token& token)
{
    switch (token.kind) {
    case Token::Word:
        return quoted(token.text);
    case Token::String:
        return QStringLiteral("a string");
    case Token::Colon:
        return quoted(QStringLiteral(":"));
    case Token::LineBreak:
        return QStringLiteral("a line break");
    case Token::End:
        break;
    }
    return QStringLiteral("the end of the script");
}

bool isWordCharacter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('_');
}

// Thrown inside the compiler only; compile() turns it into the description.
struct SyntaxError
{
    QString message;
};

QList<Token> tokenize(const QString& source)
{
    QList<Token> tokens;
    qsizetype i = 0;
    while (i < source.size()) {
        const QChar c = source.at(i);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            ++i;
        } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            tokens.append(Token { Token::LineBreak, {} });
            ++i;
        } else if (c == QLatin1Char(':')) {
            tokens.append(Token { Token::Colon, {} });
            ++i;
        } else if (c == QLatin1Char('"')) {
            QString value;
            ++i;
            for (;;) {
                if (i >= source.size())
                    throw SyntaxError { QStringLiteral(
                        "a string is not closed by a double quote") };
                const QChar s = source.at(i++);
                if (s == QLatin1Char('"'))
                    break;
                if (s != QLatin1Char('\\')) {
                    value += s;
                    continue;
                }
                if (i >= source.size())
                    throw SyntaxError { QStringLiteral(
                        "a string is not closed by a double quote") };
                const QChar e = source.at(i++);
                if (e == QLatin1Char('"') || e == QLatin1Char('\\'))
                    value += e;
                else if (e == QLatin1Char('n'))
                    value += QLatin1Char('\n');
                else if (e == QLatin1Char('t'))
                    value += QLatin1Char('\t');
                else if (e == QLatin1Char('r'))
                    value += QLatin1Char('\r');
                else
                    throw SyntaxError { QStringLiteral("%1 is not an escape a string can hold")
                                            .arg(quoted(QStringLiteral("\\") + e)) };
            }
            tokens.append(Token { Token::String, value });
        } else if (isWordCharacter(c)) {
            const qsizetype start = i;
            while (i < source.size() && isWordCharacter(source.at(i)))
                ++i;
            tokens.append(Token { Token::Word, source.mid(start, i - start) });
        } else {
            throw SyntaxError { QStringLiteral("unknown character %1").arg(quoted(c)) };
        }
    }
    tokens.append(Token { Token::End, {} });
    return tokens;
}

const QStringList ReservedWords = { QStringLiteral("tell"), QStringLiteral("application"),
    QStringLiteral("end"), QStringLiteral("property"), QStringLiteral("set"), QStringLiteral("to"),
    QStringLiteral("POSIX"), QStringLiteral("file"), QStringLiteral("as"), QStringLiteral("alias"),
    QStringLiteral("activate"), QStringLiteral("duplicate") };

class Parser
{
public:
    explicit Parser(QList<Token> tokens)
        : m_tokens(std::move(tokens))
    {
    }

    CompiledScript script()
    {
        skipLineBreaks();
        const CompiledScript compiled
            = peekWord(QStringLiteral("property")) ? duplication() : activation();
        skipLineBreaks();
        if (peek().kind != Token::End)
            throw unexpected(QStringLiteral("the end of the script"));
        return compiled;
    }

private:
    CompiledScript activation()
    {
        const QString applicationName = tellApplication();
        expectWord(QStringLiteral("activate"));
        endOfLine();
        endTell();
        return ActivateApplication { applicationName };
    }

    // property y : POSIX file "…" as alias / tell "Finder" / set x to … / duplicate y to x / end
    // tell
    CompiledScript duplication()
    {
        QHash<QString, QString> variables;
        expectWord(QStringLiteral("property"));
        const QString property = variableName();
        if (next().kind != Token::Colon)
            throw unexpectedTaken(quoted(QStringLiteral(":")));
        variables.insert(property, posixFileAsAlias());
        endOfLine();

        const QString target = tellApplication();
        if (target != QLatin1String("Finder"))
            throw SyntaxError { QStringLiteral("%1 is understood only by the Finder, not by %2")
                                    .arg(quoted(QStringLiteral("duplicate")), quoted(target)) };
        expectWord(QStringLiteral("set"));
        const QString folderVariable = variableName();
        expectWord(QStringLiteral("to"));
        variables.insert(folderVariable, posixFileAsAlias());
        endOfLine();

        expectWord(QStringLiteral("duplicate"));
        const QString item = definedVariable(variables);
        expectWord(QStringLiteral("to"));
        const QString folder = definedVariable(variables);
        endOfLine();
        endTell();
        return DuplicateItem { item, folder };
    }

    QString tellApplication()
    {
        expectWord(QStringLiteral("tell"));
        expectWord(QStringLiteral("application"));
        const QString name = string();
        endOfLine();
        return name;
    }

    void endTell()
    {
        expectWord(QStringLiteral("end"));
        expectWord(QStringLiteral("tell"));
    }

    QString posixFileAsAlias()
    {
        expectWord(QStringLiteral("POSIX"));
        expectWord(QStringLiteral("file"));
        const QString path = string();
        expectWord(QStringLiteral("as"));
        expectWord(QStringLiteral("alias"));
        return path;
    }

    QString variableName()
    {
        const Token& token = next();
        if (token.kind != Token::Word || ReservedWords.contains(token.text)
            || (token.text.front() >= QLatin1Char('0') && token.text.front() <= QLatin1Char('9')))
            throw unexpectedTaken(QStringLiteral("a variable name"));
        return token.text;
    }

    QString definedVariable(const QHash<QString, QString>& variables)
    {
        const QString name = variableName();
        const auto found = variables.constFind(name);
        if (found == variables.cend())
            throw SyntaxError {
                QStringLiteral("the variable %1 is not defined").arg(quoted(name))
            };
        return found.value();
    }

    QString string()
    {
        const Token& token = next();
        if (token.kind != Token::String)
            throw unexpectedTaken(QStringLiteral("a string"));
        return token.text;
    }

    void expectWord(const QString& word)
    {
        if (!peekWord(word))
            throw unexpected(quoted(word));
        ++m_position;
    }

    void endOfLine()
    {
        if (peek().kind != Token::LineBreak)
            throw unexpected(QStringLiteral("a line break"));
        skipLineBreaks();
    }

    void skipLineBreaks()
    {
        while (peek().kind == Token::LineBreak)
            ++m_position;
    }

    bool peekWord(const QString& word) const
    {
        return peek().kind == Token::Word && peek().text == word;
    }
    const Token& peek() const { return m_tokens.at(m_position); }
    const Token& next()
    {
        m_taken = m_position;
        if (m_position < m_tokens.size() - 1)
            ++m_position;
        return m_tokens.at(m_taken);
    }

    SyntaxError unexpected(const QString& expected) const { return mismatch(expected, peek()); }
    SyntaxError unexpectedTaken(const QString& expected) const
    {
        return mismatch(expected, m_tokens.at(m_taken));
    }
    static SyntaxError mismatch(const QString& expected, const Token& found)
    {
        return { QStringLiteral("expected %1 but found %2").arg(expected, describe(found)) };
    }

    QList<Token> m_tokens;
    qsizetype m_position = 0;
    qsizetype m_taken = 0;
};

} // namespace

namespace ScriptCompiler {

std::optional<CompiledScript> compile(const QString& source, QString* errorDescription)
{
    try {
        return Parser(tokenize(source)).script();
    } catch (const SyntaxError& error) {
        if (errorDescription)
            *errorDescription = QStringLiteral("Syntax error: %1.").arg(error.message);
        return std::nullopt;
    }
}

} // namespace ScriptCompiler
