// The expression dialog of the condition editor: one simple condition of a logical product.
#pragma once

#include "config/Conditions.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <optional>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QStackedWidget;

namespace peltra::config {

// "Условие": a comparison of a table field with a value ("Значение поля": field, operator and the
// value as SQL text) or a free SQL condition ("Выражение"). Opens empty or on a condition to
// change; OK refuses an empty field, value or expression with a message, keeps the dialog open
// and puts the focus back on that box. It writes nothing: the caller takes condition() after OK.
// User interface thread only.
class FormExpression : public QDialog {
    Q_OBJECT

public:
    // fields: the table's field names, listed under "Поле". When the table could not be read the
    // list is empty and the field can be typed instead.
    explicit FormExpression(const QStringList& fields, const std::optional<SimpleCondition>& editing = std::nullopt,
                            QWidget* parent = nullptr);

    // The condition as OK took it; only the values of its type are filled in.
    const SimpleCondition& condition() const { return m_condition; }

    // Refusal texts, shown in a box titled like the dialog.
    static const char* const kNoField;
    static const char* const kNoValue;
    static const char* const kNoExpression;

public slots:
    void accept() override;

private:
    void fill(const SimpleCondition& condition);
    void refuse(const char* text, QWidget* focus);

    SimpleCondition m_condition;
    QComboBox* m_type;
    QStackedWidget* m_pages;
    QComboBox* m_field;
    QComboBox* m_operator;
    QLineEdit* m_value;
    QPlainTextEdit* m_expression;
};

}  // namespace peltra::config
