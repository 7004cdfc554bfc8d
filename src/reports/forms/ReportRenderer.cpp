// The page layout of a results report, its painting on pages, PDF and printing, and the view.
#include "reports/forms/ReportRenderer.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPaintEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace peltra::reports {

namespace {

// Header band objects, in report units from the band's top.
constexpr double kLineY = 4;
constexpr double kLineHeight = 14;
constexpr double kTitleY = 19;
constexpr double kTitleHeight = 20;
constexpr double kInfoY = 44;
constexpr double kInfoHeight = 32;
constexpr double kColumnTitleY = 88;
constexpr double kColumnTitleHeight = 16;
constexpr double kDateWidth = 64;
constexpr double kPageWidth = 100;
// Footer and summary objects.
constexpr double kCountY = 2;
constexpr double kCountWidth = 150;
constexpr double kTotalsY = 21;
constexpr double kTotalsHeight = 16;
// Detail cells.
constexpr double kCellY = 1;
constexpr double kCellHeight = 19;
// Room between a cell's border and its text, and between columns.
constexpr double kCellPadding = 3;
constexpr double kColumnGap = 1;
// The report's font: a sans face of 8 pt (11 report units).
constexpr int kFontPixels = 11;

const QColor kTitleFillTable(0xd4, 0xd0, 0xc8);
const QColor kLightEdge(0xff, 0xff, 0xff);
const QColor kDarkEdge(0x80, 0x80, 0x80);
const QColor kGridTable(0xa0, 0xa0, 0xa0);
const QColor kGridArchive(0x40, 0x40, 0x40);

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool isNumeric(ColumnKind kind) { return kind == ColumnKind::Decimal || kind == ColumnKind::Logical; }

QFont reportFont(bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(kFontPixels);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// A4 portrait in report units.
QSizeF a4Units()
{
    const QSizeF points = QPageSize(QPageSize::A4).size(QPageSize::Point);
    return points * (ReportRenderer::kUnitsPerInch / 72.0);
}

QPageLayout reportPageLayout()
{
    const double margin = ReportRenderer::kMargin / ReportRenderer::kUnitsPerInch;
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(margin, margin, margin, margin),
                       QPageLayout::Inch);
}

}  // namespace

ReportRenderer::ReportRenderer(const ReportData& data)
    : m_data(data), m_area(defaultPageArea()), m_font(reportFont(false)), m_bold(reportFont(true))
{
    relayout();
}

QSizeF ReportRenderer::defaultPageArea()
{
    return a4Units() - QSizeF(2 * kMargin, 2 * kMargin);
}

QSizeF ReportRenderer::pageAreaOf(const QPagedPaintDevice& device)
{
    return device.pageLayout().paintRect(QPageLayout::Inch).size() * kUnitsPerInch;
}

void ReportRenderer::setPageArea(QSizeF units)
{
    m_area = units;
    relayout();
}

double ReportRenderer::detailHeight() const
{
    return m_data.variant == ReportVariant::BindingTable ? kDetailHeightTable : kDetailHeightArchive;
}

bool ReportRenderer::anyTotalVisible() const
{
    for (std::size_t c = 0; c < m_data.columns.size(); ++c)
        if (c < m_data.totalVisible.size() && m_data.totalVisible[c])
            return true;
    return false;
}

double ReportRenderer::footerHeight() const
{
    if (!footerOnEveryPage())
        return 0;
    return anyTotalVisible() ? kFooterHeightWithTotals : kFooterHeight;
}

double ReportRenderer::reportWidth() const
{
    return m_x.empty() ? 0 : m_x.back() + m_width.back();
}

