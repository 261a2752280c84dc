#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcKeyring, "tarvendesk.keyring", QtWarningMsg)
Q_LOGGING_CATEGORY(lcExchange, "tarvendesk.exchange", QtWarningMsg)
Q_LOGGING_CATEGORY(lcActivation, "tarvendesk.activation", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTimer, "tarvendesk.timer", QtWarningMsg)
Q_LOGGING_CATEGORY(lcInstaller, "tarvendesk.installer", QtWarningMsg)
