#pragma once

// The suite's logging categories, one per area. Failures a user does not see
// are logged here; warnings are on by default and debug output is off
// (QT_LOGGING_RULES or a qtlogging.ini turns it on). Nothing logged may hold a
// credential or a request body.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKeyring)
Q_DECLARE_LOGGING_CATEGORY(lcExchange)
Q_DECLARE_LOGGING_CATEGORY(lcActivation)
Q_DECLARE_LOGGING_CATEGORY(lcTimer)
Q_DECLARE_LOGGING_CATEGORY(lcInstaller)
