// The about box: what it shows from the version resource, how it closes, and its link.

#include "uShellOpen.h"
#include "uVersionInfo.h"
#include "ufrmAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <optional>

Q_DECLARE_METATYPE(std::optional<TVersionResource>)

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { RestoreBuildVersionResource(); }
    void showsVersionResource_data();
    void showsVersionResource();
    void enterClosesAndThereIsNoCloseBox();
    void linkOpensTheMakersSite();
};

void TestAbout::showsVersionResource_data()
{
    QTest::addColumn<bool>("replace");
    QTest::addColumn<std::optional<TVersionResource>>("resource");
    QTest::addColumn<QString>("expected");
    QTest::newRow("this build") << false << std::optional<TVersionResource>()
                                << QStringLiteral("Tarnwick " TARNWICK_TEST_PROJECT_VERSION
                                                  "\nCopyright (C) Quorvel");
    QTest::newRow("another build") << true
                                   << std::optional<TVersionResource>(
                                          TVersionResource{{"FileVersion", "2.0.3.7"},
                                                           {"LegalCopyright", "Copyright (C) Someone Else"}})
                                   << QStringLiteral("Tarnwick 2.0.3.7\nCopyright (C) Someone Else");
    QTest::newRow("no copyright value")
        << true << std::optional<TVersionResource>(TVersionResource{{"FileVersion", "2.0.3.7"}})
        << QStringLiteral("Tarnwick 2.0.3.7\n");
    QTest::newRow("no resource") << true << std::optional<TVersionResource>()
                                 << QStringLiteral("Tarnwick \n");
}

void TestAbout::showsVersionResource()
{
    QFETCH(bool, replace);
    QFETCH(std::optional<TVersionResource>, resource);
    QFETCH(QString, expected);
    if (replace)
        ReplaceVersionResource(resource);
    TfrmAbout about(nullptr);
    about.show();
    QCOMPARE(about.lblCopyright->text(), expected);
    QCOMPARE(about.btnClose->text(), QStringLiteral("Close"));
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
}

void TestAbout::enterClosesAndThereIsNoCloseBox()
{
    TfrmAbout about(nullptr);
    const Qt::WindowFlags flags = about.windowFlags();
    QVERIFY(!(flags & Qt::WindowCloseButtonHint));
    QVERIFY(!(flags & Qt::WindowSystemMenuHint));
    QVERIFY(flags & Qt::CustomizeWindowHint);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QTest::keyClick(&about, Qt::Key_Return);
    QVERIFY(!about.isVisible());
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

void TestAbout::linkOpensTheMakersSite()
{
    QList<QUrl> opened;
    SetShellOpenHandler([&opened](const QUrl& url) {
        opened << url;
        return true;
    });
    TfrmAbout about(nullptr);
    about.show();
    QTest::mouseClick(about.Label3, Qt::LeftButton);
    SetShellOpenHandler({});
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://www.quorvel.example/"))});
    QCOMPARE(about.Label3->text(), QStringLiteral("https://www.quorvel.example/"));
    QVERIFY(about.isVisible());
}

QTEST_MAIN(TestAbout)
#include "test_ufrmAbout.moc"
