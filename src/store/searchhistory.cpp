#include "store/searchhistory.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "util/filebytes.h"
#include "store/inifile.h"
#include "util/datetime.h"

namespace veltrano {

namespace {

constexpr const char *kKeyVersion = "VER";
constexpr const char *kKeyDateTime = "DATETIME";
constexpr const char *kKeyCond1 = "COND1";
constexpr const char *kKeyCond2 = "COND2";
constexpr const char *kKeyCond3 = "COND3";
constexpr const char *kKeyCommand = "COMMAND";

// The separator that ends each of the first ten elements of a COMMAND.
constexpr std::array<char, 10> kCommandSeparators = {',', ',', ';', ',', ',', ',', ';', ',', ',', ','};

std::string joinRow(const ConditionTexts &row, bool withLogic)
{
    return (withLogic ? row.logic : std::string()) + row.field + row.op + row.text;
}

void moveToTop(std::vector<std::string> &texts, const std::string &text, const CodePage &codePage)
{
    for (auto it = texts.begin(); it != texts.end(); ++it) {
        if (codePage.equalsNoCase(*it, text)) {
            texts.erase(it);
            break;
        }
    }
    texts.insert(texts.begin(), text);
    if (texts.size() > kMaxRecentTexts)
        texts.resize(kMaxRecentTexts);
}

// The item of `words` equal to `element`, letter case aside.
std::optional<int> findWord(std::string_view element,
                            const std::array<std::string_view, 4> &words,
                            const CodePage &codePage)
{
    for (size_t i = 0; i < words.size(); ++i) {
        if (codePage.equalsNoCase(element, codePage.fromUtf8Lossy(words[i])))
            return int(i);
    }
    return std::nullopt;
}

} // namespace

std::string recentTextsFileName(size_t row)
{
    return "TEXT" + std::to_string(row + 1) + ".HIS";
}

std::string buildCommand(const ConditionRowTexts &rows)
{
    const std::array<const std::string *, 11> parts = {
        &rows[0].field, &rows[0].op,    &rows[0].text, &rows[1].logic,
        &rows[1].field, &rows[1].op,    &rows[1].text, &rows[2].logic,
        &rows[2].field, &rows[2].op,    &rows[2].text,
    };
    std::string command;
    for (size_t i = 0; i < parts.size(); ++i) {
        command += *parts[i];
        if (i < kCommandSeparators.size())
            command += kCommandSeparators[i];
    }
    return command;
}

std::array<std::string, 11> splitCommand(std::string_view command, const CodePage &codePage)
{
    std::array<std::string, 11> elements;
    for (size_t i = 0; i < kCommandSeparators.size() && !command.empty(); ++i) {
        const size_t end = codePage.findChar(command, kCommandSeparators[i]);
        elements[i] = command.substr(0, end);
        command = end == std::string_view::npos ? std::string_view() : command.substr(end + 1);
    }
    elements[10] = command;
    return elements;
}

HistoryEntry makeHistoryEntry(const ConditionRowTexts &rows, std::string dateTime,
                              const CodePage &codePage)
{
    const std::string none = codePage.fromUtf8Lossy(kLogicTexts[0]);
    HistoryEntry entry;
    entry.DateTime = std::move(dateTime);
    entry.Cond1 = joinRow(rows[0], false);
    entry.Cond2 = rows[1].logic != none ? joinRow(rows[1], true) : std::string();
    entry.Cond3 = rows[2].logic != none ? joinRow(rows[2], true) : std::string();
    entry.Command = buildCommand(rows);
    return entry;
}

std::string historyDateTime(double localTime)
{
    std::string text = formatDateTime(localTime);
    const DateTimeParts parts = decodeDateTime(localTime);
    if (parts.hour == 0 && parts.minute == 0 && parts.second == 0 && parts.millisecond == 0)
        text = text.substr(0, text.find(' '));
    return text;
}

double currentLocalDateTime()
{
    using namespace std::chrono;
    const system_clock::time_point now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local {};
    ::localtime_r(&seconds, &local);
    const int millisecond =
        int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    const double date = encodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday).value_or(0);
    // A leap second (tm_sec 60) is folded into the last second of its minute.
    const double time = encodeTime(local.tm_hour, local.tm_min, std::min(local.tm_sec, 59),
                                   std::max(millisecond, 0)).value_or(0);
    return date + time;
}

