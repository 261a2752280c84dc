#include "platform/Script.h"

#include "platform/ApplicationActivation.h"
#include "platform/FileDuplication.h"
#include "platform/PrivilegedDuplication.h"
#include "platform/ScriptCompiler.h"

namespace {

class DesktopScriptingService : public ScriptingService
{
public:
    QVariant activateApplication(const QString& applicationName, QString* errorDescription) override
    {
        return ApplicationActivation::activateApplication(applicationName, errorDescription);
    }

    QVariant duplicateItem(
        const QString& itemPath, const QString& folderPath, QString* errorDescription) override
    {
        // A system folder asks an ordinary user for administrator rights, as
        // a file manager does.
        const QString copy = PrivilegedDuplication::needsAdministratorRights(folderPath)
            ? PrivilegedDuplication::duplicateItem(itemPath, folderPath, errorDescription)
            : FileDuplication::duplicateItem(itemPath, folderPath, errorDescription);
        return copy.isNull() ? QVariant() : QVariant(copy);
    }
};

ScriptingService* installedService = nullptr;

void setDescription(QString* errorDescription, const QString& description)
{
    if (errorDescription)
        *errorDescription = description;
}

} // namespace

ScriptingService& ScriptingService::current()
{
    static DesktopScriptingService desktop;
    return installedService ? *installedService : desktop;
}

void ScriptingService::setCurrent(ScriptingService* service)
{
    installedService = service;
}

Script::Script(const QString& source)
    : m_source(source)
{
}

bool Script::compileAndReturnError(QString* errorDescription) const
{
    return ScriptCompiler::compile(m_source, errorDescription).has_value();
}

QVariant Script::executeAndReturnError(QString* errorDescription) const
{
    QString description;
    const std::optional<CompiledScript> compiled = ScriptCompiler::compile(m_source, &description);
    if (!compiled) {
        setDescription(errorDescription, description);
        return {};
    }
    ScriptingService& service = ScriptingService::current();
    QVariant result;
    if (const auto* activation = std::get_if<ActivateApplication>(&*compiled))
        result = service.activateApplication(activation->applicationName, &description);
    else if (const auto* duplication = std::get_if<DuplicateItem>(&*compiled))
        result
            = service.duplicateItem(duplication->itemPath, duplication->folderPath, &description);
    if (result.isNull())
        setDescription(errorDescription,
            description.isEmpty() ? QStringLiteral("The script could not be completed.")
                                  : description);
    return result;
}
