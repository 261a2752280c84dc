#pragma once

// Compiles the two script forms the suite writes and nothing else:
//
//   tell application "<name>"            property <y> : POSIX file "<item>" as alias
//       activate                         tell application "Finder"
//   end tell                                 set <x> to POSIX file "<folder>" as alias
//                                            duplicate <y> to <x>
//                                        end tell
//
// Spaces and tabs between words and blank lines are free; string literals
// take \" \\ \n \t and \r escapes.

#include <QString>
#include <optional>
#include <variant>

struct ActivateApplication
{
    QString applicationName;
    bool operator==(const ActivateApplication&) const = default;
};

struct DuplicateItem
{
    QString itemPath;
    QString folderPath;
    bool operator==(const DuplicateItem&) const = default;
};

using CompiledScript = std::variant<ActivateApplication, DuplicateItem>;

namespace ScriptCompiler {

// Nothing, with a description of the first fault, for any other text.
std::optional<CompiledScript> compile(const QString& source, QString* errorDescription);

} // namespace ScriptCompiler
