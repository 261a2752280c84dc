// The unarchiver on any bytes a keyring item may hold: it decodes them or
// rejects them with a reason; what it decodes archives again and comes back
// as the same string, in the same bytes from then on. And any string comes
// back from its archive unchanged.

#include "FuzzSupport.h"
#include "platform/KeyedArchiver.h"

namespace {

// An absent string and an empty one are different items to the reader.
bool sameString(const QString& a, const QString& b)
{
    return a == b && a.isNull() == b.isNull();
}

void decodeAnyBytes(const QByteArray& data)
{
    Error error;
    const std::optional<QString> value = KeyedArchiver::unarchiveObjectWithData(data, &error);
    if (!value) {
        fuzzCheck(!error.isNull() && !error.localizedDescription().isEmpty(),
            "a rejection gives a reason");
        return;
    }
    const QByteArray archived = KeyedArchiver::archivedDataWithRootObject(*value);
    const std::optional<QString> again = KeyedArchiver::unarchiveObjectWithData(archived, nullptr);
    fuzzCheck(
        again && sameString(*again, *value), "what was decoded comes back as the same string");
    fuzzCheck(KeyedArchiver::archivedDataWithRootObject(*again) == archived,
        "an archive made again has the same bytes");
}

void archiveAnyString(FuzzedDataProvider& input)
{
    const QString value = input.ConsumeBool() ? QString() : anyString(input);
    const std::optional<QString> back = KeyedArchiver::unarchiveObjectWithData(
        KeyedArchiver::archivedDataWithRootObject(value), nullptr);
    fuzzCheck(back && sameString(*back, value), "any string comes back from its archive unchanged");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    decodeAnyBytes(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    FuzzedDataProvider input(data, size);
    archiveAnyString(input);
    return 0;
}
