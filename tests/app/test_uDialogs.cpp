// The two toolbar entry points: each window is owned by the caller's window while it is
// shown modally, and gone as soon as it has closed.

#include "uDialogs.h"
#include "ufrmAbout.h"
#include "ufrmCheckForUpdates.h"

#include <QPointer>
#include <QTest>
#include <QWidget>

class TestDialogs : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { SetModalRunner({}); }
    void toolbarWindows_data();
    void toolbarWindows();
};

void TestDialogs::toolbarWindows_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("About") << "TfrmAbout";
    QTest::newRow("Check for updates") << "TfrmCheckForUpdates";
}

void TestDialogs::toolbarWindows()
{
    QFETCH(QString, window);
    QWidget owner;
    QPointer<QDialog> shown;
    QWidget* parent = nullptr;
    QString className;
    int runs = 0;
    SetModalRunner([&](QDialog& dialog) {
        ++runs;
        shown = &dialog;
        parent = dialog.parentWidget();
        className = QString::fromLatin1(dialog.metaObject()->className());
        return int(QDialog::Accepted);
    });
    if (window == "TfrmAbout")
        ShowAboutWindow(&owner);
    else
        ShowCheckForUpdatesWindow(&owner);
    QCOMPARE(runs, 1);
    QCOMPARE(className, window);
    QCOMPARE(parent, &owner);
    QVERIFY(shown.isNull());
    QVERIFY(owner.findChildren<QDialog*>().isEmpty());
}

QTEST_MAIN(TestDialogs)
#include "test_uDialogs.moc"
