// The dialog that chooses which of the present ports serve as lines.
#include "calls/forms/FormPorts.h"

#include "calls/forms/FormComProperty.h"
#include "platform/errors/SystemError.h"
#include "platform/text/CaseFold.h"
#include "sip/TrunkSettings.h"

#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cerrno>
#include <functional>

namespace peltra::calls {

const char* const FormPorts::kAvailable = "Доступен";
const char* const FormPorts::kSaveFailed = "Не удалось сохранить список линий";
const char* const FormPorts::kSipChannel = "SIP-канал";

namespace {

constexpr int kIndexRole = Qt::UserRole;

// A port list that takes drops only from its partner list. Dropping copies nothing by itself:
// the form moves the partner's selected ports, so a drop and a button press do the same thing.
class PortList : public QTreeWidget {
public:
    explicit PortList(QWidget* parent) : QTreeWidget(parent)
    {
        setColumnCount(2);
        setHeaderLabels({QStringLiteral("Имя"), QStringLiteral("Состояние")});
        setRootIsDecorated(false);
        setSelectionMode(QAbstractItemView::ExtendedSelection);
        setDragDropMode(QAbstractItemView::DragDrop);
        // A copy as far as the source knows, so it never removes the rows itself.
        setDefaultDropAction(Qt::CopyAction);
        header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
        header()->setStretchLastSection(true);
    }

    void setPartner(QTreeWidget* partner, std::function<void()> onDrop)
    {
        m_partner = partner;
        m_onDrop = std::move(onDrop);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override { acceptFromPartner(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { acceptFromPartner(event); }
    void dropEvent(QDropEvent* event) override
    {
        if (!acceptFromPartner(event))
            return;
        if (m_onDrop)
            m_onDrop();
    }

private:
    bool acceptFromPartner(QDropEvent* event)
    {
        if (m_partner == nullptr || event->source() != m_partner) {
            event->ignore();
            return false;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return true;
    }

    QTreeWidget* m_partner = nullptr;
    std::function<void()> m_onDrop;
};

QIcon stateIcon(const QColor& colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(150));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    return QIcon(pixmap);
}

}  // namespace

FormPorts::FormPorts(config::ConfigStore& store, platform::Event& linesChanged,
                     std::vector<line::ComString> presentPorts, QWidget* parent)
    : QDialog(parent), m_store(store), m_settings(store), m_linesChanged(linesChanged),
      m_ports(std::move(presentPorts)), m_availableIcon(stateIcon(QColor(40, 170, 40))),
      m_unavailableIcon(stateIcon(QColor(200, 40, 40)))
{
    setObjectName("FormPorts");
    setWindowTitle(QStringLiteral("Выбор линий"));

    const std::vector<std::string> configured = m_settings.configuredPorts();
    auto isConfigured = [&](const std::string& name) {
        for (const std::string& port : configured) {
            if (platform::equalsIgnoreCase(port, name))
                return true;
        }
        return false;
    };
    for (line::ComString& port : m_ports)
        port.usedAsLine = isConfigured(port.name);
    for (const std::string& port : configured) {
        bool present = false;
        for (const line::ComString& listed : m_ports)
            present = present || platform::equalsIgnoreCase(listed.name, port);
        if (!present)
            m_ports.push_back({port, true, sip::isSipPort(port) ? 0 : ENOENT, {}});
    }

    auto* free = new PortList(this);
    free->setObjectName("lv_1");
    auto* lines = new PortList(this);
    lines->setObjectName("lv_2");
    m_free = free;
    m_lines = lines;
    free->setPartner(lines, [this] { moveSelected(*m_lines, *m_free); });
    lines->setPartner(free, [this] { moveSelected(*m_free, *m_lines); });
    for (std::size_t i = 0; i < m_ports.size(); ++i)
        addRow(m_ports[i].usedAsLine ? *m_lines : *m_free, i);

    m_add = new QPushButton(QStringLiteral("Добавить >>"), this);
    m_add->setObjectName("cb_AddSel");
    m_remove = new QPushButton(QStringLiteral("<< Убрать"), this);
    m_remove->setObjectName("cb_DelSel");
    m_addSip = new QPushButton(QStringLiteral("Добавить SIP-канал"), this);
    m_addSip->setObjectName("cb_AddSip");
    m_properties = new QPushButton(QStringLiteral("Настройка..."), this);
    m_properties->setObjectName("cb_PropCom");
    connect(m_add, &QPushButton::clicked, this, &FormPorts::addSelected);
    connect(m_remove, &QPushButton::clicked, this, &FormPorts::removeSelected);
    connect(m_addSip, &QPushButton::clicked, this, &FormPorts::addSipChannel);
    connect(m_properties, &QPushButton::clicked, this, &FormPorts::openProperties);

    // One selection at a time across both lists, so "the selected port" is never ambiguous.
    connect(m_free, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_free->selectedItems().isEmpty())
            m_lines->clearSelection();
        updateButtons();
    });
    connect(m_lines, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (!m_lines->selectedItems().isEmpty())
            m_free->clearSelection();
        updateButtons();
    });
    for (QTreeWidget* list : {m_free, m_lines})
        connect(list, &QTreeWidget::itemDoubleClicked, this, &FormPorts::openProperties);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* applyButton = buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::ApplyRole);
    applyButton->setObjectName("cb_Apply");
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormPorts::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormPorts::reject);
    connect(applyButton, &QPushButton::clicked, this, &FormPorts::apply);

    auto* middle = new QVBoxLayout;
    middle->addStretch();
    middle->addWidget(m_add);
    middle->addWidget(m_remove);
    middle->addSpacing(12);
    middle->addWidget(m_addSip);
    middle->addSpacing(12);
    middle->addWidget(m_properties);
    middle->addStretch();

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("Порты"), this), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("Линии"), this), 0, 2);
    grid->addWidget(m_free, 1, 0);
    grid->addLayout(middle, 1, 1);
    grid->addWidget(m_lines, 1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    updateButtons();
}

