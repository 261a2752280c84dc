#include "platform/Alert.h"

#include "platform/Error.h"

Alert Alert::alertWithError(const Error& error)
{
    return Alert { error.localizedDescription(), error.localizedFailureReason(),
        { QStringLiteral("OK") } };
}
