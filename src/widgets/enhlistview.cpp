#include "widgets/enhlistview.h"

#include <algorithm>

#include <QEvent>
#include <QHeaderView>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QToolTip>

#include "widgets/userstore.h"

namespace veltrano {

// The report view's header: draws the captions itself so that the sort column can carry the
// etched arrow beside its text.
class EnhHeader : public QHeaderView
{
public:
    explicit EnhHeader(TEnhListView *list)
        : QHeaderView(Qt::Horizontal)
        , m_list(list)
    {
        setSectionsClickable(true);
        setSortIndicatorShown(false);
        setHighlightSections(false);
        setStretchLastSection(false);
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setMinimumSectionSize(0);
    }

protected:
    void paintSection(QPainter *painter, const QRect &rect, int section) const override
    {
        if (!rect.isValid())
            return;
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = rect;
        option.section = section;
        const bool pressed = m_pressed == section;
        option.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);

        QRect content = rect.adjusted(2, 2, -2, -2);
        if (pressed)
            content.translate(1, 1);
        const QString caption = model() ? model()->headerData(section, Qt::Horizontal).toString() : QString();
        const auto alignment = Qt::Alignment(
            model() ? model()->headerData(section, Qt::Horizontal, Qt::TextAlignmentRole).toInt()
                    : int(Qt::AlignLeft));
        const bool right = alignment & Qt::AlignRight;
        QRect textRect = content.adjusted(4, 0, -4, 0);
        if (pressed)
            textRect.translate(1, 1);

        const bool arrowHere = m_list->showSortArrows() && m_list->AutoColumnSort != acsNoSort
                            && m_list->sortColumn() == section;
        const QPixmap arrow = m_list->sortAscending() ? m_list->ascendingArrow()
                                                      : m_list->descendingArrow();
        if (arrowHere && !arrow.isNull() && arrow.width() + 8 < textRect.width()) {
            const int reserve = arrow.width() + 8;
            const QFontMetrics metrics(font());
            if (right) {
                textRect.setLeft(textRect.left() + reserve);
            } else {
                textRect.setRight(textRect.right() - reserve);
            }
            const QString shown = metrics.elidedText(caption, Qt::ElideRight, textRect.width());
            const int textWidth = metrics.horizontalAdvance(shown);
            const int y = content.top() + (content.height() - arrow.height()) / 2;
            const int x = right ? textRect.right() - textWidth - 8 - arrow.width()
                                : textRect.left() + textWidth + 8;
            if (x >= content.left() && x + arrow.width() <= content.right())
                painter->drawPixmap(x, y, arrow);
            painter->drawText(textRect, int((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter),
                              shown);
            return;
        }
        const QString shown = QFontMetrics(font()).elidedText(caption, Qt::ElideRight, textRect.width());
        painter->drawText(textRect, int((right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter), shown);
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        m_pressed = logicalIndexAt(event->position().toPoint());
        QHeaderView::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        m_pressed = -1;
        QHeaderView::mouseReleaseEvent(event);
        viewport()->update();
    }

private:
    TEnhListView *m_list;
    int m_pressed = -1;
};

// Draws a report's cells without the focus of the current cell: the report shows it around
// the whole row.
class RowFocusDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
    }
};

// The report view. A table, not a tree: a tree lays out every row again after rows come in,
// which with half a million hits holds the window for tens of milliseconds a batch, while a
// table's rows are only the sections of its hidden row header. It moves as a list moves:
// Home and End go to the first and last rows, Left and Right scroll, Tab leaves it, and
// bringing a row into sight never scrolls sideways.
class EnhReport : public QTableView
{
public:
    explicit EnhReport(QWidget *parent)
        : QTableView(parent)
    {
        setItemDelegate(new RowFocusDelegate(this));
        setShowGrid(false);
        setWordWrap(false);
        setCornerButtonEnabled(false);
        setTabKeyNavigation(false);
        setSelectionBehavior(QAbstractItemView::SelectRows);
        setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        verticalHeader()->hide();
        verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        verticalHeader()->setMinimumSectionSize(1);
    }

    // Every row takes the height of the first, as the rows of a list all have one height.
    void fitRowHeight()
    {
        if (!model() || model()->rowCount() == 0)
            return;
        const int height = sizeHintForRow(0);
        if (height > 0 && height != verticalHeader()->defaultSectionSize())
            verticalHeader()->setDefaultSectionSize(height);
    }

