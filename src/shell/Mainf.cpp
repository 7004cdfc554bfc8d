// The main window.
#include "shell/Mainf.h"

#include "calls/forms/FormPorts.h"
#include "data/forms/FormChoiceSource.h"
#include "editors/forms/FormLinking.h"
#include "editors/forms/FormTaskManager.h"
#include "platform/text/Trim.h"
#include "reports/forms/FormReport.h"
#include "shell/dialogs/AboutBox.h"
#include "shell/dialogs/FormLocalPhone.h"
#include "shell/dialogs/FormPreference.h"
#include "shell/dialogs/FormWaitCompletion.h"
#include "shell/dialogs/Properties.h"
#include "sms/forms/FormSmsTasks.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QScrollArea>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace peltra::shell {

namespace {

constexpr char kProduct[] = "Peltra 2001";
constexpr int kTaskIdRole = Qt::UserRole + 1;
constexpr int kLineNumberRole = Qt::UserRole + 2;

QString q(const std::string& text) { return QString::fromStdString(text); }

// A notice from a line or the pool: shown, never waited for.
QMessageBox* showBox(QWidget* parent, const std::string& caption, const std::string& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, q(caption), q(text), QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

// A round lamp of one colour, the icons of the lists.
QIcon lamp(const QColor& colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(colour.darker(150));
    painter.drawEllipse(2, 2, 12, 12);
    return QIcon(pixmap);
}

QIcon taskIcon(engine::TaskState state)
{
    switch (state) {
    case engine::TaskState::Running:
    case engine::TaskState::Withdrawing:
        return lamp(QColor(0, 160, 0));
    case engine::TaskState::Finished:
        return lamp(QColor(0, 90, 200));
    case engine::TaskState::Idle:
        return lamp(QColor(230, 180, 0));
    case engine::TaskState::Stopped:
        break;
    }
    return lamp(QColor(150, 150, 150));
}

QIcon lineIcon(calls::LineIcon icon)
{
    switch (icon) {
    case calls::LineIcon::Free:
        return lamp(QColor(0, 160, 0));
    case calls::LineIcon::Working:
        return lamp(QColor(230, 120, 0));
    case calls::LineIcon::OutOfOrder:
        break;
    }
    return lamp(QColor(200, 0, 0));
}

}  // namespace

Mainf::Mainf(Paths paths, QWidget* parent) : QMainWindow(parent), m_paths(std::move(paths))
{
    setObjectName(QStringLiteral("Mainf"));
    setWindowTitle(QStringLiteral("PELTRA"));
    setWindowIcon(lamp(QColor(0, 90, 200)));
    buildMenu();
    buildWindow();
    buildTray();
}

Mainf::~Mainf() { shutdownStation(); }

QAction* Mainf::action(MenuId id) const
{
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

void Mainf::buildMenu()
{
    const auto add = [&](QMenu* menu, MenuId id, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setData(static_cast<int>(id));
        connect(action, &QAction::triggered, this, [this, id] { command(id); });
        m_actions[id] = action;
        return action;
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    add(file, kMenuExit, QStringLiteral("Завершение работы"));
    QMenu* tasks = menuBar()->addMenu(QStringLiteral("Задания"));
    add(tasks, kMenuPause, QStringLiteral("Приостановить все"));
    add(tasks, kMenuResume, QStringLiteral("Продолжить"));
    tasks->addSeparator();
    add(tasks, kMenuTaskEditor, QStringLiteral("Редактор заданий"));
    add(tasks, kMenuResults, QStringLiteral("Просмотр результатов"));
    add(tasks, kMenuSms, QStringLiteral("Задания SMS"));
    QMenu* service = menuBar()->addMenu(QStringLiteral("Сервис"));
    add(service, kMenuPorts, QStringLiteral("Настройка портов"));
    add(service, kMenuLexemeEditor, QStringLiteral("Редактор лексем"));
    add(service, kMenuLinking, QStringLiteral("Связывание заданий с портами"));
    add(service, kMenuLocalPhone, QStringLiteral("\"Местный телефон\""))->setCheckable(true);
    QMenu* sql = service->addMenu(QStringLiteral("SQL сервис"));
    add(sql, kMenuSqlBrowser, QStringLiteral("Просмотр базы данных по SQL запросу"));
    service->addSeparator();
    add(service, kMenuPreferences, QStringLiteral("Параметры..."));
    QMenu* help = menuBar()->addMenu(QStringLiteral("Помощь"));
    add(help, kMenuHelp, QStringLiteral("Справка по PELTRA"));
    add(help, kMenuAbout, QStringLiteral("О программе"));
}

void Mainf::buildWindow()
{
    m_answer = new QLabel(this);
    m_answer->setObjectName(QStringLiteral("label_answer"));
    QFont big = m_answer->font();
    big.setPointSize(big.pointSize() + 2);
    big.setBold(true);
    m_answer->setFont(big);

    m_tasks = new QTreeWidget(this);
    m_tasks->setObjectName(QStringLiteral("lv_ActiveTasks"));
    m_tasks->setHeaderLabels({QStringLiteral("Задание"), QStringLiteral("Состояние"), QStringLiteral("Оповещено"),
                              QStringLiteral("Примечания")});
    m_lines = new QTreeWidget(this);
    m_lines->setObjectName(QStringLiteral("lv_ActiveLine"));
    m_lines->setHeaderLabels(
        {QStringLiteral("Порт"), QStringLiteral("Состояние"), QStringLiteral("Задание"), QStringLiteral("Примечания")});
    for (QTreeWidget* list : {m_tasks, m_lines}) {
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
    }
    // Fitted from the start: with no row yet the headers alone set the widths.
    fitColumns(m_tasks);
    fitColumns(m_lines);

    auto* tabs = new QTabWidget(this);
    tabs->addTab(m_tasks, QStringLiteral("Выполняемые задания"));
    tabs->addTab(m_lines, QStringLiteral("Активные порты"));

    // FormParentLine: the monitor window of every line, scrolled as they grow in number.
    auto* lineFrame = new QScrollArea(this);
    lineFrame->setObjectName(QStringLiteral("FormParentLine"));
    lineFrame->setWidgetResizable(true);
    auto* monitors = new QWidget(lineFrame);
    m_monitorLayout = new QVBoxLayout(monitors);
    m_monitorLayout->setContentsMargins(0, 0, 0, 0);
    m_monitorLayout->addStretch(1);
    lineFrame->setWidget(monitors);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(tabs);
    splitter->addWidget(lineFrame);
    // The lists need a few rows; the lines' monitor windows take the rest.
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({180, 360});

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(m_answer);
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    for (int part = 0; part < 2; ++part) {
        m_status[part] = new QLabel(this);
        m_status[part]->setObjectName(QStringLiteral("status_part%1").arg(part));
    }
    m_status[0]->setMinimumWidth(250);
    statusBar()->addWidget(m_status[0]);
    statusBar()->addWidget(m_status[1], 1);
    resize(760, 620);
}

void Mainf::buildTray()
{
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip(QString::fromUtf8(kProduct));
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("Открыть"), this, [this] { showNormalAndRaise(); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Выход"), this, [this] {
        showNormalAndRaise();
        close();
    });
    m_tray->setContextMenu(menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            showNormalAndRaise();
    });
}

void Mainf::showNormalAndRaise()
{
    showNormal();
    raise();
    activateWindow();
    m_tray->hide();
}

bool Mainf::startStation(engine::Station& station, std::string& error)
{
    m_station = &station;
    const auto result = station.start(error);
    if (result != engine::Station::StartResult::Started) {
        m_station = nullptr;
        if (result == engine::Station::StartResult::AlreadyRunning)
            error.clear();
        return false;
    }
    // The preferences are read once now, so every stored value exists from the first start on.
    Properties properties;
    properties.load(station.settings());
    const bool paused = station.flags().paused();
    action(kMenuPause)->setEnabled(!paused);
    action(kMenuResume)->setEnabled(paused);
    action(kMenuLocalPhone)->setChecked(station.flags().localPhone());
    return true;
}

void Mainf::reportStartFailure(const std::string& error)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("PELTRA"),
                    QStringLiteral("Станция не запущена:\n") + q(error), QMessageBox::Ok);
    box.exec();
}