void ReportRenderer::relayout()
{
    // Column widths: room for the widest value the field can take and for the title. Digits
    // and dates measure by the digit width; text by the average letter, a little widened for
    // Cyrillic capitals.
    const QFontMetricsF metrics(m_font);
    const double digit = metrics.horizontalAdvance(QLatin1Char('0'));
    const double letter = std::max(digit, metrics.averageCharWidth() * 1.1);
    m_x.clear();
    m_width.clear();
    double x = 0;
    for (const ReportColumn& column : m_data.columns) {
        const double perChar = column.kind == ColumnKind::Char ? letter : digit;
        const double value = std::max(column.displayWidth, 1) * perChar;
        const double title = metrics.horizontalAdvance(qs(column.title));
        const double width = std::ceil(std::max(value, title) + 2 * kCellPadding);
        m_x.push_back(x);
        m_width.push_back(width);
        x += width + kColumnGap;
    }

    // Columns wider than the page shrink the whole report rather than being cut off.
    const double wanted = std::max(reportWidth(), 1.0);
    m_fit = m_area.width() > 0 && wanted > m_area.width() ? m_area.width() / wanted : 1.0;

    const double height = m_area.height() / m_fit;
    const std::size_t rows = m_data.rows.rowCount();
    const double body = height - kHeaderHeight - footerHeight();
    m_rowsPerPage = std::max(1, static_cast<int>(std::floor(body / detailHeight())));
    const std::size_t perPage = static_cast<std::size_t>(m_rowsPerPage);
    std::size_t pages = std::max<std::size_t>(1, (rows + perPage - 1) / perPage);
    if (!footerOnEveryPage()) {
        // The summary follows the last row; when it does not fit under it, it takes a page of
        // its own (under the header, as every page has).
        const std::size_t last = rows - (pages - 1) * perPage;
        if (kHeaderHeight + static_cast<double>(last) * detailHeight() + kSummaryHeight > height)
            ++pages;
    }
    m_pageCount = static_cast<int>(std::min<std::size_t>(pages, static_cast<std::size_t>(INT32_MAX)));
}

std::size_t ReportRenderer::firstRow(int page) const
{
    const std::size_t first = static_cast<std::size_t>(std::max(page, 0)) * static_cast<std::size_t>(m_rowsPerPage);
    return std::min(first, m_data.rows.rowCount());
}

std::size_t ReportRenderer::rowsOn(int page) const
{
    const std::size_t first = firstRow(page);
    return std::min(m_data.rows.rowCount() - first, static_cast<std::size_t>(m_rowsPerPage));
}

QString ReportRenderer::pageLine(int page) const { return qs(pageText(page + 1, m_pageCount)); }

void ReportRenderer::paint(QPainter& painter, int page, double unitsToDevice) const
{
    if (page < 0 || page >= m_pageCount)
        return;
    painter.save();
    painter.scale(unitsToDevice * m_fit, unitsToDevice * m_fit);
    painter.setRenderHint(QPainter::Antialiasing, false);
    paintHeader(painter, page);
    paintRows(painter, page, kHeaderHeight);
    const double height = m_area.height() / m_fit;
    if (footerOnEveryPage()) {
        paintTotals(painter, height - footerHeight());
    } else if (page == m_pageCount - 1) {
        paintTotals(painter, kHeaderHeight + static_cast<double>(rowsOn(page)) * detailHeight());
    }
    painter.restore();
}

