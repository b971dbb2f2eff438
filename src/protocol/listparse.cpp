#include "protocol/listparse.h"

#include <fstream>
#include <iterator>
#include <string>

#include "util/datetime.h"
#include "util/error.h"
#include "util/strtokens.h"

namespace veltrano {
namespace {

constexpr size_t kMaxListName = 255;

bool isBlank(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) > ' ')
            return false;
    return true;
}

int monthOf(std::string_view field, const CodePage &cp)
{
    static constexpr std::string_view kMonths[] = {
            "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (cp.equalsNoCase(field, kMonths[i]))
            return i + 1;
    return 1;
}

} // namespace

std::optional<TItemData> ParseListLine(std::string_view line, const CodePage &cp)
{
    TokenList fields;
    try {
        ParseTokens(line, kListLineTemplate, fields, cp);
    } catch (const Error &) {
        return std::nullopt;
    }
    if (fields.size() <= 8)
        return std::nullopt;
    // The entry keeps its name only up to a NUL, so that is the name to judge: "..\0x" must
    // not come through as a "..", nor "\0x" as a row without a name.
    std::string_view name = fields[8];
    name = name.substr(0, name.find('\0'));
    if (name == "." || name == ".." || isBlank(name))
        return std::nullopt;

    const std::optional<double> date =
            encodeDate(toIntDef(fields[7], 2000), monthOf(fields[5], cp), toIntDef(fields[6], 1));
    if (!date)
        return std::nullopt;

    TItemData item;
    item.setName(cutAtChar(name, kMaxListName, cp));
    if (!fields[0].empty() && fields[0][0] == 'd') {
        item.Attr = kAttrDirectory;
    } else {
        item.Size = toSizeDef(fields[4]);
    }
    item.Time = *date;
    return item;
}

Listing parseListingText(std::string_view text, const CodePage &cp)
{
    Listing listing;
    size_t p = 0;
    while (p < text.size()) {
        size_t end = text.find_first_of("\r\n", p);
        if (end == std::string_view::npos)
            end = text.size();
        if (const std::optional<TItemData> item = ParseListLine(text.substr(p, end - p), cp)) {
            listing.entries.push_back(*item);
            ++(item->isDirectory() ? listing.folders : listing.files);
        }
        p = end;
        if (p < text.size() && text[p] == '\r')
            ++p;
        if (p < text.size() && text[p] == '\n')
            ++p;
    }
    return listing;
}

Listing parseListingFile(const std::filesystem::path &file, const CodePage &cp)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return {};
    return parseListingText(text, cp);
}

} // namespace veltrano
