#pragma once

// Reads a new password from standard input, never from the command line,
// where every user of the machine could see it. One line, its line ending
// removed; at a terminal it prompts on stderr and does not echo.

#include <QByteArray>
#include <QString>
#include <optional>

class PasswordReader
{
public:
    // Nothing, with the reason, when the line is empty, longer than maxSize
    // bytes or not UTF-8 (a service form could never carry it).
    static std::optional<QByteArray> read(qsizetype maxSize, QString* why);
};
