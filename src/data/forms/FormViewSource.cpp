// The SQL browser's result window.
#include "data/forms/FormViewSource.h"

#include "data/Connection.h"
#include "data/Query.h"
#include "data/forms/OdbcErrorMessageBox.h"
#include "data/forms/SqlTextFile.h"

#include <QCloseEvent>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace peltra::data {

const char* const FormViewSource::kRunning = "Выполнение SQL запроса";
const char* const FormViewSource::kFailed = "Невозможно выполнить SQL запрос.";
const char* const FormViewSource::kEmpty = "Результат SQL запроса не содержит строк.";
const char* const FormViewSource::kAskSave = "Вы изменили SQL запрос. Хотите сохранить изменения?";

SqlRunResult runSql(const std::string& dataSource, const std::filesystem::path& folder, const std::string& sql,
                    const std::atomic<bool>* stop)
{
    SqlRunResult result;
    Connection connection;
    const bool connected = connection.bind(dataSource) && connection.connect() &&
                           (folder.empty() || connection.setConnectOption(kCurrentQualifierOption, folder.string()));
    if (!connected) {
        result.errors = connection.takeErrors();
        return result;
    }
    Query query(connection);
    query.setSql(sql);
    if (!query.open()) {
        result.errors = connection.takeErrors();
        return result;
    }
    const int columns = query.columnCount();
    for (int c = 1; c <= columns; ++c)
        result.columns << QString::fromStdString(query.columnName(c));
    for (bool more = !query.isEof(); more; more = query.moveNext() && !query.isEof()) {
        if (stop != nullptr && stop->load()) {
            result.stopped = true;
            break;
        }
        QStringList row;
        row.reserve(columns);
        for (int c = 1; c <= columns; ++c)
            row << QString::fromStdString(query.getText(c));
        result.rows.push_back(std::move(row));
    }
    query.close();
    if (connection.hasErrors()) {
        result.rows.clear();
        result.errors = connection.takeErrors();
        return result;
    }
    result.ok = true;
    return result;
}

void SqlResultModel::setResult(QStringList columns, std::vector<QStringList> rows)
{
    beginResetModel();
    m_columns = std::move(columns);
    m_rows = std::move(rows);
    endResetModel();
}

void SqlResultModel::clear()
{
    setResult({}, {});
}

int SqlResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SqlResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || m_columns.isEmpty() ? 0 : static_cast<int>(m_columns.size()) + 1;
}

QString SqlResultModel::text(int row, int column) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column > m_columns.size())
        return {};
    if (column == 0)
        return QString::number(row + 1);
    return m_rows[static_cast<std::size_t>(row)].value(column - 1);
}

QVariant SqlResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() == 0)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

QVariant SqlResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == 0)
        return QStringLiteral("№");
    return m_columns.value(section - 1);
}

namespace {

// Columns as wide as their sampled contents, with room to breathe.
void fitColumns(QTableView* grid)
{
    grid->resizeColumnsToContents();
    const int extra = grid->fontMetrics().averageCharWidth() * 2;
    for (int c = 0; c < grid->model()->columnCount(); ++c)
        grid->setColumnWidth(c, grid->columnWidth(c) + extra);
}

}  // namespace