    // Bringing a row into sight scrolls up or down only, wherever the current cell is.
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override
    {
        const int across = horizontalScrollBar()->value();
        QTableView::scrollTo(index, hint);
        horizontalScrollBar()->setValue(across);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QTableView::paintEvent(event);
        const QModelIndex current = currentIndex();
        if (!hasFocus() || !current.isValid())
            return;
        const int top = rowViewportPosition(current.row());
        const int width = std::min(horizontalHeader()->length() - horizontalOffset(),
                                   viewport()->width());
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = QRect(0, top, width, rowHeight(current.row()));
        focus.backgroundColor = palette().color(
                selectionModel()->isSelected(current) ? QPalette::Highlight : QPalette::Base);
        QPainter painter(viewport());
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }

    void changeEvent(QEvent *event) override
    {
        QTableView::changeEvent(event);
        if (event->type() == QEvent::FontChange)
            fitRowHeight();
    }

    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        const QModelIndex current = currentIndex();
        switch (action) {
        case MoveHome:
        case MoveEnd: {
            const int rows = model() ? model()->rowCount() : 0;
            if (rows == 0)
                return {};
            return model()->index(action == MoveHome ? 0 : rows - 1, std::max(current.column(), 0));
        }
        case MoveLeft:
        case MoveRight: {
            QScrollBar *bar = horizontalScrollBar();
            bar->setValue(bar->value() + (action == MoveLeft ? -1 : 1) * bar->singleStep());
            return current.isValid() ? current : QTableView::moveCursor(MoveHome, Qt::ControlModifier);
        }
        default:
            return QTableView::moveCursor(action, modifiers);
        }
    }
};

TEnhListView::TEnhListView(QWidget *parent)
    : QWidget(parent)
    , m_model(new TEnhListModel(this))
    , m_stack(new QStackedLayout(this))
    , m_report(new EnhReport(this))
    , m_list(new QListView(this))
    , m_header(new EnhHeader(this))
{
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_report->setHorizontalHeader(m_header);
    // Taking a header switches its clicks off again (the view sorts by itself only when told
    // to); the clicks are ours.
    m_header->setSectionsClickable(true);
    m_header->setSortIndicatorShown(false);
    m_report->setModel(m_model);
    m_report->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_report->setTextElideMode(Qt::ElideRight);
    m_report->setIconSize(QSize(16, 16));

    m_list->setModel(m_model);
    m_list->setSelectionModel(m_report->selectionModel());
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setUniformItemSizes(true);
    m_list->setLayoutMode(QListView::Batched);
    m_list->setBatchSize(2000);
    m_list->setResizeMode(QListView::Adjust);
    m_list->setIconSize(QSize(16, 16));

    m_stack->addWidget(m_report);
    m_stack->addWidget(m_list);
    setMultiSelect(true);
    setFocusProxy(m_report);

    m_report->viewport()->installEventFilter(this);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex &, int first) {
        if (first == 0)
            m_report->fitRowHeight();
    });
    connect(m_model, &QAbstractItemModel::modelReset, m_report, [this] { m_report->fitRowHeight(); });
    connect(m_header, &QHeaderView::sectionClicked, this, &TEnhListView::ColClick);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_report),
                                    static_cast<QAbstractItemView *>(m_list)}) {
        connect(view, &QAbstractItemView::activated, this,
                [this](const QModelIndex &index) { emit rowActivated(index.row()); });
    }
}

TEnhListView::~TEnhListView()
{
    try {
        StoreSettings();
    } catch (...) {
        // The store cannot be written; the layout is lost, as a failed registry write loses it.
    }
}

void TEnhListView::setColumns(std::vector<TEnhListModel::Column> columns, int hiddenCells,
                              std::vector<bool> hiddenPooled)
{
    const auto shown = columns;
    m_model->setColumns(std::move(columns), hiddenCells, std::move(hiddenPooled));
    for (size_t i = 0; i < shown.size(); ++i)
        m_report->setColumnWidth(int(i), shown[i].width);
}

void TEnhListView::setImages(const TImageList *images)
{
    m_model->setImages(images);
}

void TEnhListView::setShowSortArrows(bool show)
{
    m_showSortArrows = show;
    if (show)
        buildArrows();
    m_header->viewport()->update();
}

void TEnhListView::setReverseSortArrows(bool reverse)
{
    m_reverseSortArrows = reverse;
    buildArrows();
    m_header->viewport()->update();
}

void TEnhListView::setNoColumnResize(bool locked)
{
    m_header->setSectionResizeMode(locked ? QHeaderView::Fixed : QHeaderView::Interactive);
}

