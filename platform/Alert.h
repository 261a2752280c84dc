#pragma once

// The content of one modal alert: a message, an informative text and the
// buttons in the order given, the first being the default.

#include <QString>
#include <QStringList>

struct Error;

struct Alert
{
    QString messageText;
    QString informativeText;
    QStringList buttons;

    // The error's description as the message, its failure reason (when it
    // has one) as the informative text, and one "OK" button.
    static Alert alertWithError(const Error& error);

    bool operator==(const Alert&) const = default;
};