FormViewSource::FormViewSource(const QString& sql, const QString& dataSource, const QString& folder, QWidget* parent)
    : QWidget(parent, Qt::Window), m_dataSource(dataSource), m_folder(folder), m_savedSql(sql)
{
    setObjectName("FormViewSource");
    setWindowTitle(QStringLiteral("Результат SQL запроса"));

    m_sql = new QPlainTextEdit(this);
    m_sql->setObjectName("textb_sql");
    m_sql->setPlainText(sql);
    m_sql->setTabChangesFocus(true);
    m_sql->setMaximumHeight(90);
    connect(m_sql, &QPlainTextEdit::textChanged, this, &FormViewSource::updateButtons);

    m_grid = new QTableView(this);
    m_grid->setObjectName("lv_rows");
    m_grid->setModel(&m_model);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setAlternatingRowColors(true);
    m_grid->verticalHeader()->hide();
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 8);
    // Column widths follow a sample of the rows, so a large result is sized at once.
    m_grid->horizontalHeader()->setResizeContentsPrecision(200);

    m_status = new QLabel(this);
    m_status->setObjectName("label_status");

    m_run = new QPushButton(QStringLiteral("Выполнить"), this);
    m_run->setObjectName("cb_run");
    connect(m_run, &QPushButton::clicked, this, &FormViewSource::run);
    m_save = new QPushButton(QStringLiteral("Сохранить SQL..."), this);
    m_save->setObjectName("cb_save");
    connect(m_save, &QPushButton::clicked, this, &FormViewSource::save);
    m_print = new QPushButton(QStringLiteral("Печать..."), this);
    m_print->setObjectName("cb_print");
    connect(m_print, &QPushButton::clicked, this, &FormViewSource::print);
    m_font = new QPushButton(QStringLiteral("Шрифт..."), this);
    m_font->setObjectName("cb_font");
    connect(m_font, &QPushButton::clicked, this, &FormViewSource::chooseFont);
    auto* closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    closeButton->setObjectName("cb_close");
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    auto* sqlLabel = new QLabel(QStringLiteral("SQL запрос:"), this);
    sqlLabel->setBuddy(m_sql);
    auto* sqlRow = new QHBoxLayout;
    sqlRow->addWidget(m_sql, 1);
    auto* sqlButtons = new QVBoxLayout;
    sqlButtons->addWidget(m_run);
    sqlButtons->addWidget(m_save);
    sqlButtons->addStretch(1);
    sqlRow->addLayout(sqlButtons);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_font);
    bottom->addWidget(m_print);
    bottom->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sqlLabel);
    layout->addLayout(sqlRow);
    layout->addWidget(m_grid, 1);
    layout->addLayout(bottom);
    resize(760, 480);
    updateButtons();
}

FormViewSource::~FormViewSource()
{
    stopWorker();
}

void FormViewSource::stopWorker()
{
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

QString FormViewSource::sql() const
{
    return m_sql->toPlainText();
}

bool FormViewSource::isSqlChanged() const
{
    return sql() != m_savedSql;
}

void FormViewSource::updateButtons()
{
    m_run->setEnabled(!m_running && !sql().trimmed().isEmpty());
    m_print->setEnabled(!m_running && m_model.rowCount() > 0);
}

void FormViewSource::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        run();
    }
}

void FormViewSource::run()
{
    if (m_running)
        return;
    if (m_worker.joinable())
        m_worker.join();
    m_running = true;
    m_stop = false;
    m_model.clear();
    m_status->setText(QString::fromUtf8(kRunning));
    updateButtons();
    // The worker has its own connection and copies of its inputs; its result is queued back to
    // this window, and a window that is being destroyed stops and waits for it first.
    m_worker = std::thread([this, dataSource = m_dataSource.toStdString(), folder = m_folder.toStdString(),
                            text = sql().toStdString()] {
        SqlRunResult result = runSql(dataSource, std::filesystem::path(folder), text, &m_stop);
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)]() mutable { present(std::move(result)); },
            Qt::QueuedConnection);
    });
}

void FormViewSource::present(SqlRunResult result)
{
    if (m_worker.joinable())
        m_worker.join();
    m_running = false;
    if (result.stopped) {
        // The window was closed while the statement ran: an incomplete result is not shown.
        m_status->clear();
        updateButtons();
        return;
    }
    const bool ok = result.ok;
    const bool empty = result.rows.empty();
    std::vector<OdbcError> errors = std::move(result.errors);
    if (ok)
        m_model.setResult(std::move(result.columns), std::move(result.rows));
    fitColumns(m_grid);
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_status->setText(ok ? QStringLiteral("Строк: %1").arg(m_model.rowCount()) : QString::fromUtf8(kFailed));
    updateButtons();

    if (!ok) {
        QMessageBox::warning(this, QStringLiteral("Ошибка"), QString::fromUtf8(kFailed));
        showErrors(this, errors);
    } else if (empty) {
        QMessageBox::information(this, windowTitle(), QString::fromUtf8(kEmpty));
    }
    emit finished(ok);
}

bool FormViewSource::save()
{
    const QString text = sql();
    if (!saveSqlText(this, m_saveDialog, text))
        return false;
    m_savedSql = text;
    return true;
}

