#include "widgets/enhlistmodel.h"

#include <QPainter>
#include <QPixmap>

#include <algorithm>
#include <charconv>
#include <memory>

#include <QIcon>
#include <QLocale>

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "util/datetime.h"
#include "widgets/images.h"

namespace veltrano {
namespace {

bool readDouble(std::string_view text, double &value)
{
    if (text.empty())
        return false;
    if (text.front() == '+')
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// The locale's separators as the default comparison reads them.
struct LocaleMarks
{
    std::string group;
    std::string decimal;
    char dateSeparator = '/';
    char timeSeparator = ':';

    LocaleMarks()
    {
        const QLocale locale = QLocale::system();
        group = locale.groupSeparator().toStdString();
        decimal = locale.decimalPoint().toStdString();
        for (const QChar c : locale.dateFormat(QLocale::ShortFormat)) {
            if (!c.isLetter() && c.unicode() < 0x80) {
                dateSeparator = char(c.unicode());
                break;
            }
        }
        for (const QChar c : locale.timeFormat(QLocale::ShortFormat)) {
            if (!c.isLetter() && c.unicode() < 0x80 && c != u' ') {
                timeSeparator = char(c.unicode());
                break;
            }
        }
    }
};

const LocaleMarks &localeMarks()
{
    static const LocaleMarks marks;
    return marks;
}

// Sort keys of the locale's collation, case-sensitive, made once per row and sort.
class CollationKeys
{
public:
    CollationKeys()
    {
        UErrorCode status = U_ZERO_ERROR;
        m_collator.reset(icu::Collator::createInstance(icu::Locale::getDefault(), status));
        if (U_FAILURE(status))
            m_collator.reset();
    }

    // Compares the sort keys of two rows, making each on first use from textOf(row).
    template <typename TextOf>
    int compare(RowId a, RowId b, const TextOf &textOf)
    {
        const size_t atA = ensure(a, textOf);
        const size_t atB = ensure(b, textOf);
        const int c = keyAt(atA).compare(keyAt(atB));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }

private:
    static constexpr size_t kUnset = size_t(-1);

    template <typename TextOf>
    size_t ensure(RowId id, const TextOf &textOf)
    {
        if (id >= m_offsets.size())
            m_offsets.resize(id + 1, kUnset);
        if (m_offsets[id] == kUnset) {
            m_offsets[id] = m_keys.size();
            append(textOf(id));
        }
        return m_offsets[id];
    }

    std::string_view keyAt(size_t at) const
    {
        const size_t length = size_t(uint8_t(m_keys[at])) | size_t(uint8_t(m_keys[at + 1])) << 8
                            | size_t(uint8_t(m_keys[at + 2])) << 16;
        return std::string_view(m_keys).substr(at + 3, length);
    }

    void append(std::string_view text)
    {
        std::string bytes;
        if (m_collator) {
            const icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
                icu::StringPiece(text.data(), int32_t(text.size())));
            bytes.resize(64);
            int32_t need = m_collator->getSortKey(unicode, reinterpret_cast<uint8_t *>(bytes.data()),
                                                  int32_t(bytes.size()));
            if (need > int32_t(bytes.size())) {
                bytes.resize(size_t(need));
                need = m_collator->getSortKey(unicode, reinterpret_cast<uint8_t *>(bytes.data()),
                                              int32_t(bytes.size()));
            }
            bytes.resize(size_t(std::max(need, 0)));
        } else {
            bytes = std::string(text);
        }
        if (bytes.size() > 0xFFFFFF)
            bytes.resize(0xFFFFFF);
        const size_t n = bytes.size();
        m_keys.push_back(char(n & 0xFF));
        m_keys.push_back(char((n >> 8) & 0xFF));
        m_keys.push_back(char((n >> 16) & 0xFF));
        m_keys += bytes;
    }

    std::unique_ptr<icu::Collator> m_collator;
    std::vector<size_t> m_offsets;
    std::string m_keys;
};

// A per-row cache of one test's outcome. A row's text is looked up only for its first test:
// a sort compares each row some twenty times, and the texts lie all over memory.
class TestCache
{
public:
    using Test = bool (*)(std::string_view, double &);
    explicit TestCache(Test test)
        : m_test(test)
    {
    }

