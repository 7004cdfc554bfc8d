// The report's pages: how many there are, what every page's header says, where the totals and the
// row count go in each variant and that they line up under their columns, the PDF as a picture,
// and the screen view.
#include "reports/forms/ReportRenderer.h"

#include "support/TempDir.h"

#include <QImage>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTextItem>

#include <cmath>
#include <string>
#include <vector>

using peltra::reports::ColumnKind;
using peltra::reports::ReportData;
using peltra::reports::ReportRenderer;
using peltra::reports::ReportVariant;

namespace {

// One text drawn on a page: what, and its box in report units.
struct DrawnText {
    QString text;
    QRectF box;
};

// Records the texts a page paints instead of drawing anything.
class TextEngine : public QPaintEngine {
public:
    TextEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawRects(const QRectF*, int) override {}
    void drawLines(const QLineF*, int) override {}
    void drawPath(const QPainterPath&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawTextItem(const QPointF& p, const QTextItem& item) override
    {
        const QTransform transform = painter()->transform();
        const QPointF origin = transform.map(p);
        const double scale = transform.m11();
        texts.push_back({item.text(), QRectF(origin.x(), origin.y() - item.ascent() * scale, item.width() * scale,
                                             (item.ascent() + item.descent()) * scale)});
    }
    Type type() const override { return QPaintEngine::User; }

    std::vector<DrawnText> texts;
};

class TextDevice : public QPaintDevice {
public:
    QPaintEngine* paintEngine() const override { return &m_engine; }
    std::vector<DrawnText>& texts() { return m_engine.texts; }

protected:
    int metric(PaintDeviceMetric metric) const override
    {
        switch (metric) {
        case PdmWidth: return 1000;
        case PdmHeight: return 1400;
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDepth: return 32;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
        default: return 0;
        }
    }

private:
    mutable TextEngine m_engine;
};

// The texts of one page, painted at one device pixel per report unit.
std::vector<DrawnText> pageTexts(const ReportRenderer& renderer, int page)
{
    TextDevice device;
    QPainter painter(&device);
    renderer.paint(painter, page, 1.0);
    painter.end();
    return device.texts();
}

const DrawnText* find(const std::vector<DrawnText>& drawn, const QString& text)
{
    for (const DrawnText& d : drawn)
        if (d.text == text)
            return &d;
    return nullptr;
}

// True when text is drawn right-aligned in column c (its cell padding aside).
bool underColumn(const ReportRenderer& renderer, const DrawnText* text, std::size_t c)
{
    const double right = renderer.columnX(c) + renderer.columnWidth(c);
    return text != nullptr && text->box.right() <= right && text->box.right() > right - 6;
}

double amount(std::size_t i) { return 100.0 + static_cast<double>(i % 50) * 12.25; }

// A report of subscribers with a telephone, an attempt count, a date, a name and a sum.
ReportData subscribers(std::size_t rows, ReportVariant variant = ReportVariant::BindingTable)
{
    ReportData data{variant,
                    {{"TELEF", "Телефон", ColumnKind::Char, 12, 0, 1, 12}, {"PROBA", "Проба", ColumnKind::Decimal, 3, 0, 2, 5},
                     {"DATA", "Дата", ColumnKind::Date, 8, 0, 4, 10}, {"FIO", "FIO", ColumnKind::Char, 24, 0, 6, 24},
                     {"SUMMA", "Сумма", ColumnKind::Decimal, 10, 2, 7, 11}},
                    peltra::reports::ReportRows(5), {}, std::vector<bool>(5, false), "Задание:",
                    "Абоненты : Весь файл", "Оповещенные и неоповещенные.", "06.12.2026"};
    double sum = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        sum += amount(i);
        char money[32];
        std::snprintf(money, sizeof money, "%.2f", amount(i));
        data.rows.append({std::to_string(4951000000 + i), std::to_string(i % 4), i % 3 == 0 ? "" : "01.12.2026",
                          i % 2 == 0 ? "Иванов Иван Иванович" : "Петрова Анна", money});
    }
    data.totals = {std::nullopt, std::optional<double>(1.0 * rows), std::nullopt, std::nullopt,
                   std::optional<double>(sum)};
    return data;
}

}  // namespace

class ReportRendererTest : public QObject {
    Q_OBJECT

private slots:
    void pageCountFollowsTheRows_data()
    {
        QTest::addColumn<int>("variant");
        QTest::addColumn<bool>("totals");
        QTest::newRow("1 table") << 0 << false;
        QTest::newRow("2 table with totals") << 0 << true;
        QTest::newRow("3 archive") << 1 << false;
    }

