// The new table dialog.
#include "data/forms/FormNewTable.h"

#include "data/Connection.h"
#include "data/Query.h"
#include "data/forms/OdbcErrorMessageBox.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace peltra::data {

const char* const FormNewTable::kTitle = "Создание новой таблицы";
const char* const FormNewTable::kTempTableName = "__tmp__.dbf";

namespace {

namespace fs = std::filesystem;

constexpr int kMaxNumWidth = 19;
constexpr int kMaxCharLength = 1024;
// The longest field name a dBase header holds.
constexpr int kMaxNameLength = 10;

enum TypeChoice { Num = 0, Char = 1, Date = 2, Log = 3 };

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

// A private folder for the temporary table, removed with everything in it when the attempt ends,
// so no temporary table outlives the dialog's work whatever way it ends.
class TempFolder {
public:
    TempFolder()
    {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "peltra-newtable-XXXXXX").string();
        if (!ec && ::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!m_path.empty())
            fs::remove_all(m_path, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// Puts the created file in place of the destination. The destination is replaced only once the
// new file is complete beside it, so a failure never costs the file being replaced.
bool moveInto(const fs::path& from, const fs::path& to, std::string& error)
{
    std::error_code ec;
    fs::rename(from, to, ec);
    if (!ec)
        return true;
    if (ec != std::errc::cross_device_link) {
        error = ec.message();
        return false;
    }
    fs::path staging = to;
    staging += ".peltra-new";
    fs::copy_file(from, staging, fs::copy_options::overwrite_existing, ec);
    if (!ec)
        fs::rename(staging, to, ec);
    if (ec) {
        error = ec.message();
        std::error_code ignored;
        fs::remove(staging, ignored);
        return false;
    }
    fs::remove(from, ec);
    return true;
}

}  // namespace

FormNewTable::FormNewTable(QWidget* parent) : QDialog(parent)
{
    setObjectName("FormNewTable");
    setWindowTitle(QString::fromUtf8(kTitle));
    setModal(true);

    m_grid = new QTreeWidget(this);
    m_grid->setObjectName("lv_fields");
    m_grid->setColumnCount(3);
    m_grid->setHeaderLabels({QStringLiteral("Имя"), QStringLiteral("Тип"), QStringLiteral("Длина")});
    m_grid->setRootIsDecorated(false);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->header()->setStretchLastSection(false);
    m_grid->header()->setMinimumSectionSize(40);
    m_grid->setColumnWidth(0, 100);
    m_grid->setColumnWidth(1, 40);
    m_grid->setColumnWidth(2, 45);
    // The original widths are minimums: the texts of the current font must not be cut.
    m_grid->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_grid->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_grid->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_grid->setMinimumWidth(220);

    m_name = new QLineEdit(this);
    m_name->setObjectName("textb_name");
    m_name->setMaxLength(kMaxNameLength);
    m_type = new QComboBox(this);
    m_type->setObjectName("combo_type");
    m_type->addItems({QStringLiteral("Num"), QStringLiteral("Char"), QStringLiteral("Date"), QStringLiteral("Log")});
    const QRegularExpression digits(QStringLiteral("\\d{0,5}"));
    m_width = new QLineEdit(QStringLiteral("10"), this);
    m_width->setObjectName("textb_width");
    m_width->setValidator(new QRegularExpressionValidator(digits, m_width));
    m_decimals = new QLineEdit(QStringLiteral("0"), this);
    m_decimals->setObjectName("textb_decimals");
    m_decimals->setValidator(new QRegularExpressionValidator(digits, m_decimals));

    m_add = new QPushButton(QStringLiteral("Добавить"), this);
    m_add->setObjectName("cb_add");
    m_remove = new QPushButton(QStringLiteral("Удалить"), this);
    m_remove->setObjectName("cb_remove");
    m_create = new QPushButton(QStringLiteral("Создать..."), this);
    m_create->setObjectName("cb_create");
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName("cb_cancel");
    for (QPushButton* button : {m_add, m_remove, m_create, cancel})
        button->setAutoDefault(false);

    auto* fieldBox = new QGroupBox(QStringLiteral("Новое поле"), this);
    fieldBox->setObjectName("groupb_field");
    auto* fieldLayout = new QGridLayout(fieldBox);
    auto addLabelled = [&](int row, const QString& caption, const char* name, QWidget* widget) {
        auto* label = new QLabel(caption, fieldBox);
        label->setObjectName(QString::fromLatin1(name));
        label->setBuddy(widget);
        fieldLayout->addWidget(label, row, 0);
        fieldLayout->addWidget(widget, row, 1);
    };
    addLabelled(0, QStringLiteral("&Имя:"), "label_name", m_name);
    addLabelled(1, QStringLiteral("&Тип:"), "label_type", m_type);
    addLabelled(2, QStringLiteral("&Длина:"), "label_width", m_width);
    addLabelled(3, QStringLiteral("Д&есятичных:"), "label_decimals", m_decimals);
    auto* fieldButtons = new QHBoxLayout;
    fieldButtons->addWidget(m_add);
    fieldButtons->addWidget(m_remove);
    fieldLayout->addLayout(fieldButtons, 4, 0, 1, 2);
    fieldLayout->setRowStretch(5, 1);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_create);
    bottom->addWidget(cancel);

