// The speech template window.
#include "editors/forms/FormTemplate.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace peltra::editors {

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kKeyRole = Qt::UserRole + 2;

QString q(const std::string& text) { return QString::fromStdString(text); }

// Function and dictionary leaves speak a field of the row.
bool speaksField(const std::string& chunk) { return !chunk.empty() && (chunk[0] == '@' || chunk[0] == '#'); }

}  // namespace

FormTemplate::FormTemplate(config::ConfigStore& store, std::string binding, std::string task,
                           std::vector<std::string> fieldNames, QWidget* parent)
    : QDialog(parent),
      m_store(store),
      m_binding(std::move(binding)),
      m_task(std::move(task)),
      m_fields(std::move(fieldNames)),
      m_patterns(store, m_binding, m_task),
      m_catalogue(new QTreeWidget(this)),
      m_items(new QTreeWidget(this)),
      m_spoken(new QLabel(this))
{
    setObjectName(QStringLiteral("FormTemplate"));
    setWindowTitle(QStringLiteral("Речевой шаблон - ") + q(m_binding) + QStringLiteral("\\") + q(m_task));
    m_chooseField = [this](const std::vector<std::string>& fields, const std::string& leafText) {
        QStringList names;
        for (const std::string& field : fields)
            names << q(field);
        bool ok = false;
        const QString chosen = QInputDialog::getItem(this, QStringLiteral("Поле таблицы"),
                                                     q(leafText) + QStringLiteral(": какое поле произносить?"), names,
                                                     0, false, &ok);
        return ok ? std::optional<std::string>(chosen.toStdString()) : std::nullopt;
    };

    m_catalogue->setObjectName(QStringLiteral("tv_catalogue"));
    m_catalogue->setHeaderLabels({QStringLiteral("Лексемы и функции"), QStringLiteral("Код")});
    m_items->setObjectName(QStringLiteral("lv_template"));
    m_items->setHeaderLabels({QStringLiteral("Фраза"), QStringLiteral("Код"), QStringLiteral("Поле")});
    m_items->setRootIsDecorated(false);
    for (QTreeWidget* tree : {m_catalogue, m_items})
        tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_spoken->setObjectName(QStringLiteral("label_spoken"));
    m_spoken->setWordWrap(true);

    auto* add = new QPushButton(QStringLiteral("Добавить >>"), this);
    add->setObjectName(QStringLiteral("cb_add"));
    auto* remove = new QPushButton(QStringLiteral("Удалить"), this);
    remove->setObjectName(QStringLiteral("cb_delete"));
    auto* up = new QPushButton(QStringLiteral("Вверх"), this);
    up->setObjectName(QStringLiteral("cb_up"));
    auto* down = new QPushButton(QStringLiteral("Вниз"), this);
    down->setObjectName(QStringLiteral("cb_down"));
    connect(add, &QPushButton::clicked, this, &FormTemplate::addSelected);
    connect(remove, &QPushButton::clicked, this, &FormTemplate::removeSelected);
    connect(up, &QPushButton::clicked, this, &FormTemplate::moveSelectedUp);
    connect(down, &QPushButton::clicked, this, &FormTemplate::moveSelectedDown);
    connect(m_catalogue, &QTreeWidget::itemDoubleClicked, this, [this] { addSelected(); });

    auto* buttons = new QVBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {add, remove, up, down})
        buttons->addWidget(button);
    buttons->addStretch(1);
    auto* lists = new QHBoxLayout;
    lists->addWidget(m_catalogue, 1);
    lists->addLayout(buttons);
    lists->addWidget(m_items, 1);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addWidget(m_spoken);
    layout->addWidget(close);
    resize(820, 480);

    fillCatalogue(nullptr, "");
    m_catalogue->expandToDepth(0);
    m_catalogue->resizeColumnToContents(1);
    reload();
}

