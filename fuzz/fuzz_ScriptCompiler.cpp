// The script compiler on any text, and the scripts the suite writes around
// any name or path: whatever is inserted, the script does exactly what its
// template says, with exactly that name or path.

#include "FuzzSupport.h"

#include "common/ProcessHelpers.h"
#include "platform/ScriptCompiler.h"

namespace {

std::optional<CompiledScript> compiled(const QString& source)
{
    QString description;
    std::optional<CompiledScript> script = ScriptCompiler::compile(source, &description);
    if (script)
        fuzzCheck(description.isEmpty(), "a script that compiles leaves the description alone");
    else
        fuzzCheck(description.startsWith(QLatin1String("Syntax error: ")) && description.endsWith(u'.'),
            "a script that does not compile says why");
    return script;
}

// The same script in the suite's own layout, with its strings escaped anew.
QString rewritten(const CompiledScript& script)
{
    if (const auto* activation = std::get_if<ActivateApplication>(&script))
        return ProcessHelpers::activationScriptSource(activation->applicationName);
    const auto& duplication = std::get<DuplicateItem>(script);
    return QStringLiteral("property y : POSIX file \"") + ProcessHelpers::escapedForScriptString(duplication.itemPath)
        + QStringLiteral("\" as alias\ntell application \"Finder\"\nset x to POSIX file \"")
        + ProcessHelpers::escapedForScriptString(duplication.folderPath)
        + QStringLiteral("\" as alias\nduplicate y to x\nend tell");
}

void compileAnyText(const QString& source)
{
    const std::optional<CompiledScript> script = compiled(source);
    if (!script)
        return;
    const std::optional<CompiledScript> again = compiled(rewritten(*script));
    fuzzCheck(again && *again == *script, "a compiled script written out again compiles to the same script");
}

void insertAnyText(const QString& text)
{
    const std::optional<CompiledScript> activation = compiled(ProcessHelpers::activationScriptSource(text));
    fuzzCheck(activation && *activation == CompiledScript(ActivateApplication { text }),
        "any application name gives an activation of exactly that name");

    const std::optional<CompiledScript> launchAgentCopy
        = compiled(ProcessHelpers::launchAgentCopyScriptSource(text));
    fuzzCheck(launchAgentCopy
            && *launchAgentCopy == CompiledScript(DuplicateItem { text, QStringLiteral("/etc/xdg/autostart/") }),
        "any launch-agent path gives a copy of exactly that path into the autostart folder");

    const std::optional<CompiledScript> applicationCopy = compiled(ProcessHelpers::applicationCopyScriptSource(text));
    fuzzCheck(applicationCopy && *applicationCopy == CompiledScript(DuplicateItem { text, QStringLiteral("/opt/") }),
        "any application path gives a copy of exactly that path into the applications folder");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    compileAnyText(QString::fromUtf8(bytes));
    insertAnyText(QString::fromUtf8(bytes));
    insertAnyText(codeUnitString(bytes.toStdString()));
    return 0;
}