void ReportRenderer::paintHeader(QPainter& painter, int page) const
{
    const double width = std::max(m_area.width() / m_fit, reportWidth());
    painter.setPen(Qt::black);
    painter.setFont(m_bold);
    painter.drawText(QRectF(0, kLineY, width - kPageWidth - kDateWidth, kLineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     qs(m_data.taskTitle));
    painter.setFont(m_font);
    painter.drawText(QRectF(width - kPageWidth - kDateWidth - 8, kLineY, kDateWidth, kLineHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, qs(m_data.today));
    painter.drawText(QRectF(width - kPageWidth, kLineY, kPageWidth, kLineHeight), Qt::AlignRight | Qt::AlignVCenter,
                     pageLine(page));

    QFont title = m_bold;
    title.setPixelSize(kFontPixels + 2);
    painter.setFont(title);
    const QRectF titleRect(0, kTitleY, width, kTitleHeight);
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(title).elidedText(qs(m_data.title), Qt::ElideRight, titleRect.width()));
    painter.setFont(m_font);
    painter.drawText(QRectF(0, kInfoY, width, kInfoHeight), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     qs(m_data.info));

    const bool table = m_data.variant == ReportVariant::BindingTable;
    for (std::size_t c = 0; c < m_data.columns.size(); ++c) {
        const QRectF cell(m_x[c], kColumnTitleY, m_width[c], kColumnTitleHeight);
        if (table) {
            // A raised button-face cell.
            painter.fillRect(cell, kTitleFillTable);
            painter.setPen(QPen(kLightEdge, 1));
            painter.drawLine(cell.topLeft(), cell.topRight());
            painter.drawLine(cell.topLeft(), cell.bottomLeft());
            painter.setPen(QPen(kDarkEdge, 1));
            painter.drawLine(cell.bottomLeft(), cell.bottomRight());
            painter.drawLine(cell.topRight(), cell.bottomRight());
        } else {
            painter.fillRect(cell, Qt::white);
            painter.setPen(QPen(kGridArchive, 1));
            painter.drawRect(cell);
        }
        painter.setPen(Qt::black);
        paintCell(painter, cell, qs(m_data.columns[c].title), Qt::AlignHCenter);
    }
}

void ReportRenderer::paintRows(QPainter& painter, int page, double top) const
{
    const bool table = m_data.variant == ReportVariant::BindingTable;
    const QPen grid(table ? kGridTable : kGridArchive, 1);
    const std::size_t first = firstRow(page);
    const std::size_t count = rowsOn(page);
    painter.setFont(m_font);
    for (std::size_t r = 0; r < count; ++r) {
        const double y = top + static_cast<double>(r) * detailHeight() + kCellY;
        for (std::size_t c = 0; c < m_data.columns.size(); ++c) {
            const QRectF cell(m_x[c], y, m_width[c], kCellHeight);
            painter.setPen(grid);
            painter.drawRect(cell);
            painter.setPen(Qt::black);
            const Qt::Alignment alignment = isNumeric(m_data.columns[c].kind) ? Qt::AlignRight : Qt::AlignLeft;
            paintCell(painter, cell, qs(m_data.rows.cell(first + r, c)), alignment);
        }
    }
}

void ReportRenderer::paintTotals(QPainter& painter, double top) const
{
    painter.setFont(m_font);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, top + kCountY, kCountWidth, kTotalsHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     qs(rowCountText(m_data.rows.rowCount())));
    for (std::size_t c = 0; c < m_data.columns.size(); ++c) {
        if (c >= m_data.totalVisible.size() || !m_data.totalVisible[c] || c >= m_data.totals.size() ||
            !m_data.totals[c])
            continue;
        paintCell(painter, QRectF(m_x[c], top + kTotalsY, m_width[c], kTotalsHeight),
                  qs(totalText(*m_data.totals[c])), Qt::AlignRight);
    }
}

void ReportRenderer::paintCell(QPainter& painter, const QRectF& rect, const QString& text,
                               Qt::Alignment alignment) const
{
    const QRectF inner = rect.adjusted(kCellPadding, 0, -kCellPadding, 0);
    const QString shown = QFontMetricsF(painter.font()).elidedText(text.trimmed(), Qt::ElideRight, inner.width());
    painter.drawText(inner, alignment | Qt::AlignVCenter, shown);
}

int reportPageCount(const ReportData& data, const QPagedPaintDevice& device)
{
    ReportRenderer renderer(data);
    renderer.setPageArea(ReportRenderer::pageAreaOf(device));
    return renderer.pageCount();
}

bool writeReportPdf(const ReportData& data, const QString& path, QString& error)
{
    QPdfWriter writer(path);
    writer.setResolution(300);
    writer.setPageLayout(reportPageLayout());
    writer.setTitle(QString::fromStdString(data.title));
    writer.setCreator(QStringLiteral("Peltra"));
    QPainter painter;
    if (!painter.begin(&writer)) {
        error = QStringLiteral("Не удалось записать файл ") + path;
        return false;
    }
    ReportRenderer renderer(data);
    renderer.setPageArea(ReportRenderer::pageAreaOf(writer));
    const double unitsToDevice = writer.resolution() / ReportRenderer::kUnitsPerInch;
    for (int page = 0; page < renderer.pageCount(); ++page) {
        if (page > 0 && !writer.newPage())
            break;
        renderer.paint(painter, page, unitsToDevice);
    }
    if (!painter.end() || QFileInfo(path).size() == 0) {
        error = QStringLiteral("Не удалось записать файл ") + path;
        return false;
    }
    return true;
}

