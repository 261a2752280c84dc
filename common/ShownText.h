#pragma once

// A text that came from the service as a notification or an alert shows it.
// The service's values go on the screen between the suite's own words, so
// none may change how those read: control characters are dropped (a NUL
// would end a notification's body), as are the controls that set the
// direction of the text after them; a value that holds right-to-left text is
// set in a first-strong isolate; and only the first characters of a long
// value are shown, with an ellipsis. The whole value, when it is not shown
// whole, goes to the exchange log at debug level.

#include <QString>

// A count between the notification's labels, and a refusal's message.
constexpr qsizetype ShownCountLength = 32;
constexpr qsizetype ShownMessageLength = 500;

// At most maxLength characters (code points) of text, the ellipsis among
// them; line breaks and tabs read as spaces.
QString shownText(const QString& text, qsizetype maxLength);