    auto* top = new QHBoxLayout;
    top->addWidget(m_grid, 1);
    top->addWidget(fieldBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);

    connect(m_add, &QPushButton::clicked, this, &FormNewTable::addField);
    connect(m_name, &QLineEdit::returnPressed, this, &FormNewTable::addField);
    connect(m_remove, &QPushButton::clicked, this, &FormNewTable::removeSelected);
    connect(m_create, &QPushButton::clicked, this, &FormNewTable::createTable);
    connect(cancel, &QPushButton::clicked, this, &FormNewTable::reject);
    connect(m_type, &QComboBox::currentIndexChanged, this, &FormNewTable::onTypeChanged);
    connect(m_width, &QLineEdit::textEdited, this, &FormNewTable::onWidthEdited);
    connect(m_decimals, &QLineEdit::textEdited, this, &FormNewTable::onDecimalsEdited);
    connect(m_grid, &QTreeWidget::itemSelectionChanged, this, &FormNewTable::updateButtons);

    appendRow({"TELEF", "Char", "(12)", "Char", "12", false});
    appendRow({"PROBA", "numeric", "(3,0)", "Num", "3,0", false});
    appendRow({"OTBOJ", "numeric", "(3,0)", "Num", "3,0", false});
    appendRow({"DATA", "Date", "", "Date", "8", false});
    appendRow({"CLOCK", "Char", "(8)", "Char", "8", false});
    m_grid->clearSelection();
    onTypeChanged();
    updateButtons();
    m_name->setFocus();
    resize(440, 320);
}

std::string FormNewTable::createStatement(const std::string& tableName) const
{
    std::string sql = "CREATE TABLE " + tableName + "(\r\n";
    bool first = true;
    for (const FieldRow& row : m_fields) {
        sql += first ? " " : ", ";
        first = false;
        sql += row.name + " " + row.typeWord + row.sizePart + " \r\n";
    }
    sql += " )";
    return sql;
}

void FormNewTable::appendRow(FieldRow row)
{
    auto* item = new QTreeWidgetItem(m_grid, {text(row.name), text(row.shownType), text(row.shownLength)});
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    if (!row.removable)
        item->setForeground(0, palette().brush(QPalette::Disabled, QPalette::Text));
    m_fields.push_back(std::move(row));
    m_grid->setCurrentItem(item);
    m_grid->scrollToItem(item);
}

bool FormNewTable::refuse(const QString& message, QWidget* focus)
{
    QMessageBox::information(this, QStringLiteral("Ошибка"), message);
    focus->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(focus))
        edit->selectAll();
    return false;
}

bool FormNewTable::addField()
{
    const std::string name = m_name->text().toStdString();
    const bool validChars = std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    });
    if (!validChars)
        return refuse(QStringLiteral("Имя поля содержит недопустимые символы."), m_name);
    // An empty name does not begin with a letter either.
    if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name[0] == '_')
        return refuse(QStringLiteral("Имя поля должно начинаться с буквы."), m_name);
    const bool taken = std::any_of(m_fields.begin(), m_fields.end(),
                                   [&](const FieldRow& row) { return row.name == name; });
    if (taken)
        return refuse(QStringLiteral("Поле с таким названием уже существует."), m_name);

    FieldRow row;
    row.name = name;
    const int width = m_width->text().toInt();
    const int decimals = m_decimals->isEnabled() ? m_decimals->text().toInt() : 0;
    switch (m_type->currentIndex()) {
    case Num:
        if (width <= 0)
            return refuse(QStringLiteral("Не указана длина поля."), m_width);
        row.typeWord = "numeric";
        row.shownType = "Num";
        row.shownLength = std::to_string(width) + "," + std::to_string(decimals);
        // The declared precision counts digits only; the width also holds the point.
        row.sizePart = decimals == 0 ? "(" + row.shownLength + ")"
                                     : "(" + std::to_string(width - 1) + "," + std::to_string(decimals) + ")";
        break;
    case Char:
        if (width <= 0)
            return refuse(QStringLiteral("Не указана длина поля."), m_width);
        row.typeWord = "char";
        row.shownType = "Char";
        row.shownLength = std::to_string(width);
        row.sizePart = "(" + row.shownLength + ")";
        break;
    case Date:
        row.typeWord = "date";
        row.shownType = "Date";
        row.shownLength = "8";
        break;
    default:
        row.typeWord = "logical";
        row.shownType = "Log";
        row.shownLength = "1";
        break;
    }
    appendRow(std::move(row));
    m_name->clear();
    m_name->setFocus();
    return true;
}