QString Mainf::statusText(int part) const { return part >= 0 && part < 2 ? m_status[part]->text() : QString(); }

line::LineMonitor* Mainf::monitor(unsigned number) const
{
    const auto found = m_monitors.find(number);
    return found == m_monitors.end() ? nullptr : found->second;
}

void Mainf::fitColumns(QTreeWidget* list)
{
    const QFontMetrics metrics(list->font());
    for (int column = 0; column < list->columnCount(); ++column) {
        int width = metrics.horizontalAdvance(list->headerItem()->text(column));
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            width = std::max(width, metrics.horizontalAdvance(list->topLevelItem(row)->text(column)));
        // Room for the row's icon in the first column.
        width += 14 + (column == 0 ? 32 : 0);
        // Never narrower than the header's own style needs to show its whole caption.
        list->setColumnWidth(column, std::max(width, list->header()->sectionSizeHint(column)));
    }
}

QTreeWidgetItem* Mainf::taskItem(std::uint32_t id) const
{
    for (int row = 0; row < m_tasks->topLevelItemCount(); ++row)
        if (m_tasks->topLevelItem(row)->data(0, kTaskIdRole).toUInt() == id)
            return m_tasks->topLevelItem(row);
    return nullptr;
}

QTreeWidgetItem* Mainf::lineItem(unsigned number) const
{
    for (int row = 0; row < m_lines->topLevelItemCount(); ++row)
        if (m_lines->topLevelItem(row)->data(0, kLineNumberRole).toUInt() == number)
            return m_lines->topLevelItem(row);
    return nullptr;
}

