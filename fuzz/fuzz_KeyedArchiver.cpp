// The unarchiver on any bytes a keyring item may hold: it decodes them or
// rejects them with a reason; what it decodes archives again and comes back
// as the same value, in the same bytes from then on. And any archivable value
// comes back from its archive unchanged.

#include "FuzzSupport.h"

#include "platform/KeyedArchiver.h"

#include <cmath>

namespace {

std::optional<QVariant> decoded(const QByteArray& data)
{
    try {
        return KeyedUnarchiver::unarchiveObjectWithData(data);
    } catch (const ArchiveException& exception) {
        fuzzCheck(!exception.reason().isEmpty(), "a rejection gives a reason");
        return std::nullopt;
    }
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.metaType() != b.metaType() || a.isNull() != b.isNull())
        return false;
    // An absent string and an empty one are different items to the reader.
    if (a.metaType().id() == QMetaType::QString && a.toString().isNull() != b.toString().isNull())
        return false;
    // NaN is unequal to itself, yet the same value for the store.
    if (a.metaType().id() == QMetaType::Double && std::isnan(a.toDouble()))
        return std::isnan(b.toDouble());
    return a == b;
}

void decodeAnyBytes(const QByteArray& data)
{
    const std::optional<QVariant> value = decoded(data);
    if (!value)
        return;
    const QByteArray archived = KeyedArchiver::archivedDataWithRootObject(*value);
    const std::optional<QVariant> again = decoded(archived);
    fuzzCheck(again.has_value(), "what was decoded archives into bytes that decode");
    fuzzCheck(sameValue(*again, *value), "what was decoded comes back as the same value");
    fuzzCheck(KeyedArchiver::archivedDataWithRootObject(*again) == archived, "an archive made again has the same bytes");
}

QVariant anyValue(FuzzedDataProvider& input)
{
    switch (input.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return QVariant();
    case 1:
        return anyString(input);
    case 2:
        return QString();
    case 3: {
        const std::string bytes = input.ConsumeRandomLengthString(256);
        return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    case 4:
        return input.ConsumeBool();
    case 5:
        return input.ConsumeIntegral<int>();
    case 6:
        return input.ConsumeIntegral<qlonglong>();
    default:
        return input.ConsumeFloatingPoint<double>();
    }
}

void archiveAnyValue(FuzzedDataProvider& input)
{
    const QVariant value = anyValue(input);
    const std::optional<QVariant> back = decoded(KeyedArchiver::archivedDataWithRootObject(value));
    fuzzCheck(back.has_value(), "the archive of any value decodes");
    fuzzCheck(sameValue(*back, value), "any value comes back from its archive unchanged");
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
    archiveAnyValue(input);
    return 0;
}
