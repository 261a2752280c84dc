#pragma once

// What the fuzz targets share: a property check that stops the run, so that
// libFuzzer keeps the input that broke it, and strings made from raw bytes.

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>

inline void fuzzCheck(bool holds, const char* property)
{
    if (holds)
        return;
    std::fprintf(stderr, "Property broken: %s\n", property);
    std::abort();
}

// The bytes as UTF-16 code units, so that every code unit a QString can hold
// (lone surrogates, U+0000, U+FFFF) reaches the code under test.
inline QString codeUnitString(const std::string& bytes)
{
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * sizeof(char16_t));
    // Not QString::fromUtf16, which drops a leading byte-order mark.
    return QString(
        reinterpret_cast<const QChar*>(units.data()), static_cast<qsizetype>(units.size()));
}

// A string from the input: UTF-8 text or raw code units, as the input chooses.
inline QString anyString(FuzzedDataProvider& input)
{
    const bool raw = input.ConsumeBool();
    const std::string bytes = input.ConsumeRandomLengthString(256);
    return raw ? codeUnitString(bytes)
               : QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Qt's warnings about rejected input would only slow the run down.
inline void silenceQtMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}