void Mainf::taskAdded(const engine::TaskRow& row)
{
    auto* item = new QTreeWidgetItem(m_tasks, {q(row.name), QString(), QString(), QString()});
    item->setData(0, kTaskIdRole, row.id);
    taskChanged(row);
}

void Mainf::taskChanged(const engine::TaskRow& row)
{
    QTreeWidgetItem* item = taskItem(row.id);
    if (!item)
        return;
    item->setIcon(0, taskIcon(row.state));
    item->setText(1, q(row.stateText));
    item->setText(2, q(row.notified));
    item->setText(3, q(row.remark));
    fitColumns(m_tasks);
}

void Mainf::taskRemoved(std::uint32_t id)
{
    delete taskItem(id);
    fitColumns(m_tasks);
}

void Mainf::workComplete()
{
    if (m_wait)
        QMetaObject::invokeMethod(m_wait, "workComplete", Qt::QueuedConnection);
}

void Mainf::lineAdded(unsigned number, const std::string& port)
{
    auto* item = new QTreeWidgetItem(m_lines, {q(port), QString(), QString(), QString()});
    item->setData(0, kLineNumberRole, number);
    fitColumns(m_lines);
}

void Mainf::lineRemoved(unsigned number)
{
    delete lineItem(number);
    fitColumns(m_lines);
}

void Mainf::lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                        calls::LineIcon icon, const std::string& remark)
{
    QTreeWidgetItem* item = lineItem(number);
    if (!item)
        return;
    item->setIcon(0, lineIcon(icon));
    item->setText(1, q(stateText));
    item->setText(2, q(taskText));
    item->setText(3, q(remark));
    fitColumns(m_lines);
}

void Mainf::showAnswer(const std::string& word) { m_answer->setText(q(word)); }

void Mainf::showMessage(const std::string& caption, const std::string& text) { showBox(this, caption, text); }

