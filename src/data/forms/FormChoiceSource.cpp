// The SQL browser's source window.
#include "data/forms/FormChoiceSource.h"

#include "data/Connection.h"
#include "data/Functions.h"
#include "data/forms/FormViewSource.h"
#include "data/forms/SqlTextFile.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace peltra::data {

const char* const FormChoiceSource::kConnectFailed = "Невозможно выполнить соединение с источником данных.";
const char* const FormChoiceSource::kTablesLabel = "В источнике данных доступны таблицы:";

namespace {

const char* const kNotConnected = "Нет соединения с источником данных.";

QTableWidget* makeGrid(QWidget* parent, const char* name, const QStringList& headers)
{
    auto* grid = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    grid->setObjectName(name);
    grid->setHorizontalHeaderLabels(headers);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 8);
    grid->horizontalHeader()->setStretchLastSection(true);
    grid->horizontalHeader()->setHighlightSections(false);
    return grid;
}

}  // namespace

FormChoiceSource::FormChoiceSource(QWidget* parent, const QString& initialFolder) : QWidget(parent, Qt::Window)
{
    setObjectName("FormChoiceSource");
    setWindowTitle(QStringLiteral("Выбор источника данных"));

    m_source = new QLineEdit(QStringLiteral("peltra"), this);
    m_source->setObjectName("textb_source");
    m_database = new QLineEdit(QDir::toNativeSeparators(initialFolder.isEmpty() ? QDir::currentPath() : initialFolder), this);
    m_database->setObjectName("textb_database");
    connect(m_source, &QLineEdit::editingFinished, this, &FormChoiceSource::databaseEdited);
    connect(m_database, &QLineEdit::editingFinished, this, &FormChoiceSource::databaseEdited);

    auto* folderButton = new QPushButton(QStringLiteral("Папка..."), this);
    folderButton->setObjectName("cb_folder");
    folderButton->setToolTip(QStringLiteral("Выбрать папку с файлами базы данных"));
    connect(folderButton, &QPushButton::clicked, this, &FormChoiceSource::chooseFolder);
    auto* fileButton = new QPushButton(QStringLiteral("Файл..."), this);
    fileButton->setObjectName("cb_file");
    fileButton->setToolTip(QStringLiteral("Выбрать файл таблицы"));
    connect(fileButton, &QPushButton::clicked, this, &FormChoiceSource::chooseFile);

    m_tablesLabel = new QLabel(QString::fromUtf8(kNotConnected), this);
    m_tablesLabel->setObjectName("label_tables");
    m_tables = makeGrid(this, "lv_tables", {QStringLiteral("Таблица"), QStringLiteral("Местоположение")});
    connect(m_tables, &QTableWidget::itemSelectionChanged, this, &FormChoiceSource::listColumns);

    auto* fieldsLabel = new QLabel(QStringLiteral("Поля таблицы:"), this);
    m_fields = makeGrid(this, "lv_fields", {QStringLiteral("Имя поля"), QStringLiteral("Тип")});
    connect(m_fields, &QTableWidget::itemChanged, this, &FormChoiceSource::fieldChanged);
    m_allFields = new QCheckBox(QStringLiteral("Все поля"), this);
    m_allFields->setObjectName("checkbox_allfields");
    m_allFields->setChecked(true);
    connect(m_allFields, &QCheckBox::toggled, this, &FormChoiceSource::allFieldsToggled);

    auto* sqlLabel = new QLabel(QStringLiteral("SQL запрос:"), this);
    m_manual = new QCheckBox(QStringLiteral("Ввести SQL запрос вручную"), this);
    m_manual->setObjectName("checkbox_manualsql");
    connect(m_manual, &QCheckBox::toggled, this, &FormChoiceSource::manualToggled);
    m_sql = new QPlainTextEdit(this);
    m_sql->setObjectName("textb_sql");
    m_sql->setTabChangesFocus(true);
    m_sql->setMinimumHeight(60);
    m_sql->setMaximumHeight(110);
    connect(m_sql, &QPlainTextEdit::textChanged, this, &FormChoiceSource::updateButtons);

    auto* loadButton = new QPushButton(QStringLiteral("Загрузить..."), this);
    loadButton->setObjectName("cb_load");
    connect(loadButton, &QPushButton::clicked, this, &FormChoiceSource::load);
    auto* saveButton = new QPushButton(QStringLiteral("Сохранить..."), this);
    saveButton->setObjectName("cb_save");
    connect(saveButton, &QPushButton::clicked, this, &FormChoiceSource::save);
    m_view = new QPushButton(QStringLiteral("Просмотр"), this);
    m_view->setObjectName("cb_view");
    m_view->setToolTip(QStringLiteral("Выполнить SQL запрос и показать результат"));
    connect(m_view, &QPushButton::clicked, this, &FormChoiceSource::view);
    auto* closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
    closeButton->setObjectName("cb_close");
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    auto* sourceLabel = new QLabel(QStringLiteral("Источник данных:"), this);
    sourceLabel->setBuddy(m_source);
    auto* databaseLabel = new QLabel(QStringLiteral("База данных:"), this);
    databaseLabel->setBuddy(m_database);
    auto* top = new QGridLayout;
    top->addWidget(sourceLabel, 0, 0);
    top->addWidget(m_source, 0, 1, 1, 3);
    top->addWidget(databaseLabel, 1, 0);
    top->addWidget(m_database, 1, 1);
    top->addWidget(folderButton, 1, 2);
    top->addWidget(fileButton, 1, 3);
    top->setColumnStretch(1, 1);

    auto* tablesPane = new QWidget(this);
    auto* tablesLayout = new QVBoxLayout(tablesPane);
    tablesLayout->setContentsMargins(0, 0, 0, 0);
    tablesLayout->addWidget(m_tablesLabel);
    tablesLayout->addWidget(m_tables, 1);
    auto* fieldsPane = new QWidget(this);
    auto* fieldsLayout = new QVBoxLayout(fieldsPane);
    fieldsLayout->setContentsMargins(0, 0, 0, 0);
    fieldsLayout->addWidget(fieldsLabel);
    fieldsLayout->addWidget(m_fields, 1);
    fieldsLayout->addWidget(m_allFields);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(tablesPane);
    splitter->addWidget(fieldsPane);
    splitter->setSizes({360, 280});

    auto* sqlHeader = new QHBoxLayout;
    sqlHeader->addWidget(sqlLabel);
    sqlHeader->addStretch(1);
    sqlHeader->addWidget(m_manual);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(loadButton);
    buttons->addWidget(saveButton);
    buttons->addStretch(1);
    buttons->addWidget(m_view);
    buttons->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(splitter, 1);
    layout->addLayout(sqlHeader);
    layout->addWidget(m_sql);
    layout->addLayout(buttons);
    resize(680, 520);

    manualToggled(false);
}