void TEnhListView::setMultiSelect(bool multi)
{
    const auto mode = multi ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    m_report->setSelectionMode(mode);
    m_list->setSelectionMode(mode);
}

void TEnhListView::setViewStyle(int style)
{
    if (style < 0 || style > 3)
        return;
    m_viewStyle = style;
    if (style == 3) {
        m_stack->setCurrentWidget(m_report);
        setFocusProxy(m_report);
        return;
    }
    m_list->setViewMode(style == 0 ? QListView::IconMode : QListView::ListMode);
    m_list->setFlow(style == 2 ? QListView::TopToBottom : QListView::LeftToRight);
    m_list->setWrapping(true);
    m_list->setIconSize(style == 0 ? QSize(32, 32) : QSize(16, 16));
    m_stack->setCurrentWidget(m_list);
    setFocusProxy(m_list);
}

QAbstractItemView *TEnhListView::activeView() const
{
    return m_viewStyle == 3 ? static_cast<QAbstractItemView *>(m_report) : m_list;
}

QTableView *TEnhListView::reportView() const
{
    return m_report;
}

QHeaderView *TEnhListView::header() const
{
    return m_header;
}

int TEnhListView::columnWidth(int column) const
{
    return m_report->columnWidth(column);
}

void TEnhListView::setColumnWidth(int column, int width)
{
    m_report->setColumnWidth(column, width);
}

void TEnhListView::ColClick(int column)
{
    if (AutoColumnSort == acsSortToggle) {
        if (column == m_lastColumnClicked)
            m_currentSortAscending = !m_currentSortAscending;
        else
            m_currentSortAscending = AutoSortAscending;
    }
    emit columnClicked(column);
    if (AutoColumnSort != acsNoSort && column >= 0 && column < m_model->columnCount())
        doSort(column, m_currentSortAscending);
    m_lastColumnClicked = column;
    m_header->viewport()->update();
}

void TEnhListView::doSort(int column, bool ascending)
{
    m_resortPending = false;
    m_lastColumnClicked = column;
    emit sortBegin(column, ascending);
    m_model->sortRows(column, ascending, OnSortItems, AutoSortStyle);
    emit sortFinished(column, ascending);
}

void TEnhListView::Resort()
{
    m_resortPending = true;
    const bool nothingToSortBy = AutoColumnSort == acsNoSort || m_lastColumnClicked < 0
                              || m_lastColumnClicked >= m_model->columnCount();
    if (nothingToSortBy && !OnSortItems)
        return;
    if (m_updateCount > 0)
        return;
    if (m_lastColumnClicked < 0 || m_lastColumnClicked >= m_model->columnCount())
        return; // a handler alone gives no column to sort by
    doSort(m_lastColumnClicked, m_currentSortAscending);
}

void TEnhListView::BeginUpdate()
{
    ++m_updateCount;
    activeView()->setUpdatesEnabled(false);
}

void TEnhListView::EndUpdate()
{
    m_updateCount = std::max(0, m_updateCount - 1);
    if (m_updateCount == 0) {
        activeView()->setUpdatesEnabled(true);
        if (m_resortPending)
            Resort();
    }
}

void TEnhListView::Loaded()
{
    m_updateCount = 0;
    LoadSettings();
    if (!m_settingsLoaded || !SaveSettings.SaveCurrentSort) {
        if (m_model->columnCount() > 0)
            m_lastColumnClicked = 0;
        Resort();
    }
    m_header->viewport()->update();
}

void TEnhListView::LoadSettings()
{
    if (!SaveSettings.AutoSave)
        return;
    m_settingsLoaded = true;
    const auto store = openUserStore(SaveSettings.RegistryKey);
    const int columns = m_model->columnCount();
    if (SaveSettings.SaveColumnSizes) {
        const QString sizes = store->value(QStringLiteral("Columns/Sizes")).toString();
        if (!sizes.isEmpty()) {
            const QStringList parts = sizes.split(u',');
            for (int i = 0; i < parts.size() && i < columns; ++i) {
                bool ok = false;
                const int width = parts[i].trimmed().toInt(&ok);
                if (ok)
                    setColumnWidth(i, width);
            }
        }
    }
    if (SaveSettings.SaveCurrentSort) {
        const bool ascending = store->value(QStringLiteral("Sort/Ascending"), true).toBool();
        const int column = std::clamp(store->value(QStringLiteral("Sort/SortCol"), 0).toInt(), 0,
                                      std::max(columns - 1, 0));
        BeginUpdate();
        m_currentSortAscending = ascending;
        m_lastColumnClicked = column;
        Resort();
        EndUpdate();
    }
    if (SaveSettings.SaveViewStyle) {
        bool ok = false;
        const int style = store->value(QStringLiteral("ViewStyle/ViewStyle"), -1).toInt(&ok);
        if (ok && style >= 0 && style <= 3)
            setViewStyle(style);
    }
}