void printReport(const ReportData& data, QPrinter& printer)
{
    const double margin = ReportRenderer::kMargin / ReportRenderer::kUnitsPerInch;
    printer.setPageMargins(QMarginsF(margin, margin, margin, margin), QPageLayout::Inch);
    QPainter painter;
    if (!painter.begin(&printer))
        return;
    ReportRenderer renderer(data);
    renderer.setPageArea(ReportRenderer::pageAreaOf(printer));
    const double unitsToDevice = printer.resolution() / ReportRenderer::kUnitsPerInch;
    int first = 0;
    int last = renderer.pageCount() - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = std::max(0, printer.fromPage() - 1);
        last = std::min(last, std::max(first, printer.toPage() - 1));
    }
    for (int page = first; page <= last; ++page) {
        if (page > first && !printer.newPage())
            break;
        renderer.paint(painter, page, unitsToDevice);
    }
    painter.end();
}

namespace {
// Room around the pages on screen, in pixels.
constexpr int kPageGap = 12;
}  // namespace

ReportView::ReportView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setObjectName("ReportView");
    viewport()->setAutoFillBackground(true);
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    palette.setColor(QPalette::Base, QColor(0x80, 0x80, 0x80));
    viewport()->setPalette(palette);
    verticalScrollBar()->setSingleStep(20);
    horizontalScrollBar()->setSingleStep(20);
    updateScrollBars();
}

ReportView::~ReportView() = default;

void ReportView::setReport(const ReportData* data)
{
    m_data = data;
    m_renderer = data != nullptr ? std::make_unique<ReportRenderer>(*data) : nullptr;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    updateScrollBars();
    viewport()->update();
}

void ReportView::refresh()
{
    if (m_renderer)
        m_renderer->relayout();
    updateScrollBars();
    viewport()->update();
}

int ReportView::pageCount() const { return m_renderer ? m_renderer->pageCount() : 0; }

QSizeF ReportView::pageSizeOnScreen() const { return a4Units(); }

void ReportView::updateScrollBars()
{
    const QSize page = pageSizeOnScreen().toSize();
    const qint64 pages = pageCount();
    const qint64 height = pages == 0 ? 0 : pages * (page.height() + kPageGap) + kPageGap;
    const int width = pages == 0 ? 0 : page.width() + 2 * kPageGap;
    const QSize view = viewport()->size();
    verticalScrollBar()->setPageStep(view.height());
    verticalScrollBar()->setRange(0, static_cast<int>(std::clamp<qint64>(height - view.height(), 0, INT32_MAX)));
    horizontalScrollBar()->setPageStep(view.width());
    horizontalScrollBar()->setRange(0, std::max(0, width - view.width()));
}

void ReportView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ReportView::paintEvent(QPaintEvent* event)
{
    if (!m_renderer)
        return;
    QPainter painter(viewport());
    const QSize page = pageSizeOnScreen().toSize();
    const int stride = page.height() + kPageGap;
    const int left = std::max(kPageGap, (viewport()->width() - page.width()) / 2) - horizontalScrollBar()->value();
    const qint64 top = verticalScrollBar()->value();
    const QRect dirty = event->rect();
    const int firstPage = static_cast<int>(std::max<qint64>(0, (top + dirty.top() - kPageGap) / stride));
    for (int p = firstPage; p < m_renderer->pageCount(); ++p) {
        const qint64 y = kPageGap + static_cast<qint64>(p) * stride - top;
        if (y > dirty.bottom())
            break;
        const QRect sheet(left, static_cast<int>(y), page.width(), page.height());
        painter.fillRect(sheet.translated(3, 3), QColor(0x50, 0x50, 0x50));
        painter.fillRect(sheet, Qt::white);
        painter.save();
        painter.translate(sheet.left() + ReportRenderer::kMargin, sheet.top() + ReportRenderer::kMargin);
        painter.setClipRect(QRectF(QPointF(0, 0), m_renderer->pageArea()));
        m_renderer->paint(painter, p, 1.0);
        painter.restore();
    }
}

}  // namespace peltra::reports
