// The window shown at shutdown while notification sessions still run.
#pragma once

#include <QDialog>

namespace peltra::shell {

// Modal. It cannot be closed by its close box or Esc: it closes either when the station reports
// the end of work (workComplete, queued from the engine) or when the operator presses
// "Завершить немедленно". Only the first of these counts. User interface thread only.
class FormWaitCompletion : public QDialog {
    Q_OBJECT
public:
    // How the window was closed; also the value exec() returns.
    enum Outcome { Waiting = 0, WorkCompleted = 1, TerminatedByUser = 2 };

    explicit FormWaitCompletion(QWidget* parent = nullptr);

    Outcome outcome() const { return m_outcome; }
    // Returns at once when the window has been closed already (the end of work came first).
    int exec() override;

public slots:
    // The station's end-of-work notification; closes the window the first time, later ones are ignored.
    void workComplete();
    // "Завершить немедленно".
    void terminateNow();
    // Esc is vetoed like the close box.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void finish(Outcome outcome);

    Outcome m_outcome = Waiting;
};

}  // namespace peltra::shell
