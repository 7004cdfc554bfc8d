// The monitor window of one line.
#include "line/forms/LineMonitor.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

namespace peltra::line {

namespace {

// The log keeps the recent part of a line's life; older lines scroll away.
constexpr int kLogLines = 500;

const QColor kAttemptColour(0, 0, 160);
const QColor kFinishedColour(0, 110, 0);

}  // namespace

LineMonitor::LineMonitor(unsigned number, const QString& port, QWidget* parent)
    : QWidget(parent),
      m_number(number),
      m_port(new QLabel(port, this)),
      m_hook(new QLabel(this)),
      m_carrier(new QLabel(this)),
      m_polarity(new QLabel(this)),
      m_display(new QLabel(this)),
      m_log(new QPlainTextEdit(this))
{
    setObjectName(QStringLiteral("Form1"));
    m_port->setObjectName(QStringLiteral("label_port"));
    m_hook->setObjectName(QStringLiteral("label_hook"));
    m_carrier->setObjectName(QStringLiteral("label_rlsd"));
    m_polarity->setObjectName(QStringLiteral("label_line"));
    m_display->setObjectName(QStringLiteral("label_display"));
    m_log->setObjectName(QStringLiteral("textb_log"));
    QFont bold = m_port->font();
    bold.setBold(true);
    m_port->setFont(bold);
    m_display->setMinimumWidth(140);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kLogLines);
    m_log->setFixedHeight(64);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* top = new QHBoxLayout;
    top->addWidget(m_port);
    top->addWidget(m_hook);
    top->addWidget(m_carrier);
    top->addWidget(m_polarity);
    top->addWidget(m_display, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addLayout(top);
    layout->addWidget(m_log);

    showHook(false);
    showCarrier(false);
    showPolarity(true);
    setDisplayColour(DisplayColour::Finished);
}

void LineMonitor::paintLamp(QLabel* lamp, const QColor& colour, const QString& tip)
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(colour.darker(160));
    painter.drawEllipse(1, 1, 12, 12);
    lamp->setPixmap(pixmap);
    lamp->setToolTip(tip);
}

QString LineMonitor::displayText() const { return m_display->text(); }

QString LineMonitor::logText() const { return m_log->toPlainText(); }

void LineMonitor::showPortName(const QString& port) { m_port->setText(port); }

void LineMonitor::showHook(bool offHook)
{
    paintLamp(m_hook, offHook ? QColor(220, 160, 0) : QColor(170, 170, 170),
              offHook ? tr("Трубка снята") : tr("Трубка положена"));
}

void LineMonitor::showCarrier(bool on)
{
    paintLamp(m_carrier, on ? QColor(0, 170, 0) : QColor(90, 90, 90), on ? tr("RLSD есть") : tr("RLSD нет"));
}

void LineMonitor::showPolarity(bool normal)
{
    paintLamp(m_polarity, normal ? QColor(0, 120, 220) : QColor(200, 0, 0),
              normal ? tr("Нормальная полярность") : tr("Обратная полярность"));
}

void LineMonitor::setDisplayText(const QString& text) { m_display->setText(text); }

void LineMonitor::appendDisplayText(const QString& text) { m_display->setText(m_display->text() + text); }

void LineMonitor::setDisplayColour(DisplayColour colour)
{
    QPalette palette = m_display->palette();
    palette.setColor(QPalette::WindowText, colour == DisplayColour::Attempt ? kAttemptColour : kFinishedColour);
    m_display->setPalette(palette);
}

void LineMonitor::appendLog(const QString& text)
{
    // The line's log lines end in CR LF; the box shows one line each.
    QString line = text;
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    m_log->appendPlainText(line);
}

void LineMonitor::replaceLog(const QString& text) { m_log->setPlainText(text); }

void LineMonitor::clearStatus() { m_display->clear(); }

}  // namespace peltra::line
