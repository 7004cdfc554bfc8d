// Tests of the about box: the product, its purpose and the version handed in.
#include "shell/dialogs/AboutBox.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using peltra::shell::AboutBox;

class AboutBoxTest : public QObject {
    Q_OBJECT
private slots:
    void showsProductAndVersion();
    void leavesOutAnEmptyVersion();
    void okCloses();
};

void AboutBoxTest::showsProductAndVersion()
{
    AboutBox box("1.2.3");
    box.show();
    QVERIFY(box.findChild<QLabel*>("label_product")->text().contains(QStringLiteral("Peltra 2001")));
    QVERIFY(box.findChild<QLabel*>("label_description")->text().contains(QStringLiteral("оповещения")));
    auto* version = box.findChild<QLabel*>("label_version");
    QCOMPARE(version->text(), QStringLiteral("Версия 1.2.3"));
    QVERIFY(version->isVisible());
}

void AboutBoxTest::leavesOutAnEmptyVersion()
{
    AboutBox box("");
    box.show();
    QVERIFY(!box.findChild<QLabel*>("label_version")->isVisible());
}

void AboutBoxTest::okCloses()
{
    AboutBox box("1.0");
    box.show();
    QTest::mouseClick(box.findChild<QPushButton*>("cb_ok"), Qt::LeftButton);
    QVERIFY(!box.isVisible());
    QCOMPARE(box.result(), int(QDialog::Accepted));
}

QTEST_MAIN(AboutBoxTest)
#include "AboutBoxTest.moc"