FormChoiceSource::~FormChoiceSource() = default;

QString FormChoiceSource::sql() const
{
    return m_sql->toPlainText();
}

void FormChoiceSource::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_started) {
        m_started = true;
        // Connected once the window is on screen, so a failure's box has its owner to sit on.
        QMetaObject::invokeMethod(this, &FormChoiceSource::reconnect, Qt::QueuedConnection);
    }
}

void FormChoiceSource::databaseEdited()
{
    if (m_source->text().trimmed() != m_connectedSource || m_database->text().trimmed() != m_connectedDatabase)
        reconnect();
}

void FormChoiceSource::reconnect()
{
    const QString source = m_source->text().trimmed();
    const QString database = m_database->text().trimmed();
    m_connectedSource = source;
    m_connectedDatabase = database;
    m_connection.reset();
    m_folder.clear();
    {
        const QSignalBlocker blockTables(m_tables);
        m_tables->setRowCount(0);
    }

    // The database is a folder of tables, or one table file whose folder is opened.
    const QFileInfo info(database.isEmpty() ? QDir::currentPath() : QDir::fromNativeSeparators(database));
    const QString folder = info.isFile() ? info.absolutePath() : info.absoluteFilePath();
    const QString chosenFile = info.isFile() ? info.fileName() : QString();
    auto connection = std::make_unique<Connection>();
    std::optional<std::vector<std::string>> tables;
    if (info.exists() && connection->bind(source.toStdString()) && connection->connect() &&
        connection->setConnectOption(kCurrentQualifierOption, QDir::toNativeSeparators(folder).toStdString()))
        tables = connection->tables();

    if (!tables) {
        m_tablesLabel->setText(QString::fromUtf8(kNotConnected));
        listColumns();
        updateButtons();
        QMessageBox::warning(this, QStringLiteral("Ошибка"), QString::fromUtf8(kConnectFailed));
        emit connectionChanged(false);
        return;
    }

    m_connection = std::move(connection);
    m_folder = folder;
    m_tablesLabel->setText(QString::fromUtf8(kTablesLabel));
    const QString location = QDir::toNativeSeparators(folder);
    int chosenRow = -1;
    {
        const QSignalBlocker blockTables(m_tables);
        for (const std::string& name : *tables) {
            // A file that is no readable table, or one without columns, offers nothing to select.
            const auto columns = m_connection->columns(name);
            if (!columns || columns->empty())
                continue;
            const int row = m_tables->rowCount();
            m_tables->insertRow(row);
            m_tables->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(name)));
            m_tables->setItem(row, 1, new QTableWidgetItem(location));
            if (QString::fromStdString(name) == chosenFile)
                chosenRow = row;
        }
        // The skipped files' records are not the user's concern here.
        m_connection->takeErrors();
        m_tables->resizeColumnToContents(0);
        m_tables->setColumnWidth(0, m_tables->columnWidth(0) + m_tables->fontMetrics().averageCharWidth() * 2);
        if (chosenRow >= 0)
            m_tables->selectRow(chosenRow);
    }
    listColumns();
    updateButtons();
    emit connectionChanged(true);
}

QString FormChoiceSource::selectedTable() const
{
    const QList<QTableWidgetItem*> selected = m_tables->selectedItems();
    for (QTableWidgetItem* item : selected) {
        if (item->column() == 0)
            return item->text();
    }
    return {};
}

