// The keychain store's read and save of the details record against the same
// work done with libsecret's own calls: the same item, the same attributes and
// the same archived bytes. Runs inside a private session with an unlocked
// keyring (scripts/in-test-session.sh); Google Benchmark's options apply.

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "platform/KeyedArchiver.h"

#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

// The schema and attributes the store gives the record's item.
const SecretSchema recordSchema = { "org.tarvendesk.GenericPassword", SECRET_SCHEMA_NONE,
    {
        { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "accessible", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
    },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr };

const UserDetails details { QStringLiteral("bench-user"), QStringLiteral("not-a-real-password"), 1,
    1 };

GHashTable* recordAttributes(bool withAccessible)
{
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    static const QByteArray account = DetailsRecordKey.toUtf8();
    static const QByteArray service = DetailsRecordService.toUtf8();
    g_hash_table_insert(
        attributes, const_cast<char*>("account"), const_cast<char*>(account.constData()));
    g_hash_table_insert(
        attributes, const_cast<char*>("service"), const_cast<char*>(service.constData()));
    if (withAccessible)
        g_hash_table_insert(
            attributes, const_cast<char*>("accessible"), const_cast<char*>("after-first-unlock"));
    return attributes;
}

void keychainStoreRead(benchmark::State& state)
{
    for (auto _ : state) {
        Error error;
        const QVariant item
            = KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error);
        if (item.isNull()) {
            state.SkipWithError("the record could not be read");
            break;
        }
        benchmark::DoNotOptimize(item);
    }
}

void libsecretRead(benchmark::State& state)
{
    GHashTable* attributes = recordAttributes(false);
    for (auto _ : state) {
        GError* error = nullptr;
        SecretValue* value
            = secret_service_lookup_sync(nullptr, &recordSchema, attributes, nullptr, &error);
        if (!value) {
            if (error)
                g_error_free(error);
            state.SkipWithError("the record could not be read");
            break;
        }
        gsize length = 0;
        benchmark::DoNotOptimize(secret_value_get(value, &length));
        secret_value_unref(value);
    }
    g_hash_table_unref(attributes);
}

void keychainStoreSave(benchmark::State& state)
{
    const QString text = DetailsRecord::text(details);
    for (auto _ : state) {
        Error error;
        if (!KeychainStore::saveItem(text, DetailsRecordKey, DetailsRecordService, &error)) {
            state.SkipWithError("the record could not be saved");
            break;
        }
    }
}

void libsecretSave(benchmark::State& state)
{
    GHashTable* attributes = recordAttributes(true);
    const QByteArray bytes
        = KeyedArchiver::archivedDataWithRootObject(DetailsRecord::text(details));
    const QByteArray label
        = (DetailsRecordService + QStringLiteral(" (") + DetailsRecordKey + u')').toUtf8();
    for (auto _ : state) {
        GError* error = nullptr;
        SecretValue* value
            = secret_value_new(bytes.constData(), bytes.size(), "application/octet-stream");
        const bool stored = secret_service_store_sync(nullptr, &recordSchema, attributes,
            SECRET_COLLECTION_DEFAULT, label.constData(), value, nullptr, &error);
        secret_value_unref(value);
        if (!stored) {
            if (error)
                g_error_free(error);
            state.SkipWithError("the record could not be saved");
            break;
        }
    }
    g_hash_table_unref(attributes);
}

} // namespace

BENCHMARK(keychainStoreRead)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(libsecretRead)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(keychainStoreSave)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(libsecretSave)->Unit(benchmark::kMicrosecond)->UseRealTime();

int main(int argc, char** argv)
{
    // Both sides read the item the store wrote, so there is exactly one.
    DetailsRecord::clearDetailsInKeyChain();
    DetailsRecord::addDetailsToKeyChain(details);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DetailsRecord::clearDetailsInKeyChain();
    Error error;
    if (KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &error).isValid()) {
        std::fprintf(stderr, "keychain-bench: the record outlived the bench\n");
        return 1;
    }
    return 0;
}
