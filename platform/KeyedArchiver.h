#pragma once

// Turns a value into bytes for the item store and back. The bytes are a small
// header followed by a QDataStream of the QVariant at a fixed stream version,
// so that what one build writes every later build reads.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <exception>
#include <string>

// Raised for a value that cannot be archived and for bytes that do not decode
// completely; reason() says which and why.
class ArchiveException : public std::exception
{
public:
    explicit ArchiveException(QString reason);
    QString reason() const { return m_reason; }
    const char* what() const noexcept override { return m_what.c_str(); }

private:
    QString m_reason;
    std::string m_what;
};

class KeyedArchiver
{
public:
    KeyedArchiver() = delete;
    static QByteArray archivedDataWithRootObject(const QVariant& rootObject);
};

class KeyedUnarchiver
{
public:
    KeyedUnarchiver() = delete;
    static QVariant unarchiveObjectWithData(const QByteArray& data);
};