void FormViewSource::closeEvent(QCloseEvent* event)
{
    if (isSqlChanged()) {
        const auto answer = QMessageBox::question(this, windowTitle(), QString::fromUtf8(kAskSave),
                                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                                  QMessageBox::Yes);
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Yes && !save())) {
            event->ignore();
            m_sql->setFocus();
            return;
        }
    }
    // A statement still running is of no more use.
    m_stop = true;
    event->accept();
}

void FormViewSource::chooseFont()
{
    std::optional<QFont> font;
    if (m_fontDialog) {
        font = m_fontDialog(this, m_grid->font());
    } else {
        bool ok = false;
        const QFont chosen = QFontDialog::getFont(&ok, m_grid->font(), this, QStringLiteral("Шрифт"));
        if (ok)
            font = chosen;
    }
    if (!font)
        return;
    m_grid->setFont(*font);
    m_grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(*font).height() + 8);
    fitColumns(m_grid);
}

void FormViewSource::print()
{
    QPrinter printer(QPrinter::HighResolution);
    bool go = false;
    if (m_printDialog) {
        go = m_printDialog(this, printer);
    } else {
        QPrintDialog dialog(&printer, this);
        dialog.setWindowTitle(QStringLiteral("Печать"));
        go = dialog.exec() == QDialog::Accepted;
    }
    if (go && printTo(printer) == 0)
        QMessageBox::warning(this, QStringLiteral("Ошибка"), QStringLiteral("Не удалось напечатать таблицу."));
}

int FormViewSource::printTo(QPrinter& printer) const
{
    const int rows = m_model.rowCount();
    const int columns = m_model.columnCount();
    if (rows == 0 || columns == 0)
        return 0;
    QPainter painter;
    if (!painter.begin(&printer))
        return 0;

    QFont font = m_grid->font();
    QFont bold = font;
    bold.setBold(true);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const QFontMetricsF boldMetrics(bold, &printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const qreal padding = metrics.averageCharWidth();
    const qreal lineHeight = std::ceil(metrics.height() * 1.3);

    // Widths from the header and a sample of the rows, one column at most half the page wide.
    constexpr int kSampleRows = 500;
    std::vector<qreal> widths(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
        qreal width = boldMetrics.horizontalAdvance(m_model.headerData(c, Qt::Horizontal).toString());
        for (int r = 0; r < std::min(rows, kSampleRows); ++r)
            width = std::max(width, metrics.horizontalAdvance(m_model.text(r, c)));
        widths[static_cast<std::size_t>(c)] = std::min(width + 2 * padding, page.width() / 2);
    }
    qreal total = 0;
    for (qreal w : widths)
        total += w;
    const qreal scale = total > page.width() ? page.width() / total : 1.0;
    painter.scale(scale, scale);
    const qreal pageWidth = page.width() / scale;
    const qreal pageHeight = page.height() / scale;
    const int rowsPerPage = std::max(1, static_cast<int>((pageHeight - 3 * lineHeight) / lineHeight));

    auto drawRow = [&](qreal y, int row) {
        qreal x = 0;
        for (int c = 0; c < columns; ++c) {
            const qreal width = widths[static_cast<std::size_t>(c)];
            const QRectF cell(x + padding, y, width - 2 * padding, lineHeight);
            if (row < 0) {
                const QString title = m_model.headerData(c, Qt::Horizontal).toString();
                painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter,
                                 boldMetrics.elidedText(title, Qt::ElideRight, cell.width()));
            } else {
                const Qt::Alignment align = (c == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
                painter.drawText(cell, align, metrics.elidedText(m_model.text(row, c), Qt::ElideRight, cell.width()));
            }
            x += width;
        }
    };

    int pages = 0;
    for (int first = 0; first < rows; first += rowsPerPage) {
        if (pages > 0 && !printer.newPage())
            break;
        ++pages;
        painter.setFont(bold);
        drawRow(0, -1);
        painter.setFont(font);
        painter.drawLine(QPointF(0, lineHeight), QPointF(std::min(pageWidth, total), lineHeight));
        const int last = std::min(rows, first + rowsPerPage);
        for (int r = first; r < last; ++r)
            drawRow(lineHeight * (r - first + 1), r);
        painter.drawText(QRectF(0, pageHeight - lineHeight, pageWidth, lineHeight), Qt::AlignCenter,
                         QString::asprintf("Стр. %d", pages));
    }
    painter.end();
    return pages;
}

}  // namespace peltra::data
