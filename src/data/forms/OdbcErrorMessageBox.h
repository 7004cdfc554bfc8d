// The box that shows one error record of a connection, and the presentation of a connection's
// pending errors one box after another.
#pragma once

#include "data/OdbcError.h"

#include <QDialog>

#include <vector>

class QPlainTextEdit;

namespace peltra::data {

class Connection;

// A modal box with the record's text (function, return code, SQLSTATE, native code, the
// driver's message) in a read-only text box and a single button that closes it. UI thread only.
class OdbcErrorMessageBox : public QDialog {
    Q_OBJECT

public:
    explicit OdbcErrorMessageBox(QWidget* parent = nullptr);

    // Clears the text box and fills it with the record's text.
    void setError(const OdbcError& error);
    QString text() const;

    static const char* const kCaption;

private:
    QPlainTextEdit* m_text;
};

// One modal box per record whose return code is not 0, in list order.
void showErrors(QWidget* owner, const std::vector<OdbcError>& errors);
// The connection's pending errors, taken from it, shown as above.
void showErrors(QWidget* owner, Connection& connection);

}  // namespace peltra::data