void recordSearch(SearchHistory &history, const ConditionRowTexts &rows, std::string dateTime,
                  const CodePage &codePage)
{
    for (size_t row = 0; row < kConditionRows; ++row) {
        if (row == 0 || !rows[row].text.empty())
            moveToTop(history.recentTexts[row], rows[row].text, codePage);
    }

    HistoryEntry entry = makeHistoryEntry(rows, std::move(dateTime), codePage);
    std::vector<HistoryEntry> &entries = history.entries;
    size_t equal = entries.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].Command == entry.Command) {
            equal = i;
            break;
        }
    }
    // Room for the new entry is made first; an equal entry that survived the cut goes too,
    // so a full list with an equal entry ends one shorter.
    if (entries.size() >= kMaxHistoryEntries)
        entries.resize(kMaxHistoryEntries - 1);
    if (equal < entries.size())
        entries.erase(entries.begin() + std::ptrdiff_t(equal));
    entries.insert(entries.begin(), std::move(entry));
}

RecalledRows recallCommand(std::string_view command, const CodePage &codePage)
{
    const std::array<std::string, 11> e = splitCommand(command, codePage);
    RecalledRows rows;
    rows[0].field = findWord(e[0], kFieldTexts, codePage);
    rows[0].op = findWord(e[1], kOperatorTexts, codePage);
    rows[0].text = e[2];
    for (size_t row = 1; row < kConditionRows; ++row) {
        const size_t first = 3 + (row - 1) * 4;
        rows[row].logic = findWord(e[first], kLogicTexts, codePage);
        rows[row].field = findWord(e[first + 1], kFieldTexts, codePage);
        rows[row].op = findWord(e[first + 2], kOperatorTexts, codePage);
        rows[row].text = e[first + 3];
    }
    return rows;
}

std::optional<RecalledRows> recallEntry(const SearchHistory &history, int selected,
                                        const CodePage &codePage)
{
    if (selected < 0 || size_t(selected) >= history.entries.size())
        return std::nullopt;
    return recallCommand(history.entries[size_t(selected)].Command, codePage);
}

void deleteEntry(SearchHistory &history, int selected)
{
    if (selected >= 0 && size_t(selected) < history.entries.size())
        history.entries.erase(history.entries.begin() + selected);
}

SearchHistory historyToUtf8(const SearchHistory &history, const CodePage &codePage)
{
    SearchHistory utf8;
    for (size_t row = 0; row < kConditionRows; ++row) {
        for (const std::string &text : history.recentTexts[row])
            utf8.recentTexts[row].push_back(codePage.toUtf8(text));
    }
    for (const HistoryEntry &entry : history.entries) {
        utf8.entries.push_back({codePage.toUtf8(entry.DateTime), codePage.toUtf8(entry.Cond1),
                codePage.toUtf8(entry.Cond2), codePage.toUtf8(entry.Cond3),
                codePage.toUtf8(entry.Command)});
    }
    return utf8;
}