void TEnhListView::StoreSettings()
{
    if (!SaveSettings.AutoSave || m_model->columnCount() == 0)
        return;
    const auto store = openUserStore(SaveSettings.RegistryKey);
    if (SaveSettings.SaveColumnSizes) {
        QStringList widths;
        for (int i = 0; i < m_model->columnCount(); ++i)
            widths << QString::number(columnWidth(i));
        store->setValue(QStringLiteral("Columns/Sizes"), widths.join(u','));
    }
    if (SaveSettings.SaveCurrentSort) {
        store->setValue(QStringLiteral("Sort/Ascending"), m_currentSortAscending);
        store->setValue(QStringLiteral("Sort/SortCol"), m_lastColumnClicked);
    }
    if (SaveSettings.SaveViewStyle)
        store->setValue(QStringLiteral("ViewStyle/ViewStyle"), m_viewStyle);
    store->sync();
}

int TEnhListView::currentRow() const
{
    const QModelIndex index = m_report->selectionModel()->currentIndex();
    return index.isValid() ? index.row() : -1;
}

std::vector<int> TEnhListView::selectedRows() const
{
    // The list views select the first column only, so a selected row is one with any cell
    // selected, not one with all of them.
    std::vector<int> rows;
    for (const QModelIndex &index : m_report->selectionModel()->selectedIndexes())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TEnhListView::selectRow(int row)
{
    const QModelIndex index = m_model->index(row, 0);
    m_report->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TEnhListView::arrowSide() const
{
    const int h = QFontMetrics(font()).boundingRect(QStringLiteral("Wy")).height();
    // An odd side gives the triangle a middle column for its tip.
    return std::max(h % 2 == 0 ? h - 5 : h - 6, 3);
}

QPixmap TEnhListView::ascendingArrow() const
{
    return m_reverseSortArrows ? m_downArrow : m_upArrow;
}

QPixmap TEnhListView::descendingArrow() const
{
    return m_reverseSortArrows ? m_upArrow : m_downArrow;
}

void TEnhListView::buildArrows()
{
    const int side = arrowSide();
    const QPalette pal = palette();
    auto picture = [&](bool up) {
        QPixmap pixmap(side, side);
        pixmap.fill(pal.color(QPalette::Button));
        QPainter p(&pixmap);
        const int last = side - 1;
        const int mid = last / 2;
        if (up) {
            p.setPen(pal.color(QPalette::Light));
            p.drawLine(mid, 0, 0, last); // left edge
            p.setPen(pal.color(QPalette::Dark));
            p.drawLine(mid, 0, last, last); // right edge
            p.drawLine(0, last, last, last); // bottom
        } else {
            p.setPen(pal.color(QPalette::Light));
            p.drawLine(0, 0, last, 0); // top
            p.drawLine(0, 0, mid, last); // left edge
            p.setPen(pal.color(QPalette::Dark));
            p.drawLine(last, 0, mid, last); // right edge
        }
        return pixmap;
    };
    m_upArrow = picture(true);
    m_downArrow = picture(false);
}

void TEnhListView::setShowClippedTips(bool show)
{
    m_showClippedTips = show;
}

bool TEnhListView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip || watched != m_report->viewport() || !m_showClippedTips)
        return QWidget::eventFilter(watched, event);
    const QPoint pos = static_cast<QHelpEvent *>(event)->pos();
    const QModelIndex index = m_report->indexAt(pos);
    const QString text = index.isValid() ? index.data().toString() : QString();
    const QRect cell = m_report->visualRect(index);
    // Only a cell whose text does not fit tells it again; a whole text needs no tip.
    int room = cell.width() - 8;
    if (index.data(Qt::DecorationRole).isValid())
        room -= m_report->iconSize().width() + 4;
    if (!text.isEmpty() && QFontMetrics(m_report->font()).horizontalAdvance(text) > room)
        QToolTip::showText(
                static_cast<QHelpEvent *>(event)->globalPos(), text, m_report->viewport(), cell);
    else
        QToolTip::hideText();
    return true;
}

void TEnhListView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange && m_showSortArrows)
        buildArrows();
    QWidget::changeEvent(event);
}

} // namespace veltrano
