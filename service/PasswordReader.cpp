#include "service/PasswordReader.h"

#include <QStringDecoder>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

// Turns echo off for as long as it lives, when standard input is a terminal.
class EchoOff
{
public:
    EchoOff()
        : m_terminal(::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &m_saved) == 0)
    {
        if (!m_terminal)
            return;
        std::fputs("Password: ", stderr);
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        if (!m_terminal)
            return;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
        std::fputs("\n", stderr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios m_saved {};
    bool m_terminal;
};

std::optional<QByteArray> refuse(QString* why, const QString& text)
{
    if (why)
        *why = text;
    return std::nullopt;
}

} // namespace

std::optional<QByteArray> PasswordReader::read(qsizetype maxSize, QString* why)
{
    QByteArray line;
    {
        const EchoOff echoOff;
        // One byte past the bound (and a carriage return) is enough to know
        // the line is too long; the rest is never read.
        for (int c = std::fgetc(stdin); c != EOF && c != '\n' && line.size() <= maxSize + 1;
             c = std::fgetc(stdin))
            line.append(static_cast<char>(c));
    }
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty())
        return refuse(why, QStringLiteral("the password on standard input is empty"));
    if (line.size() > maxSize)
        return refuse(why, QStringLiteral("the password is longer than %1 bytes").arg(maxSize));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)utf8.decode(line);
    if (utf8.hasError())
        return refuse(why, QStringLiteral("the password is not UTF-8 text"));
    return line;
}
