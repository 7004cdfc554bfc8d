// The "О программе" box: the product, what it does and its version.
#pragma once

#include <QDialog>
#include <QString>

namespace peltra::shell {

class AboutBox : public QDialog {
    Q_OBJECT
public:
    // `version` is the build's version ("0.1.0"); an empty one is left out.
    explicit AboutBox(const QString& version, QWidget* parent = nullptr);
};

}  // namespace peltra::shell
