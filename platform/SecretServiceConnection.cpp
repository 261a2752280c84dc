#include "platform/SecretServiceConnection.h"

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <QThreadPool>

void SecretServiceConnection::openInBackground()
{
    // The global pool is waited for when the application ends. libsecret
    // keeps the service it makes here as the shared one that later calls get.
    QThreadPool::globalInstance()->start([] {
        GError* error = nullptr;
        if (SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error))
            g_object_unref(service);
        if (error)
            g_error_free(error);
    });
}