    void pageCountFollowsTheRows()
    {
        QFETCH(int, variant);
        QFETCH(bool, totals);
        const ReportVariant v = variant == 0 ? ReportVariant::BindingTable : ReportVariant::ArchiveFile;
        ReportData data = subscribers(0, v);
        data.totalVisible[4] = totals;
        ReportRenderer renderer(data);
        const double footer = v == ReportVariant::ArchiveFile ? 0 : (totals ? 42 : 21);
        const double detail = v == ReportVariant::ArchiveFile ? 20 : 23;
        const int perPage = static_cast<int>((renderer.pageArea().height() - 106 - footer) / detail);
        QCOMPARE(renderer.rowsPerPage(), perPage);
        QCOMPARE(renderer.pageCount(), 1);

        const auto per = static_cast<std::size_t>(perPage);
        for (const auto& [rows, pages] : std::vector<std::pair<std::size_t, int>>{
                 {1, 1}, {per, 1}, {per + 1, 2}, {per * 7 + 3, 8}}) {
            ReportData more = subscribers(rows, v);
            more.totalVisible[4] = totals;
            ReportRenderer r(more);
            int expected = pages;
            // The summary after the last row takes a page of its own when it does not fit under it.
            const std::size_t last = rows - static_cast<std::size_t>(pages - 1) * per;
            if (v == ReportVariant::ArchiveFile && 106 + last * detail + 42 > r.pageArea().height())
                ++expected;
            QCOMPARE(r.pageCount(), expected);
            // The last page paints: in the archive its summary, under the last row.
            const auto drawn = pageTexts(r, r.pageCount() - 1);
            const DrawnText* count = find(drawn, QStringLiteral("Всего строк: %1").arg(rows));
            QVERIFY(count != nullptr);
            QVERIFY(count->box.bottom() <= r.pageArea().height() / r.fitScale() + 1);
        }
    }

    void tableTotalsInEveryFooterOnlyWhenTicked()
    {
        ReportData data = subscribers(1000);
        double sum = 0;
        for (std::size_t i = 0; i < 1000; ++i)
            sum += amount(i);
        const QString total = QString::fromStdString(peltra::reports::totalText(sum));
        ReportRenderer renderer(data);
        QCOMPARE(renderer.footerHeight(), 21.0);
        const int before = renderer.rowsPerPage();
        for (int page = 0; page < renderer.pageCount(); ++page)
            QVERIFY(!find(pageTexts(renderer, page), total));
        data.totalVisible[4] = true;
        renderer.relayout();
        QCOMPARE(renderer.footerHeight(), 42.0);
        QVERIFY(renderer.rowsPerPage() < before);
        QCOMPARE(renderer.pageCount(), (1000 + renderer.rowsPerPage() - 1) / renderer.rowsPerPage());
        for (int page = 0; page < renderer.pageCount(); ++page) {
            const auto drawn = pageTexts(renderer, page);
            const DrawnText* shown = find(drawn, total);
            QVERIFY2(underColumn(renderer, shown, 4), qPrintable(QStringLiteral("page %1").arg(page)));
            QVERIFY(shown->box.top() > renderer.pageArea().height() - 42);  // in the footer
            QVERIFY(!find(drawn, QStringLiteral("1000")));  // the attempt count's total is not ticked
            // Every page: its number at the right edge, its own rows and no other.
            const QString number = QStringLiteral("Стр. %1 из %2").arg(page + 1).arg(renderer.pageCount());
            QVERIFY(find(drawn, number) && std::abs(find(drawn, number)->box.right() - renderer.pageArea().width()) < 2);
            QVERIFY(find(drawn, QString::number(4951000000 + renderer.firstRow(page))));
            QVERIFY(!find(drawn, QString::number(4951000000 + renderer.firstRow(page) + renderer.rowsOn(page))));
        }
    }

    void pdfPagesArePictures()
    {
        ReportData data = subscribers(150);
        data.totalVisible[4] = true;
        peltra::test::TempDir dir;
        const QString pdf = QString::fromStdString((dir / "report.pdf").string());
        QString error;
        QVERIFY2(peltra::reports::writeReportPdf(data, pdf, error), qPrintable(error));
        const QString prefix = QString::fromStdString((dir / "page").string());
        QProcess convert;
        convert.start(QStringLiteral("pdftoppm"), {"-png", "-r", "50", "-singlefile", pdf, prefix});
        QVERIFY(convert.waitForFinished(20000));
        QCOMPARE(convert.exitCode(), 0);
        const QImage image(prefix + QStringLiteral(".png"));
        // A4 at 50 dots per inch, text on it, nothing inside the quarter-inch margins.
        QVERIFY(std::abs(image.width() - 413) <= 1 && std::abs(image.height() - 585) <= 1);
        int dark = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                dark += qGray(image.pixel(x, y)) < 128;
            for (int x : {0, 5, image.width() - 6, image.width() - 1})
                QVERIFY(qGray(image.pixel(x, y)) > 200);
        }
        QVERIFY2(dark > 2000, qPrintable(QString::number(dark)));
        QVERIFY(image.save(QStringLiteral("ReportPage.png")));
        QProcess info;
        info.start(QStringLiteral("pdfinfo"), {pdf});
        QVERIFY(info.waitForFinished(20000));
        const QString out = QString::fromUtf8(info.readAllStandardOutput());
        QVERIFY2(out.contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\b").arg(ReportRenderer(data).pageCount()))),
                 qPrintable(out));

        const QString nowhere = QString::fromStdString((dir / "no" / "such" / "report.pdf").string());
        QVERIFY(!peltra::reports::writeReportPdf(data, nowhere, error));
        QVERIFY(error.contains(nowhere));
    }
};

QTEST_MAIN(ReportRendererTest)
#include "ReportRendererTest.moc"
