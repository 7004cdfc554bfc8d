// The "О программе" box.
#include "shell/dialogs/AboutBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace peltra::shell {

AboutBox::AboutBox(const QString& version, QWidget* parent) : QDialog(parent)
{
    setObjectName("AboutBox");
    setWindowTitle(QStringLiteral("О программе"));

    auto* product = new QLabel(QStringLiteral("<b>Peltra 2001</b>"), this);
    product->setObjectName("label_product");
    product->setTextFormat(Qt::RichText);
    auto* description = new QLabel(
        QStringLiteral("Станция голосового оповещения по телефону.\n"
                       "Обзванивает абонентов из таблиц dBase в разрешённое время, "
                       "произносит сообщение и записывает результат в таблицу."),
        this);
    description->setObjectName("label_description");
    description->setWordWrap(true);
    auto* versionLabel = new QLabel(version.isEmpty() ? QString() : QStringLiteral("Версия %1").arg(version), this);
    versionLabel->setObjectName("label_version");
    versionLabel->setVisible(!version.isEmpty());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName("cb_ok");
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(product);
    layout->addWidget(description);
    layout->addWidget(versionLabel);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &AboutBox::accept);
}

}  // namespace peltra::shell