    template <typename TextOf>
    bool get(RowId id, const TextOf &textOf, double &value)
    {
        if (id >= m_state.size()) {
            m_state.resize(id + 1, 0);
            m_values.resize(id + 1, 0);
        }
        if (m_state[id] == 0)
            m_state[id] = m_test(textOf(id), m_values[id]) ? 1 : 2;
        value = m_values[id];
        return m_state[id] == 1;
    }

private:
    Test m_test;
    std::vector<uint8_t> m_state;
    std::vector<double> m_values;
};

int compareDoubles(double a, double b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

bool smartNumber(std::string_view text, double &value)
{
    const size_t blank = text.find(' ');
    if (blank != std::string_view::npos)
        text = text.substr(0, blank);
    if (readDouble(text, value))
        return true;
    const LocaleMarks &marks = localeMarks();
    std::string plain;
    for (size_t i = 0; i < text.size();) {
        if (!marks.group.empty() && text.substr(i).starts_with(marks.group)) {
            i += marks.group.size();
        } else if (!marks.decimal.empty() && text.substr(i).starts_with(marks.decimal)) {
            plain += '.';
            i += marks.decimal.size();
        } else {
            plain += text[i++];
        }
    }
    return readDouble(plain, value);
}

bool smartDateTime(std::string_view text, double &value)
{
    const LocaleMarks &marks = localeMarks();
    // The program writes its own dates with '/', whatever the locale says.
    const auto dateMarks = size_t(std::count(text.begin(), text.end(), marks.dateSeparator))
                         + (marks.dateSeparator != '/' ? size_t(std::count(text.begin(), text.end(), '/'))
                                                       : 0);
    const bool isDate = dateMarks >= 2
                     || (dateMarks == 1 && !text.empty()
                         && (text.back() == marks.dateSeparator || text.back() == '/'));
    const bool isTime = text.find(marks.timeSeparator) != std::string_view::npos;
    if (!isDate && !isTime)
        return false;
    std::optional<double> parsed;
    if (isDate)
        parsed = parseDateTime(text);
    else
        parsed = parseDateTime("1899/12/30 " + std::string(text));
    if (!parsed)
        return false;
    value = *parsed;
    return true;
}

TEnhListModel::TEnhListModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

void TEnhListModel::setColumns(std::vector<Column> columns, int hiddenCells,
                               std::vector<bool> hiddenPooled)
{
    beginResetModel();
    m_columns = std::move(columns);
    std::vector<bool> pooled;
    for (const Column &column : m_columns)
        pooled.push_back(column.pooled);
    hiddenPooled.resize(size_t(std::max(hiddenCells, 0)), false);
    pooled.insert(pooled.end(), hiddenPooled.begin(), hiddenPooled.end());
    m_rows.setLayout(int(pooled.size()), pooled);
    m_order = {};
    m_shown = 0;
    endResetModel();
}

RowId TEnhListModel::stage(int image, std::span<const std::string_view> cells)
{
    const RowId id = m_rows.add(image, cells);
    m_order.push_back(id);
    return id;
}

void TEnhListModel::flush()
{
    if (size_t(m_shown) == m_order.size())
        return;
    beginInsertRows({}, m_shown, int(m_order.size()) - 1);
    m_shown = int(m_order.size());
    endInsertRows();
}

void TEnhListModel::insertRowAt(int row, int image, std::span<const std::string_view> cells)
{
    flush();
    row = std::clamp(row, 0, m_shown);
    beginInsertRows({}, row, row);
    const RowId id = m_rows.add(image, cells);
    m_order.insert(m_order.begin() + row, id);
    ++m_shown;
    endInsertRows();
}

void TEnhListModel::removeRowAt(int row)
{
    if (row < 0 || row >= m_shown)
        return;
    beginRemoveRows({}, row, row);
    m_order.erase(m_order.begin() + row);
    --m_shown;
    endRemoveRows();
}

int TEnhListModel::stateImage(int row) const
{
    const RowId id = idAt(row);
    return id < m_states.size() ? m_states[id] : -1;
}

void TEnhListModel::setStateImage(int row, int state)
{
    const RowId id = idAt(row);
    if (id >= m_states.size())
        m_states.resize(size_t(id) + 1, -1);
    m_states[id] = int8_t(state);
    const QModelIndex at = index(row, 0);
    emit dataChanged(at, at, {Qt::DecorationRole});
}

void TEnhListModel::clear()
{
    beginResetModel();
    m_states = {};
    m_rows.clear();
    m_order = {};
    m_shown = 0;
    endResetModel();
}

size_t TEnhListModel::memoryBytes() const
{
    return m_rows.memoryBytes() + m_order.capacity() * sizeof(RowId);
}

void TEnhListModel::sortRows(int column, bool ascending, const TLVSortItemsEvent &onSortItems,
                             TAutoSortStyle style)
{
    flush();
    if (column < 0 || column >= columnCount())
        return;
    const int factor = ascending ? 1 : -1;
    const int sortColumn = column - 1;
    CollationKeys texts;
    TestCache numbers(&smartNumber);
    TestCache dates(&smartDateTime);

    const auto textOf = [&](RowId id) { return m_rows.text(id, column); };
    auto compareAs = [&](TSortAs as, RowId a, RowId b) {
        double va = 0, vb = 0;
        switch (as) {
        case saNumeric:
            if (!numbers.get(a, textOf, va))
                va = 0;
            if (!numbers.get(b, textOf, vb))
                vb = 0;
            return compareDoubles(va, vb);
        case saDateTime:
            if (!dates.get(a, textOf, va))
                va = 0;
            if (!dates.get(b, textOf, vb))
                vb = 0;
            return compareDoubles(va, vb);
        case saNone:
        case saString:
            break;
        }
        return texts.compare(a, b, textOf);
    };
    auto compare = [&](RowId a, RowId b) -> int {
        if (onSortItems) {
            TSortAs as = saNone;
            int result = 0;
            onSortItems(*this, a, b, sortColumn, as, result);
            return as == saNone ? result : compareAs(as, a, b);
        }
        if (style == assDefault)
            return compareAs(saString, a, b);
        double va = 0, vb = 0;
        if (dates.get(a, textOf, va) && dates.get(b, textOf, vb))
            return compareDoubles(va, vb);
        if (numbers.get(a, textOf, va) && numbers.get(b, textOf, vb))
            return compareDoubles(va, vb);
        return compareAs(saString, a, b);
    };

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<RowId> persistentIds;
    for (const QModelIndex &index : before)
        persistentIds.push_back(idAt(index.row()));

    std::stable_sort(m_order.begin(), m_order.end(), [&](RowId a, RowId b) {
        try {
            return compare(a, b) * factor < 0;
        } catch (...) {
            return false; // a comparison that fails makes the pair equal
        }
    });

    QModelIndexList after;
    std::vector<int> rowOf(m_rows.storedRows(), -1);
    for (int row = 0; row < m_shown; ++row)
        rowOf[m_order[size_t(row)]] = row;
    for (int i = 0; i < before.size(); ++i)
        after.push_back(index(rowOf[persistentIds[size_t(i)]], before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

QModelIndex TEnhListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= m_shown || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex TEnhListModel::parent(const QModelIndex &) const
{
    return {};
}

int TEnhListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

int TEnhListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant TEnhListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    const RowId id = idAt(index.row());
    switch (role) {
    case Qt::DisplayRole: {
        const std::string_view text = m_rows.text(id, index.column());
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    case Qt::DecorationRole:
        if (index.column() != 0 || !m_images)
            return {};
        if (m_stateImages) {
            // The mark (or its empty place) and the row's picture side by side, as one picture
            // of double width, so that the names stay aligned.
            QPixmap both(32, 16);
            both.fill(Qt::transparent);
            QPainter painter(&both);
            if (id < m_states.size() && m_states[id] >= 0)
                painter.drawPixmap(0, 0, m_stateImages->icon(m_states[id]).pixmap(16, 16));
            painter.drawPixmap(16, 0, m_images->icon(m_rows.image(id)).pixmap(16, 16));
            painter.end();
            return QIcon(both);
        }
        return m_images->icon(m_rows.image(id));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_columns[size_t(index.column())].alignment | Qt::AlignVCenter);
    case Qt::AccessibleDescriptionRole:
        if (index.column() == 0 && id < m_states.size() && m_states[id] >= 0
                && size_t(m_states[id]) < m_stateTexts.size())
            return m_stateTexts[size_t(m_states[id])];
        return {};
    default:
        return {};
    }
}

QVariant TEnhListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return m_columns[size_t(section)].caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(m_columns[size_t(section)].alignment | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags TEnhListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren | Qt::ItemIsDragEnabled;
}

} // namespace veltrano