QTreeWidgetItem* FormPorts::addRow(QTreeWidget& list, std::size_t index)
{
    const line::ComString& port = m_ports[index];
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(port.name));
    item->setText(1, sip::isSipPort(port.name) ? QString::fromUtf8(kSipChannel)
                     : port.openError == 0   ? QString::fromUtf8(kAvailable)
                     : !port.reason.empty()  ? QString::fromStdString(port.reason)
                                             : QString::fromStdString(platform::systemMessage(port.openError)));
    item->setIcon(1, port.openError == 0 ? m_availableIcon : m_unavailableIcon);
    item->setData(0, kIndexRole, static_cast<qulonglong>(index));
    // Rows cannot take drops themselves: a drop lands on the list, never inside a row.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    // Both lists keep the probe's order.
    int row = 0;
    while (row < list.topLevelItemCount() && list.topLevelItem(row)->data(0, kIndexRole).toULongLong() < index)
        ++row;
    list.insertTopLevelItem(row, item);
    return item;
}

void FormPorts::moveSelected(QTreeWidget& from, QTreeWidget& to)
{
    const QList<QTreeWidgetItem*> selected = from.selectedItems();
    if (selected.isEmpty())
        return;
    to.clearSelection();
    std::vector<std::size_t> moved;
    for (QTreeWidgetItem* item : selected)
        moved.push_back(static_cast<std::size_t>(item->data(0, kIndexRole).toULongLong()));
    qDeleteAll(selected);
    // The moved ports stay selected where they went, so they can be moved back at once.
    for (std::size_t index : moved)
        addRow(to, index)->setSelected(true);
    updateButtons();
}

void FormPorts::addSelected() { moveSelected(*m_free, *m_lines); }
void FormPorts::removeSelected() { moveSelected(*m_lines, *m_free); }

void FormPorts::addSipChannel()
{
    const auto listed = [](QTreeWidget& list, const std::string& name) -> QTreeWidgetItem* {
        for (int row = 0; row < list.topLevelItemCount(); ++row)
            if (platform::equalsIgnoreCase(list.topLevelItem(row)->text(0).toStdString(), name))
                return list.topLevelItem(row);
        return nullptr;
    };
    unsigned number = 1;
    while (listed(*m_lines, "SIP" + std::to_string(number)))
        ++number;
    const std::string name = "SIP" + std::to_string(number);
    m_free->clearSelection();
    m_lines->clearSelection();
    // A channel taken off the lines earlier comes back rather than being listed twice.
    if (QTreeWidgetItem* item = listed(*m_free, name)) {
        item->setSelected(true);
        moveSelected(*m_free, *m_lines);
        return;
    }
    m_ports.push_back({name, false, 0, {}});
    addRow(*m_lines, m_ports.size() - 1)->setSelected(true);
    updateButtons();
}

std::string FormPorts::selectedPort() const
{
    for (QTreeWidget* list : {m_free, m_lines}) {
        const QList<QTreeWidgetItem*> selected = list->selectedItems();
        if (selected.isEmpty())
            continue;
        QTreeWidgetItem* item = list->currentItem() && list->currentItem()->isSelected() ? list->currentItem()
                                                                                         : selected.front();
        return item->text(0).toStdString();
    }
    return {};
}

void FormPorts::updateButtons()
{
    m_add->setEnabled(!m_free->selectedItems().isEmpty());
    m_remove->setEnabled(!m_lines->selectedItems().isEmpty());
    m_properties->setEnabled(!selectedPort().empty());
}

void FormPorts::openProperties()
{
    const std::string port = selectedPort();
    if (port.empty())
        return;
    QPointer<FormComProperty>& form = m_propertyForms[port];
    if (!form) {
        form = new FormComProperty(m_store, port, this);
        form->setAttribute(Qt::WA_DeleteOnClose);
    }
    form->show();
    form->raise();
    form->activateWindow();
}

bool FormPorts::apply()
{
    std::vector<std::string> lines;
    std::vector<bool> isLine(m_ports.size(), false);
    for (int row = 0; row < m_lines->topLevelItemCount(); ++row) {
        const auto index = static_cast<std::size_t>(m_lines->topLevelItem(row)->data(0, kIndexRole).toULongLong());
        isLine[index] = true;
        lines.push_back(m_ports[index].name);
    }
    if (!m_settings.setConfiguredPorts(lines)) {
        auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), QString::fromUtf8(kSaveFailed),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
        return false;
    }
    for (std::size_t i = 0; i < m_ports.size(); ++i)
        m_ports[i].usedAsLine = isLine[i];
    m_linesChanged.set();
    return true;
}

void FormPorts::accept()
{
    if (apply())
        QDialog::accept();
}

}  // namespace peltra::calls