void FormChoiceSource::listColumns()
{
    m_syncing = true;
    m_fields->setRowCount(0);
    const QString table = selectedTable();
    if (!table.isEmpty() && m_connection) {
        const auto columns = m_connection->columns(table.toStdString());
        m_connection->takeErrors();
        if (columns) {
            for (const ColumnInfo& column : *columns) {
                const int row = m_fields->rowCount();
                m_fields->insertRow(row);
                auto* name = new QTableWidgetItem(QString::fromStdString(column.name));
                name->setFlags(name->flags() | Qt::ItemIsUserCheckable);
                name->setCheckState(m_allFields->isChecked() ? Qt::Checked : Qt::Unchecked);
                m_fields->setItem(row, 0, name);
                const std::string_view type = Functions::TypeName(column.sqlType);
                m_fields->setItem(row, 1, new QTableWidgetItem(QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size()))));
            }
            m_fields->resizeColumnToContents(0);
            m_fields->setColumnWidth(0, m_fields->columnWidth(0) + m_fields->fontMetrics().averageCharWidth() * 2);
        }
    }
    m_syncing = false;
    composeSql();
}

void FormChoiceSource::fieldChanged(QTableWidgetItem* item)
{
    if (m_syncing || item->column() != 0)
        return;
    bool all = m_fields->rowCount() > 0;
    for (int row = 0; row < m_fields->rowCount() && all; ++row)
        all = m_fields->item(row, 0)->checkState() == Qt::Checked;
    {
        const QSignalBlocker block(m_allFields);
        m_allFields->setChecked(all);
    }
    composeSql();
}

void FormChoiceSource::allFieldsToggled(bool checked)
{
    m_syncing = true;
    for (int row = 0; row < m_fields->rowCount(); ++row)
        m_fields->item(row, 0)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    m_syncing = false;
    composeSql();
}

void FormChoiceSource::manualToggled(bool checked)
{
    m_sql->setReadOnly(!checked);
    // A box that cannot be typed into looks it.
    QPalette palette = m_sql->palette();
    palette.setColor(QPalette::Base, this->palette().color(checked ? QPalette::Base : QPalette::Window));
    m_sql->setPalette(palette);
    if (checked)
        m_sql->setFocus();
    else
        composeSql();
}

void FormChoiceSource::composeSql()
{
    if (m_manual->isChecked())
        return;
    const QString table = selectedTable();
    QStringList names;
    for (int row = 0; row < m_fields->rowCount(); ++row) {
        const QTableWidgetItem* item = m_fields->item(row, 0);
        if (item->checkState() == Qt::Checked)
            names << QString::fromStdString(Functions::sqlName(item->text().toStdString()));
    }
    QString text;
    if (!table.isEmpty() && !names.isEmpty()) {
        // The table by its name without ".dbf", as the tables are known in statements.
        const QString stem = table.endsWith(QStringLiteral(".dbf"), Qt::CaseInsensitive) ? table.chopped(4) : table;
        text = QStringLiteral("SELECT ") + names.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") +
               QString::fromStdString(Functions::sqlName(stem.toStdString()));
    }
    m_sql->setPlainText(text);
}

void FormChoiceSource::updateButtons()
{
    m_view->setEnabled(m_connection != nullptr && !sql().trimmed().isEmpty());
}

void FormChoiceSource::chooseFolder()
{
    const QString caption = QStringLiteral("Выберите папку, в которой находятся файлы базы данных.");
    const QString folder = m_folderDialog ? m_folderDialog(this, caption, QString())
                                          : QFileDialog::getExistingDirectory(this, caption, m_folder);
    if (folder.isEmpty())
        return;
    m_database->setText(QDir::toNativeSeparators(folder));
    reconnect();
}

void FormChoiceSource::chooseFile()
{
    const QString caption = QStringLiteral("Выберите файл базы данных.");
    const QString filter = QStringLiteral("dBase файлы (*.dbf);;Все файлы (*.*)");
    const QString file = m_fileDialog ? m_fileDialog(this, caption, filter)
                                      : QFileDialog::getOpenFileName(this, caption, m_folder, filter);
    if (file.isEmpty())
        return;
    m_database->setText(QDir::toNativeSeparators(file));
    reconnect();
}

void FormChoiceSource::load()
{
    const std::optional<QString> text = loadSqlText(this, m_loadDialog);
    if (!text)
        return;
    // A loaded statement is the user's own: it stays as loaded until manual SQL is turned off.
    m_manual->setChecked(true);
    m_sql->setPlainText(*text);
}

void FormChoiceSource::save()
{
    saveSqlText(this, m_saveDialog, sql());
}

void FormChoiceSource::view()
{
    if (!m_connection || sql().trimmed().isEmpty())
        return;
    auto* form = new FormViewSource(sql(), m_connectedSource, m_folder, this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    if (m_saveDialog)
        form->setSaveDialog(m_saveDialog);
    emit viewOpened(form);
    form->show();
}

}  // namespace peltra::data