void FormNewTable::removeSelected()
{
    QTreeWidgetItem* item = m_grid->currentItem();
    if (item == nullptr || !item->isSelected())
        return;
    const int index = m_grid->indexOfTopLevelItem(item);
    if (index < 0 || !m_fields[static_cast<std::size_t>(index)].removable)
        return;
    m_fields.erase(m_fields.begin() + index);
    delete m_grid->takeTopLevelItem(index);
    updateButtons();
}

void FormNewTable::updateButtons()
{
    QTreeWidgetItem* item = m_grid->currentItem();
    const int index = item != nullptr && item->isSelected() ? m_grid->indexOfTopLevelItem(item) : -1;
    m_remove->setEnabled(index >= 0 && m_fields[static_cast<std::size_t>(index)].removable);
}

void FormNewTable::onTypeChanged()
{
    switch (m_type->currentIndex()) {
    case Date:
        m_width->setText(QStringLiteral("8"));
        m_width->setEnabled(false);
        break;
    case Log:
        m_width->setText(QStringLiteral("1"));
        m_width->setEnabled(false);
        break;
    default:
        if (!m_width->isEnabled())
            m_width->setText(QStringLiteral("10"));
        m_width->setEnabled(true);
        break;
    }
    onWidthEdited();
}

void FormNewTable::onWidthEdited()
{
    const int type = m_type->currentIndex();
    const int limit = type == Num ? kMaxNumWidth : type == Char ? kMaxCharLength : 0;
    int width = m_width->text().toInt();
    if (limit > 0 && width > limit) {
        width = limit;
        m_width->setText(QString::number(limit));
        m_width->selectAll();
    }
    const bool decimals = type == Num && width >= 3;
    m_decimals->setEnabled(decimals);
    if (!decimals)
        m_decimals->setText(QStringLiteral("0"));
    else if (m_decimals->text().toInt() > width - 2)
        m_decimals->setText(QString::number(width - 2));
}

void FormNewTable::onDecimalsEdited()
{
    // The point takes a place of the width, and at least one digit stands before it.
    const int limit = m_width->text().toInt() - 2;
    if (limit >= 0 && m_decimals->text().toInt() > limit) {
        m_decimals->setText(QString::number(limit));
        m_decimals->selectAll();
    }
}

void FormNewTable::reportCreateFailure(const QString& message, const std::vector<OdbcError>& errors)
{
    QMessageBox::information(this, windowTitle(), message);
    showErrors(this, errors);
}

QString FormNewTable::askDestination()
{
    const QString caption = QStringLiteral("Сохранить как");
    const QString filter = QStringLiteral("DBF-файлы (*.dbf)");
    if (m_saveDialog)
        return m_saveDialog(this, caption, filter);
    return QFileDialog::getSaveFileName(this, caption, QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

bool FormNewTable::createTable()
{
    const std::string temp = kTempTableName;
    TempFolder folder;
    if (folder.path().empty()) {
        QMessageBox::information(this, windowTitle(), QStringLiteral("Не удалось создать временную папку для таблицы."));
        return false;
    }
    Connection connection;
    if (!connection.bind("peltra") || !connection.connect()) {
        reportCreateFailure(QStringLiteral("Невозможно выполнить соединение с источником данных."),
                            connection.takeErrors());
        return false;
    }
    // The temporary table goes into the private folder, named as the statement names it.
    if (!connection.setConnectOption(kCurrentQualifierOption, folder.path().string()) ||
        !connection.executeDirect(createStatement(temp))) {
        reportCreateFailure(QStringLiteral("Не удалось создать таблицу."), connection.takeErrors());
        return false;
    }
    {
        Query check(connection);
        check.setSql("SELECT * FROM " + temp);
        if (!check.open()) {
            reportCreateFailure(QStringLiteral("Не удалось открыть созданную таблицу."), connection.takeErrors());
            return false;
        }
        check.close();
    }
    auto dropTemp = [&] { connection.executeDirect("DROP TABLE " + temp); };

    QString chosen = askDestination();
    if (chosen.isEmpty()) {
        dropTemp();
        return false;
    }
    fs::path destination = chosen.toStdString();
    if (!destination.has_extension())
        destination += ".dbf";
    const QString destinationText = QString::fromStdString(destination.string());

    std::error_code ec;
    if (fs::exists(destination, ec)) {
        const QString question = QStringLiteral("Файл '") + destinationText +
                                 QStringLiteral("' уже существует.\r\nВ случае его замены все данные будут "
                                                "утеряны.\r\nВы желаете его заменить?");
        if (QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No) != QMessageBox::Yes) {
            dropTemp();
            return false;
        }
    }
    connection.disconnect();
    std::string error;
    if (!moveInto(folder.path() / temp, destination, error)) {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("Не удалось сохранить таблицу в файле '") + destinationText +
                                     QStringLiteral("'.\r\n") + QString::fromStdString(error));
        return false;
    }
    m_createdPath = destinationText;
    emit created(destinationText);
    accept();
    return true;
}

}  // namespace peltra::data
