#pragma once

// A script as the programs hand it to the desktop's scripting service: held as
// source text, compiled and run synchronously. Only the forms ScriptCompiler
// knows are understood; any other text fails with a description and runs
// nothing.

#include <QString>
#include <QVariant>

// What carries out a compiled script. The desktop's own activates programs
// and copies files; a test may install another in its place.
class ScriptingService
{
public:
    virtual ~ScriptingService() = default;
    // Each answers a non-null result, or a null one with the description set.
    virtual QVariant activateApplication(const QString& applicationName, QString* errorDescription)
        = 0;
    virtual QVariant duplicateItem(
        const QString& itemPath, const QString& folderPath, QString* errorDescription)
        = 0;

    static ScriptingService& current();
    // Not owned; nullptr puts the desktop's own back.
    static void setCurrent(ScriptingService* service);
};

class Script
{
public:
    // initWithSource
    explicit Script(const QString& source);

    const QString& source() const { return m_source; }

    bool compileAndReturnError(QString* errorDescription) const;
    // The script's result, or a null QVariant with the description set on any
    // failure: the activated program's entry ID, or the path of the copy.
    QVariant executeAndReturnError(QString* errorDescription) const;

private:
    QString m_source;
};
