#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrano {

class CodePage;

// Splitting one line of code-page text into fields by a small template language. A template is
// a row of descriptors, each a type letter and its separator:
//
//   S<     text up to the first run of the separator ("S  " needs two blanks in a row)
//   N<     as S, and the field must be a number (else error 20050)
//   M<     as S, commas removed, then the number test (else error 20051)
//   DDD<   three characters that must be digits (else error 20050), then any run of '<'
//   CDD<   three characters of any kind, then any run of '<'
//
// The last descriptor is the letter alone and takes the rest of the line. Any other letter is a
// syntax error (20052). There is no quoting or escaping. Separators are found only on character
// boundaries of the code page, so a Big5 trail byte never ends a field, and fixed widths count
// characters, not bytes. Errors are thrown as Error carrying the string-table text; the fields
// cut before the error stay in the list.

using TokenList = std::vector<std::string>;

// Clears `list`, trims blanks and control characters (every byte up to and including the blank)
// from both ends of `line`, splits it by `templ` and returns the number of fields.
int GetTokens(std::string_view line, std::string_view templ, TokenList &list, const CodePage &cp);

// The split alone: no clearing, no trimming; appends to `list`.
void ParseTokens(
        std::string_view line, std::string_view templ, TokenList &list, const CodePage &cp);

// The digit test of D fields: not empty and every character a decimal digit.
bool IsDigits(std::string_view text);

// The number test: not empty; after one optional leading '+' or '-', only digits and points
// (a sign alone passes, several points pass).
bool IsNumber(std::string_view text);

// The longest head of `text` of at most maxBytes bytes that does not end inside a character.
std::string_view cutAtChar(std::string_view text, size_t maxBytes, const CodePage &cp);

// Leading optional sign and decimal digits only, as the system's integer conversion reads a
// count or a size: the value, or `fallback` for any other text or a value out of int's range.
int toIntDef(std::string_view text, int fallback);

// A size in bytes read the same way, as an unsigned 32-bit value: 0 for any other text, a
// negative value or one beyond 32 bits.
uint32_t toSizeDef(std::string_view text);

} // namespace veltrano