SearchHistory historyFromUtf8(const SearchHistory &history, const CodePage &codePage)
{
    SearchHistory bytes;
    for (size_t row = 0; row < kConditionRows; ++row) {
        for (const std::string &text : history.recentTexts[row]) {
            if (std::optional<std::string> held = codePage.fromUtf8(text))
                bytes.recentTexts[row].push_back(std::move(*held));
        }
    }
    for (const HistoryEntry &entry : history.entries) {
        std::optional<std::string> texts[] = {
                codePage.fromUtf8(entry.DateTime),
                codePage.fromUtf8(entry.Cond1),
                codePage.fromUtf8(entry.Cond2),
                codePage.fromUtf8(entry.Cond3),
                codePage.fromUtf8(entry.Command),
        };
        if (std::all_of(std::begin(texts), std::end(texts), [](const auto &t) {
                return t.has_value();
            }))
            bytes.entries.push_back({*texts[0], *texts[1], *texts[2], *texts[3], *texts[4]});
    }
    return bytes;
}

std::string recentTextsToBytes(const std::vector<std::string> &texts)
{
    std::string bytes;
    for (const std::string &text : texts) {
        bytes += text;
        bytes += "\r\n";
    }
    return bytes;
}

std::vector<std::string> recentTextsFromBytes(std::string_view bytes)
{
    std::vector<std::string> texts;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        texts.emplace_back(bytes.substr(pos, end - pos));
        pos = end + 1;
        if (end < bytes.size() && bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }
    return texts;
}

void loadRecentTexts(SearchHistory &history, const std::filesystem::path &folder)
{
    for (size_t row = 0; row < kConditionRows; ++row) {
        const std::optional<std::string> bytes = readFileBytes(folder / recentTextsFileName(row));
        if (bytes)
            history.recentTexts[row] = recentTextsFromBytes(*bytes);
    }
}

void saveRecentTexts(const SearchHistory &history, const std::filesystem::path &folder)
{
    for (size_t row = 0; row < kConditionRows; ++row)
        writeFileAtomically(folder / recentTextsFileName(row),
                            recentTextsToBytes(history.recentTexts[row]));
}

std::string searchHistoryToBytes(const std::vector<HistoryEntry> &entries,
                                 const CodePage &codePage)
{
    IniFile ini(codePage);
    for (const HistoryEntry &entry : entries) {
        ini.setValue(entry.DateTime, kKeyVersion, std::to_string(kHistoryVersion));
        ini.setValue(entry.DateTime, kKeyDateTime, entry.DateTime);
        ini.setValue(entry.DateTime, kKeyCond1, entry.Cond1);
        ini.setValue(entry.DateTime, kKeyCond2, entry.Cond2);
        ini.setValue(entry.DateTime, kKeyCond3, entry.Cond3);
        ini.setValue(entry.DateTime, kKeyCommand, entry.Command);
    }
    return ini.toBytes();
}

std::vector<HistoryEntry> searchHistoryFromBytes(std::string_view bytes,
                                                 const CodePage &codePage)
{
    const IniFile ini = IniFile::fromBytes(bytes, codePage);
    std::vector<HistoryEntry> entries;
    for (const IniFile::Section &section : ini.sections()) {
        if (ini.readInteger(section.name, kKeyVersion, 0) != kHistoryVersion)
            continue;
        entries.push_back(HistoryEntry {
            ini.readString(section.name, kKeyDateTime),
            ini.readString(section.name, kKeyCond1),
            ini.readString(section.name, kKeyCond2),
            ini.readString(section.name, kKeyCond3),
            ini.readString(section.name, kKeyCommand),
        });
    }
    return entries;
}

void loadSearchHistory(SearchHistory &history, const std::filesystem::path &folder,
                       const CodePage &codePage)
{
    history.entries.clear();
    const std::optional<std::string> bytes = readFileBytes(folder / kSearchHistoryName);
    if (bytes)
        history.entries = searchHistoryFromBytes(*bytes, codePage);
}

void saveSearchHistory(const SearchHistory &history, const std::filesystem::path &folder,
                       const CodePage &codePage)
{
    const std::filesystem::path path = folder / kSearchHistoryName;
    if (history.entries.empty())
        removeFileIfExists(path);
    else
        writeFileAtomically(path, searchHistoryToBytes(history.entries, codePage));
}

} // namespace veltrano
