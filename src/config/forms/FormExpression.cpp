// The expression dialog of the condition editor: one simple condition of a logical product.
#include "config/forms/FormExpression.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace peltra::config {

const char* const FormExpression::kNoField = "Не выбрано поле таблицы!";
const char* const FormExpression::kNoValue = "Не заполнено поле 'Значение' !";
const char* const FormExpression::kNoExpression = "Не заполнено поле 'Логическое выражение' !";

namespace {

// Indexes of the type list, the same as the stored type numbers.
constexpr int kTypeCompare = static_cast<int>(kConditionCompare);
constexpr int kTypeExpression = static_cast<int>(kConditionExpression);

QLabel* label(const char* name, const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* made = new QLabel(text, parent);
    made->setObjectName(name);
    made->setBuddy(buddy);
    return made;
}

}  // namespace

FormExpression::FormExpression(const QStringList& fields, const std::optional<SimpleCondition>& editing,
                               QWidget* parent)
    : QDialog(parent)
{
    setObjectName("FormExpression");
    setWindowTitle(QStringLiteral("Условие"));

    m_type = new QComboBox(this);
    m_type->setObjectName("combo_type");
    m_type->addItem(QStringLiteral("Значение поля"));
    m_type->addItem(QStringLiteral("Выражение"));

    // A comparison of a field with a value.
    auto* comparePage = new QWidget(this);
    comparePage->setObjectName("groupb_compare");
    m_field = new QComboBox(comparePage);
    m_field->setObjectName("combo_field");
    m_field->addItems(fields);
    // Without the table's fields the name can still be typed.
    m_field->setEditable(fields.isEmpty());
    m_operator = new QComboBox(comparePage);
    m_operator->setObjectName("combo_operator");
    for (std::uint32_t code : kCompareListOrder)
        m_operator->addItem(QString::fromUtf8(compareText(code).data(), compareText(code).size()));
    m_value = new QLineEdit(comparePage);
    m_value->setObjectName("textb_value");
    m_value->setMinimumWidth(m_value->fontMetrics().horizontalAdvance(QString(32, 'W')));
    auto* compareLayout = new QFormLayout(comparePage);
    compareLayout->setContentsMargins(0, 0, 0, 0);
    compareLayout->addRow(label("label_field", QStringLiteral("Поле"), m_field, comparePage), m_field);
    compareLayout->addRow(label("label_operator", QStringLiteral("Оператор"), m_operator, comparePage), m_operator);
    compareLayout->addRow(label("label_value", QStringLiteral("Значение"), m_value, comparePage), m_value);

    // A free SQL condition.
    auto* expressionPage = new QWidget(this);
    expressionPage->setObjectName("groupb_expression");
    m_expression = new QPlainTextEdit(expressionPage);
    m_expression->setObjectName("textb_expression");
    m_expression->setTabChangesFocus(true);
    m_expression->setFixedHeight(m_expression->fontMetrics().lineSpacing() * 4 + 12);
    auto* expressionLayout = new QVBoxLayout(expressionPage);
    expressionLayout->setContentsMargins(0, 0, 0, 0);
    expressionLayout->addWidget(
        label("label_expression", QStringLiteral("Логическое выражение"), m_expression, expressionPage));
    expressionLayout->addWidget(m_expression);
    expressionLayout->addStretch();

    m_pages = new QStackedWidget(this);
    m_pages->addWidget(comparePage);
    m_pages->addWidget(expressionPage);
    connect(m_type, &QComboBox::currentIndexChanged, m_pages, &QStackedWidget::setCurrentIndex);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormExpression::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormExpression::reject);

    auto* typeRow = new QFormLayout;
    QLabel* typeLabel = label("label_type", QStringLiteral("Тип условия"), m_type, this);
    typeRow->addRow(typeLabel, m_type);
    // The type row and the comparison rows are separate forms; one label width lines them up.
    int labelWidth = 0;
    for (QLabel* each : {typeLabel, findChild<QLabel*>("label_field"), findChild<QLabel*>("label_operator"),
                         findChild<QLabel*>("label_value")})
        labelWidth = std::max(labelWidth, each->sizeHint().width());
    for (QLabel* each : {typeLabel, findChild<QLabel*>("label_field"), findChild<QLabel*>("label_operator"),
                         findChild<QLabel*>("label_value")})
        each->setMinimumWidth(labelWidth);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(typeRow);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);

    fill(editing.value_or(SimpleCondition{}));
}

void FormExpression::fill(const SimpleCondition& condition)
{
    const bool isExpression = condition.type == kConditionExpression;
    m_type->setCurrentIndex(isExpression ? kTypeExpression : kTypeCompare);
    m_pages->setCurrentIndex(m_type->currentIndex());
    if (isExpression) {
        m_expression->setPlainText(QString::fromStdString(condition.expression));
        return;
    }
    const QString field = QString::fromStdString(condition.field);
    if (!field.isEmpty() && m_field->findText(field) < 0)
        m_field->addItem(field);  // a field the table no longer has stays as it was stored
    if (!field.isEmpty())
        m_field->setCurrentIndex(m_field->findText(field));
    // The current comparison is found by its text; an unknown code falls back to the first one.
    const std::string_view text = compareText(condition.compare);
    m_operator->setCurrentIndex(std::max(0, m_operator->findText(QString::fromUtf8(text.data(), text.size()))));
    m_value->setText(QString::fromStdString(condition.value));
}

void FormExpression::accept()
{
    SimpleCondition condition;
    if (m_type->currentIndex() == kTypeExpression) {
        condition.type = kConditionExpression;
        const QString expression = m_expression->toPlainText();
        if (expression.trimmed().isEmpty())
            return refuse(kNoExpression, m_expression);
        condition.expression = expression.toStdString();
    } else {
        condition.type = kConditionCompare;
        const QString field = m_field->currentText().trimmed();
        if (field.isEmpty())
            return refuse(kNoField, m_field);
        if (m_value->text().trimmed().isEmpty())
            return refuse(kNoValue, m_value);
        condition.field = field.toStdString();
        condition.compare = compareCode(m_operator->currentText().toStdString()).value_or(2);
        condition.value = m_value->text().toStdString();
    }
    m_condition = condition;
    QDialog::accept();
}

void FormExpression::refuse(const char* text, QWidget* focus)
{
    QMessageBox::warning(this, windowTitle(), QString::fromUtf8(text));
    focus->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        line->selectAll();
}

}  // namespace peltra::config
