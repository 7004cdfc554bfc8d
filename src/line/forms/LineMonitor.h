// The monitor window of one line: its port, the hook and line indicators, the display label in
// its two colours, and the line's text log.
#pragma once

#include "line/LineInterfaces.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QWidget>

namespace peltra::line {

// A plain widget changed on the UI thread only; QueuedLineView carries a line's reports to it.
class LineMonitor : public QWidget {
    Q_OBJECT
public:
    LineMonitor(unsigned number, const QString& port, QWidget* parent = nullptr);

    unsigned number() const { return m_number; }
    QString displayText() const;
    QString logText() const;

    void showPortName(const QString& port);
    void showHook(bool offHook);
    void showCarrier(bool on);
    void showPolarity(bool normal);
    void setDisplayText(const QString& text);
    void appendDisplayText(const QString& text);
    void setDisplayColour(DisplayColour colour);
    void appendLog(const QString& text);
    void replaceLog(const QString& text);
    void clearStatus();

private:
    static void paintLamp(QLabel* lamp, const QColor& colour, const QString& tip);

    unsigned m_number;
    QLabel* m_port;
    QLabel* m_hook;
    QLabel* m_carrier;
    QLabel* m_polarity;
    QLabel* m_display;
    QPlainTextEdit* m_log;
};

}  // namespace peltra::line