void Mainf::showLineMessage(unsigned number, const std::string& caption, const std::string& text)
{
    // A failing line reports the same fault on every call it is given: one box for it is enough.
    std::erase_if(m_lineBoxes, [](const auto& entry) { return !entry.second || !entry.second->isVisible(); });
    QPointer<QMessageBox>& box = m_lineBoxes[{number, caption, text}];
    if (!box) {
        box = showBox(this, caption, text);
        return;
    }
    if (line::LineMonitor* log = monitor(number))
        log->appendLog(q(caption + ": " + platform::oneLine(text)));
}

void Mainf::showNotice(const std::string& caption, const std::string& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, q(caption), q(text), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->open();
}

void Mainf::showSchedulerState(const std::string& text, bool paused)
{
    m_status[0]->setText(q(text));
    action(kMenuPause)->setEnabled(!paused);
    action(kMenuResume)->setEnabled(paused);
}

void Mainf::showLocalPhoneState(const std::string& text, bool on)
{
    m_status[1]->setText(q(text));
    action(kMenuLocalPhone)->setChecked(on);
}

void Mainf::addLineMonitor(unsigned number, const std::string& port)
{
    auto* widget = new line::LineMonitor(number, q(port));
    m_monitorLayout->insertWidget(m_monitorLayout->count() - 1, widget);
    m_monitors[number] = widget;
}

void Mainf::removeLineMonitor(unsigned number)
{
    const auto found = m_monitors.find(number);
    if (found == m_monitors.end())
        return;
    found->second->deleteLater();
    m_monitors.erase(found);
}

void Mainf::pause()
{
    if (m_station)
        m_station->controller().pause();
}

void Mainf::resume()
{
    if (m_station)
        m_station->controller().resume();
}

void Mainf::notAvailable(const QString& what, const QString& instead)
{
    QMessageBox::information(this, QStringLiteral("PELTRA"),
                             what + QStringLiteral(" в этой версии станции ещё нет.\n") + instead);
}

void Mainf::command(MenuId id)
{
    switch (id) {
    case kMenuExit:
        close();
        break;
    case kMenuPause:
        pause();
        break;
    case kMenuResume:
        resume();
        break;
    case kMenuTaskEditor:
        if (m_station) {
            if (!m_taskManager) {
                m_taskManager = new editors::FormTaskManager(m_station->store(), this);
                // A changed definition is looked at by the next pass at once, not at the next tick.
                connect(m_taskManager, &editors::FormTaskManager::definitionsChanged, this,
                        [this] { m_station->schedulerWake().set(); });
            }
            m_taskManager->rebuild();
            m_taskManager->show();
            m_taskManager->raise();
            m_taskManager->activateWindow();
        }
        break;
    case kMenuResults:
        if (m_station) {
            // Kept while it is open; made afresh after it was closed, so its lists show today's bindings.
            if (!m_results || !m_results->isVisible()) {
                delete m_results;
                m_results = new reports::FormReport(m_station->store(), this);
            }
            m_results->show();
            m_results->raise();
            m_results->activateWindow();
        }
        break;
    case kMenuSms:
        if (m_station) {
            if (!m_smsTasks || !m_smsTasks->isVisible()) {
                delete m_smsTasks;
                m_smsTasks = new sms::FormSmsTasks(m_station->store(), this);
            }
            m_smsTasks->show();
            m_smsTasks->raise();
            m_smsTasks->activateWindow();
        }
        break;
    case kMenuLinking:
        if (m_station) {
            if (!m_linking) {
                m_linking = new editors::FormLinking(m_station->store(), &m_station->flags(),
                                                     &m_station->schedulerWake(), this);
            }
            m_linking->show();
            m_linking->raise();
        }
        break;
    case kMenuSqlBrowser:
        if (!m_sqlBrowser)
            m_sqlBrowser = new data::FormChoiceSource(this, QString::fromStdString(m_paths.home.string()));
        m_sqlBrowser->show();
        m_sqlBrowser->raise();
        m_sqlBrowser->activateWindow();
        break;
    case kMenuLexemeEditor: {
        const QString editor = QStandardPaths::findExecutable(QStringLiteral("peltra-editor"));
        if (editor.isEmpty() || !QProcess::startDetached(editor, {}))
            notAvailable(QStringLiteral("Редактора лексем (peltra-editor)"),
                         QStringLiteral("Каталог лексем и библиотеку фонограмм ведёт программа peltra-lexicon."));
        break;
    }
    case kMenuPorts:
        if (m_station) {
            // The ports present now; applying the choice wakes the line pool, so lines come and go at once.
            calls::FormPorts dialog(m_station->store(), m_station->linesChanged(), m_station->probePorts(), this);
            dialog.exec();
        }
        break;
    case kMenuLocalPhone: {
        // The checkmark follows the mode, not the click.
        action(kMenuLocalPhone)->setChecked(m_station && m_station->flags().localPhone());
        if (!m_station)
            break;
        FormLocalPhone dialog(this);
        engine::StationFlags& flags = m_station->flags();
        dialog.setValues(flags.localPhone(), q(flags.localPhoneString()), flags.localPhoneUpdate());
        if (dialog.exec() == QDialog::Accepted)
            m_station->controller().setLocalPhone(dialog.isOn(), dialog.number().toStdString(), dialog.writeResults());
        break;
    }
    case kMenuPreferences:
        if (m_station) {
            if (!m_preferences)
                m_preferences = new FormPreference(m_station->settings(), m_paths.program, m_paths.home, this);
            m_preferences->show();
            m_preferences->raise();
        }
        break;
    case kMenuAbout:
        AboutBox(QStringLiteral(PELTRA_VERSION), this).exec();
        break;
    case kMenuHelp:
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(m_paths.help.string()))))
            QMessageBox::information(this, QStringLiteral("PELTRA"),
                                     QStringLiteral("Справка: ") + QString::fromStdString(m_paths.help.string()));
        break;
    default:
        break;
    }
}

