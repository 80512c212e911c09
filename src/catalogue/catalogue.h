// The module catalogue: one line per module file of the Vorrel folder,
// "match key;include block template" followed by CR LF, where the template is
// the four metacommand lines of the module's include block joined by "~".
#pragma once

#include <string>
#include <string_view>

namespace vorrel {

/// The bytes of text before the first delimiter; all of text when it has none.
std::string textBeforeFirst(std::string_view text, std::string_view delimiter);

/// The bytes of text after the first delimiter; all of text when it has none.
std::string textAfterFirst(std::string_view text, std::string_view delimiter);

/// The bytes of text after the last delimiter; all of text when it has none.
std::string textAfterLast(std::string_view text, std::string_view delimiter);

/// The catalogue line, CR LF included, of the module file fileName in the
/// Vorrel folder whose last path component is folderName.
std::string catalogueLine(std::string_view folderName, std::string_view fileName);

/// The catalogue of the existing folder vorrelFolder (no trailing separator):
/// a line for every entry matching "*.inc", in listing order; empty when none.
std::string buildCatalogue(const std::string& vorrelFolder);

}  // namespace vorrel
