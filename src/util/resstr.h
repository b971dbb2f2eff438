#pragma once

#include <string>
#include <string_view>

#include "res/strtable.h"

namespace veltrano {

// Entry `id` of the string table with its one %s replaced by arg ("%%" gives "%"). Texts are
// UTF-8; the template is taken whole and the result is not cut, since UTF-8 texts are longer
// than their code-page forms and a cut could split a character.
std::string FmtResStr(int id, std::string_view arg);

// The same formatting over a given template.
std::string formatTemplate(std::string_view templ, std::string_view arg);

// The system's text for an error code: an errno value gives strerror's text in the user's
// locale. Never fails; a code the system has no text for gives its "Unknown error" text.
std::string ErrorText(int code);

} // namespace veltrano
