#include "platform/SecretServiceConnection.h"

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "platform/StoreWorker.h"

void SecretServiceConnection::openInBackground()
{
    // On the store's worker, ahead of any store call. libsecret keeps the
    // service it makes here as the shared one that later calls get.
    StoreWorker::run(nullptr, [] {
        GError* error = nullptr;
        if (SecretService* service
            = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error))
            g_object_unref(service);
        if (error)
            g_error_free(error);
        return std::function<void()>();
    });
}