void Mainf::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !m_station)
        return;
    // Minimised: the preferences are read afresh; with "into the tray" only the icon stays.
    Properties properties;
    properties.load(m_station->settings());
    if (properties.minimizeIcon() && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray->show();
        QMetaObject::invokeMethod(this, [this] { hide(); }, Qt::QueuedConnection);
    }
}

void Mainf::closeEvent(QCloseEvent* event)
{
    if (m_quiet || m_closing || !m_station) {
        shutdownStation();
        event->accept();
        return;
    }
    if (m_station->hasUnfinishedSessions()) {
        const auto answer = QMessageBox::warning(
            this, QStringLiteral("PELTRA закрытие"),
            QStringLiteral("Внимание! Приложение PELTRA имеет незавершенные сеансы оповещения,\r\nрезультаты которых "
                           "будут утеряны.\r\nДождаться их завершения?"),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) {
            event->ignore();
            return;
        }
        if (answer == QMessageBox::Yes) {
            // The window exists before the tasks are asked to stop, so the end-of-work notice
            // that follows their last call always finds it.
            m_wait = new FormWaitCompletion(this);
            m_station->flags().setWaitForCompletion(true);
            if (!m_station->tasks().requestStopAll())
                m_wait->exec();
            delete m_wait;
        }
    } else if (!m_station->flags().paused()) {
        const auto answer = QMessageBox::warning(
            this, QStringLiteral("PELTRA закрытие"),
            QStringLiteral("Внимание! После закрытия системы оповещения PELTRA будет остановлено планирование "
                           "заданий до следующего запуска программы.\r\nЕсли вы хотите просто свернуть окно - "
                           "нажмите кнопку \"Нет\", а затем - кнопку системного меню \"Свернуть\". Вы "
                           "действительно хотите завершить программу?"),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            event->ignore();
            return;
        }
    }
    shutdownStation();
    event->accept();
}

void Mainf::shutdownStation()
{
    if (m_closing)
        return;
    m_closing = true;
    if (m_station)
        m_station->shutdown();
    m_tray->hide();
}

}  // namespace peltra::shell
