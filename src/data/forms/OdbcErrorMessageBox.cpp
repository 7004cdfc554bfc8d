// The error box of the data access layer.
#include "data/forms/OdbcErrorMessageBox.h"

#include "data/Connection.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace peltra::data {

const char* const OdbcErrorMessageBox::kCaption = "Ошибка ODBC";

OdbcErrorMessageBox::OdbcErrorMessageBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("ODBCErrorMessageBox");
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(true);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName("textb_error");
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_ok");
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    resize(440, 200);
}

void OdbcErrorMessageBox::setError(const OdbcError& error)
{
    m_text->clear();
    // The record text separates its lines with CR LF; the box shows plain lines.
    QString text = QString::fromStdString(errorBoxText(error));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text->setPlainText(text);
}

QString OdbcErrorMessageBox::text() const
{
    return m_text->toPlainText();
}

void showErrors(QWidget* owner, const std::vector<OdbcError>& errors)
{
    for (const OdbcError& error : errors) {
        if (error.returnCode == ReturnCode::Success)
            continue;
        OdbcErrorMessageBox box(owner);
        box.setError(error);
        box.exec();
    }
}

void showErrors(QWidget* owner, Connection& connection)
{
    if (connection.hasErrors())
        showErrors(owner, connection.takeErrors());
}

}  // namespace peltra::data
