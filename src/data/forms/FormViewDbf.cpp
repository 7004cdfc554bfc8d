// The query checker window.
#include "data/forms/FormViewDbf.h"

#include "data/forms/OdbcErrorMessageBox.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace peltra::data {

const char* const FormViewDbf::kBoxCaption = "Проверка SQL запроса";

namespace {

QString shown(const std::string& text)
{
    QString result = QString::fromStdString(text);
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

}  // namespace

FormViewDbf::FormViewDbf(const QString& caption, std::filesystem::path table, std::string condition,
                         std::string sortColumn, bool ascending, QWidget* parent)
    : QDialog(parent), m_table(std::move(table)), m_condition(std::move(condition)),
      m_sortColumn(std::move(sortColumn)), m_ascending(ascending)
{
    setObjectName("FormViewDBF");
    setWindowTitle(caption);
    setModal(true);

    m_log = new QPlainTextEdit(this);
    m_log->setObjectName("textb_log");
    m_log->setReadOnly(true);
    m_log->setMaximumHeight(110);
    m_log->setPlainText(QStringLiteral("Выполнение запроса\nDB=") +
                        QString::fromStdString(m_table.filename().string()));

    m_grid = new QTableWidget(this);
    m_grid->setObjectName("lv_rows");
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->verticalHeader()->hide();
    m_grid->setAlternatingRowColors(true);

    m_status = new QLabel(this);
    m_status->setObjectName("label_status");

    auto* buttons = new QDialogButtonBox(this);
    m_close = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::AcceptRole);
    m_close->setObjectName("cb_close");
    m_close->setEnabled(false);
    connect(m_close, &QPushButton::clicked, this, &FormViewDbf::closeWithResult);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_log);
    layout->addWidget(m_grid, 1);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(640, 420);
}

FormViewDbf::FormViewDbf(const QString& caption, QueryCheck check, QWidget* parent)
    : FormViewDbf(caption, {}, {}, {}, true, parent)
{
    m_log->clear();
    m_given = std::move(check);
}

FormViewDbf::~FormViewDbf()
{
    if (m_worker.joinable())
        m_worker.join();
}

void FormViewDbf::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started)
        start();
}

void FormViewDbf::start()
{
    m_started = true;
    if (m_given) {
        // Queued, so that the boxes stand over the window rather than before it.
        QMetaObject::invokeMethod(
            this,
            [this] {
                QueryCheck check = std::move(*m_given);
                m_given.reset();
                present(std::move(check));
            },
            Qt::QueuedConnection);
        return;
    }
    m_status->setText(QStringLiteral("Выполнение запроса..."));
    // The worker owns copies of its inputs and hands its result to the UI thread; a result that
    // arrives after the window is gone is dropped with the window's posted events.
    m_worker = std::thread([this, table = m_table, condition = m_condition, sort = m_sortColumn,
                            ascending = m_ascending, codePage = m_unmarkedCodePage] {
        QueryCheck check = runQueryCheck(table, condition, sort, ascending, codePage);
        QMetaObject::invokeMethod(
            this, [this, check = std::move(check)]() mutable { present(std::move(check)); },
            Qt::QueuedConnection);
    });
}

void FormViewDbf::present(QueryCheck check)
{
    if (m_worker.joinable())
        m_worker.join();
    m_result = std::move(check);
    const QueryCheck& result = *m_result;
    const QString caption = QString::fromUtf8(kBoxCaption);

    m_log->setPlainText(shown(result.log));
    m_grid->clear();
    QStringList headers{QStringLiteral("№")};
    for (const std::string& column : result.columns)
        headers << QString::fromStdString(column);
    m_grid->setColumnCount(headers.size());
    m_grid->setHorizontalHeaderLabels(headers);
    m_grid->setRowCount(static_cast<int>(result.rows.size()));
    for (std::size_t r = 0; r < result.rows.size(); ++r) {
        const int row = static_cast<int>(r);
        auto* number = new QTableWidgetItem(QString::number(row + 1));
        number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_grid->setItem(row, 0, number);
        for (std::size_t c = 0; c < result.rows[r].size(); ++c)
            m_grid->setItem(row, static_cast<int>(c) + 1, new QTableWidgetItem(QString::fromStdString(result.rows[r][c])));
    }
    m_grid->resizeColumnsToContents();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_status->setText(result.status.empty() ? QString::fromStdString(result.message) : shown(result.status));
    m_close->setEnabled(true);
    m_close->setFocus();

    if (result.ok) {
        QMessageBox::information(this, caption, shown(result.message));
    } else {
        QMessageBox::warning(this, caption, shown(result.message));
        showErrors(this, result.errors);
    }
    emit finished(result.ok);
}

void FormViewDbf::reject()
{
    closeWithResult();
}

void FormViewDbf::closeWithResult()
{
    done(succeeded() ? QDialog::Accepted : QDialog::Rejected);
}

}  // namespace peltra::data