void FormTemplate::fillCatalogue(QTreeWidgetItem* parent, const std::string& path)
{
    speech::Catalogue& catalogue = m_patterns.catalogue();
    for (const std::string& child : catalogue.children(path)) {
        const std::string childPath = path.empty() ? child : path + "\\" + child;
        const auto entry = catalogue.entry(childPath);
        if (!entry)
            continue;
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_catalogue);
        item->setText(0, q(entry->isLeaf && !entry->text.empty() ? entry->text : child));
        item->setData(0, kPathRole, q(childPath));
        if (entry->isLeaf)
            item->setText(1, q(entry->chunk));
        else
            fillCatalogue(item, childPath);
    }
}

void FormTemplate::reload()
{
    std::string error;
    const std::string keep = selectedItem();
    m_patterns.Load(m_loaded, &error);
    m_items->clear();
    QStringList spoken;
    for (const speech::PatternItem& item : m_loaded) {
        auto* row = new QTreeWidgetItem(m_items, {q(item.text.empty() ? item.path : item.text), q(item.chunk),
                                                  q(item.arg)});
        row->setData(0, kKeyRole, q(item.keyName));
        row->setToolTip(0, q(item.path));
        spoken << (item.arg.empty() ? q(item.text) : q(item.text) + QStringLiteral(" [") + q(item.arg) + QStringLiteral("]"));
    }
    m_items->resizeColumnToContents(1);
    m_spoken->setText(spoken.isEmpty() ? QStringLiteral("В речевом шаблоне нет ни одной фразы.")
                                       : QStringLiteral("Порядок: ") + spoken.join(QStringLiteral(" · ")));
    select(keep);
}

std::string FormTemplate::selectedItem() const
{
    QTreeWidgetItem* current = m_items->currentItem();
    return current ? current->data(0, kKeyRole).toString().toStdString() : std::string();
}

void FormTemplate::select(const std::string& keyName)
{
    for (int row = 0; row < m_items->topLevelItemCount(); ++row)
        if (m_items->topLevelItem(row)->data(0, kKeyRole).toString().toStdString() == keyName)
            m_items->setCurrentItem(m_items->topLevelItem(row));
}

void FormTemplate::report(const std::string& error)
{
    QMessageBox::warning(this, QStringLiteral("Ошибка"), q(error));
}

void FormTemplate::addSelected()
{
    QTreeWidgetItem* leaf = m_catalogue->currentItem();
    if (!leaf || leaf->childCount() > 0 || leaf->text(1).isEmpty())
        return;
    speech::PatternItem item;
    item.path = leaf->data(0, kPathRole).toString().toStdString();
    if (speaksField(leaf->text(1).toStdString())) {
        const auto field = m_chooseField(m_fields, leaf->text(0).toStdString());
        if (!field)
            return;
        item.arg = *field;
    }
    // After the selected item; at the end when nothing is selected.
    std::string after = selectedItem();
    if (after.empty() && !m_loaded.empty())
        after = m_loaded.back().keyName;
    std::string error;
    const auto created = m_patterns.Insert(after, item, &error);
    if (!created) {
        report(error);
        return;
    }
    reload();
    select(*created);
    emit templateChanged();
}

void FormTemplate::removeSelected()
{
    const std::string item = selectedItem();
    if (item.empty())
        return;
    std::string error;
    if (!m_patterns.Remove(item, &error))
        report(error);
    reload();
    emit templateChanged();
}

void FormTemplate::moveSelectedUp()
{
    const std::string item = selectedItem();
    for (std::size_t i = 1; i < m_loaded.size(); ++i) {
        if (m_loaded[i].keyName != item)
            continue;
        std::string error;
        const std::string after = i >= 2 ? m_loaded[i - 2].keyName : std::string();
        if (!m_patterns.MoveAfter(item, after, &error))
            report(error);
        reload();
        select(item);
        emit templateChanged();
        return;
    }
}

void FormTemplate::moveSelectedDown()
{
    const std::string item = selectedItem();
    for (std::size_t i = 0; i + 1 < m_loaded.size(); ++i) {
        if (m_loaded[i].keyName != item)
            continue;
        std::string error;
        if (!m_patterns.MoveAfter(item, m_loaded[i + 1].keyName, &error))
            report(error);
        reload();
        select(item);
        emit templateChanged();
        return;
    }
}

}  // namespace peltra::editors
