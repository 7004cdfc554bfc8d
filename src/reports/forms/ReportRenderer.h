// The page layout of a results report: header band on every page, the rows, the totals and the
// row count in the footer of every page (report over the binding's table) or once after the last
// row (report over the archive), painted on any paged device, the screen view, PDF and printing.
#pragma once

#include "reports/ReportModel.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class QPrinter;

namespace peltra::reports {

// Lays a report out in report units (1/96 inch) on pages of a given paintable area and paints
// one page at a time. Keeps a reference to the data: the data must outlive the renderer, and
// relayout() must be called after the data changed (rows, totalVisible). UI thread only (it
// measures with the GUI's fonts).
class ReportRenderer {
public:
    // Band heights and margins, in report units.
    static constexpr double kMargin = 24;
    static constexpr double kHeaderHeight = 106;
    static constexpr double kFooterHeight = 21;
    static constexpr double kFooterHeightWithTotals = 42;
    static constexpr double kSummaryHeight = 42;
    static constexpr double kDetailHeightTable = 23;
    static constexpr double kDetailHeightArchive = 20;
    static constexpr double kUnitsPerInch = 96;

    explicit ReportRenderer(const ReportData& data);

    // The paintable area of a page in report units (A4 portrait less the margins by default).
    void setPageArea(QSizeF units);
    QSizeF pageArea() const { return m_area; }
    // The paintable area of a device whose page layout already carries the margins.
    static QSizeF pageAreaOf(const QPagedPaintDevice& device);
    // A4 portrait with quarter-inch margins, as every output here lays it out.
    static QSizeF defaultPageArea();

    // Measures the columns and paginates again; call after the data changed.
    void relayout();

    int pageCount() const { return m_pageCount; }
    // Rows on one full page.
    int rowsPerPage() const { return m_rowsPerPage; }
    // The first row of a page and the number of rows on it (page is 0-based).
    std::size_t firstRow(int page) const;
    std::size_t rowsOn(int page) const;
    // Whether the footer with the totals and the row count is painted on every page (binding
    // table) or the summary once after the last row (archive).
    bool footerOnEveryPage() const { return m_data.variant == ReportVariant::BindingTable; }
    bool anyTotalVisible() const;
    double footerHeight() const;
    double detailHeight() const;
    // Horizontal scale below 1 when the columns are wider than the page.
    double fitScale() const { return m_fit; }

    // Column geometry in report units, for the header, the cells and the totals alike.
    double columnX(std::size_t column) const { return m_x[column]; }
    double columnWidth(std::size_t column) const { return m_width[column]; }
    double reportWidth() const;

    // Paints page (0-based) with the painter's origin at the top-left of the paintable area and
    // its scale set to report units (so unitsToDevice is the device's pixels per report unit).
    void paint(QPainter& painter, int page, double unitsToDevice) const;

    // The texts a page shows, as they are painted (for tests and accessibility).
    QString pageLine(int page) const;

private:
    void paintHeader(QPainter& painter, int page) const;
    void paintRows(QPainter& painter, int page, double top) const;
    void paintTotals(QPainter& painter, double top) const;
    void paintCell(QPainter& painter, const QRectF& rect, const QString& text, Qt::Alignment alignment) const;

    const ReportData& m_data;
    QSizeF m_area;
    QFont m_font;
    QFont m_bold;
    std::vector<double> m_x;
    std::vector<double> m_width;
    double m_fit = 1.0;
    int m_rowsPerPage = 1;
    int m_pageCount = 1;
};

// The number of pages the report takes on a device as its page layout stands (size and margins).
int reportPageCount(const ReportData& data, const QPagedPaintDevice& device);

// Writes the report as a PDF file, A4 portrait; false with error filled when the file cannot be
// written.
bool writeReportPdf(const ReportData& data, const QString& path, QString& error);

// Prints the report on the printer as it is set up (no prompt), A4 portrait by default.
void printReport(const ReportData& data, QPrinter& printer);

// The report's pages one under another on grey, scrolled continuously. Paints only the pages in
// sight, so a report of a million rows shows at once. UI thread only.
class ReportView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ReportView(QWidget* parent = nullptr);
    ~ReportView() override;

    // Shows a report (nothing shows an empty area); the data must outlive the view or be reset.
    void setReport(const ReportData* data);
    const ReportData* report() const { return m_data; }
    // Lays the pages out again after the data changed (totals ticked, rows read).
    void refresh();
    int pageCount() const;
    const ReportRenderer* renderer() const { return m_renderer.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateScrollBars();
    QSizeF pageSizeOnScreen() const;

    const ReportData* m_data = nullptr;
    std::unique_ptr<ReportRenderer> m_renderer;
};

}  // namespace peltra::reports
