// The update information window: the version it finds in a history, what it offers the
// user, and how it reads the history's text.

#include "uVersionInfo.h"
#include "ufrmWebUpdateInformation.h"

#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <sys/stat.h>

class TestUpdateInformation : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { RestoreBuildVersionResource(); }
    void setUpdateMessage_data();
    void setUpdateMessage();
    void scanRejoinsLines_data();
    void scanRejoinsLines();
    void buttonsAnswer_data();
    void buttonsAnswer();
    void historyFonts();
    void historyLoadsNothingItNames_data();
    void historyLoadsNothingItNames();
    void longHistoryIsCut_data();
    void longHistoryIsCut();
};

void TestUpdateInformation::setUpdateMessage_data()
{
    QTest::addColumn<QString>("running");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("shown");  // the history as plain text, blanks collapsed
    const QByteArray history =
        "<p>What is new</p>\r\n<!-- version:1.4.0.19 timestamp:20120301 -->\r\n"
        "<p>1.4.0.19</p>\r\n<!-- version:1.4.0.18 timestamp:20120201 -->\r\n<p>1.4.0.18</p>";
    QTest::newRow("running the latest") << "1.4.0.19" << history << "1.4.0.19"
                                        << "What is new 1.4.0.19 1.4.0.18";
    QTest::newRow("running an older one") << "1.4.0.18" << history << "1.4.0.19"
                                          << "What is new 1.4.0.19 1.4.0.18";
    QTest::newRow("compared as text, blank and all") << "1.4.0.19 " << history << "1.4.0.19"
                                                     << "What is new 1.4.0.19 1.4.0.18";
    QTest::newRow("no blank after the version")
        << "1.5.0.1"
        << QByteArray("<!-- version:1.5.0.1-->\n<!-- version:1.5.0.0 timestamp:20260101 -->\n<p>x</p>")
        << "1.5.0.0"
        << "x";
    QTest::newRow("blank right after version:")
        << "1.4.0.19"
        << QByteArray("<!-- version: 1.9.0.0 timestamp:20260101 -->\n<!-- version:1.4.0.19 x -->")
        << "1.4.0.19"
        << "";
    QTest::newRow("marker in the middle of a line")
        << "2.0" << QByteArray("<p>a</p><!-- version:2.0 timestamp:20260101 --><p>b</p>") << "2.0"
        << "a b";
    QTest::newRow("no marker") << "1.4.0.19" << QByteArray("<p>Nothing to see</p>") << ""
                               << "Nothing to see";
    QTest::newRow("brace placeholders") << "1.4.0.19" << QByteArray("<p><openbrace>b<closebrace></p>") << ""
                                        << "{b}";
    QTest::newRow("placeholders are matched in their exact case")
        << "1.4.0.19" << QByteArray("<!-- version:<OPENBRACE>v<closebrace> t -->") << "<OPENBRACE>v}"
        << "";
    QTest::newRow("placeholders replaced before the scan")
        << "1.4.0.19" << QByteArray("<!-- version:<openbrace>v<closebrace> t -->") << "{v}"
        << "";
    QTest::newRow("UTF-8 text") << "1.4.0.19" << QByteArray("<p>Gr\xc3\xbc\xc3\x9f\x65 \xe2\x82\xac</p>")
                                << "" << QString::fromUtf8("Grüße €");
    QTest::newRow("broken UTF-8 empties the history")
        << "1.4.0.19" << QByteArray("<!-- version:1.4.0.19 t -->\n<p>caf\xc3</p>") << ""
        << "";
    QTest::newRow("lone continuation byte")
        << "1.4.0.19" << QByteArray("<!-- version:1.4.0.19 t -->\n<p>\x80</p>") << ""
        << "";
    QTest::newRow("sequence cut by a plain byte")
        << "1.4.0.19" << QByteArray("<!-- version:1.4.0.19 t -->\n<p>\xe2\x82x</p>") << ""
        << "";
}

void TestUpdateInformation::setUpdateMessage()
{
    QFETCH(QString, running);
    QFETCH(QByteArray, message);
    QFETCH(QString, latest);
    QFETCH(QString, shown);
    ReplaceVersionResource(TVersionResource{{"FileVersion", running.toStdString()}});

    TfrmUpdateInformation window(nullptr);
    QVERIFY(!window.IsLatestVersion());
    window.SetUpdateMessage(message.toStdString());
    window.show();

    const bool isLatest = running == latest;
    QCOMPARE(window.CurrentVersion(), running);
    QCOMPARE(window.LatestVersion(), latest);
    QCOMPARE(window.IsLatestVersion(), isLatest);
    QCOMPARE(window.htmlWhatsNew->toPlainText().simplified(), shown);
    if (isLatest) {
        QCOMPARE(window.lblCurrentVersion->text(),
                 QStringLiteral("This version of Tarnwick is %1, which is the latest available version.")
                     .arg(running));
        QCOMPARE(window.btnCancel->text(), QStringLiteral("&Close"));
        QVERIFY(window.btnUpdate->isHidden());
        QCOMPARE(window.focusWidget(), window.btnCancel);
    } else {
        QCOMPARE(window.lblCurrentVersion->text(),
                 QStringLiteral("This version of Tarnwick is %1.").arg(running));
        QCOMPARE(window.btnCancel->text(), QStringLiteral("&Cancel"));
        QCOMPARE(window.btnUpdate->text(), QStringLiteral("Update now"));
        QVERIFY(window.btnUpdate->isVisible());
    }
}

void TestUpdateInformation::scanRejoinsLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("joined");
    QTest::addColumn<QString>("latest");
    QTest::newRow("LF") << "a\n<!-- version:1.2 x -->\nb"
                        << "a\r\n<!-- version:1.2 x -->\r\nb\r\n"
                        << "1.2";
    QTest::newRow("CR") << "a\r<!-- version:1.2 x -->"
                        << "a\r\n<!-- version:1.2 x -->\r\n"
                        << "1.2";
    QTest::newRow("CR LF, ended") << "a\r\nb\r\n"
                                  << "a\r\nb\r\n"
                                  << "";
    QTest::newRow("mixed, blank line kept") << "a\n\r\nb\rc"
                                            << "a\r\n\r\nb\r\nc\r\n"
                                            << "";
    QTest::newRow("first marker wins") << "<!-- version:2.0 x -->\n<!-- version:3.0 x -->"
                                       << "<!-- version:2.0 x -->\r\n<!-- version:3.0 x -->\r\n"
                                       << "2.0";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
}

void TestUpdateInformation::scanRejoinsLines()
{
    QFETCH(QString, text);
    QFETCH(QString, joined);
    QFETCH(QString, latest);
    TfrmUpdateInformation window(nullptr);
    window.ScanVersionHistory(text);
    QCOMPARE(text, joined);
    QCOMPARE(window.LatestVersion(), latest);
}

void TestUpdateInformation::buttonsAnswer_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");
    QTest::newRow("Update now") << "update" << int(QDialog::Accepted);
    QTest::newRow("Cancel") << "cancel" << int(QDialog::Rejected);
    QTest::newRow("title bar close") << "close" << int(QDialog::Rejected);
}

void TestUpdateInformation::buttonsAnswer()
{
    QFETCH(QString, button);
    QFETCH(int, result);
    TfrmUpdateInformation window(nullptr);
    window.SetUpdateMessage("<!-- version:9.0.0.0 timestamp:20990101 -->");
    window.show();
    if (button == "update")
        QTest::mouseClick(window.btnUpdate, Qt::LeftButton);
    else if (button == "cancel")
        QTest::mouseClick(window.btnCancel, Qt::LeftButton);
    else
        window.close();
    QVERIFY(!window.isVisible());
    QCOMPARE(window.result(), result);
}

void TestUpdateInformation::historyFonts()
{
    TfrmUpdateInformation window(nullptr);
    window.SetUpdateMessage("<p>text</p><pre>code</pre>");
    QCOMPARE(window.htmlWhatsNew->document()->defaultFont().family(), QStringLiteral("Tahoma"));
    QCOMPARE(window.htmlWhatsNew->document()->defaultFont().pointSize(), 8);
    // The preformatted block is set in Courier New, the rest in the default font.
    QTextBlock block = window.htmlWhatsNew->document()->begin();
    QCOMPARE(block.text(), QStringLiteral("text"));
    QVERIFY(!block.charFormat().fontFamilies().toStringList().contains(QStringLiteral("Courier New")));
    block = block.next();
    QCOMPARE(block.text().trimmed(), QStringLiteral("code"));
    QVERIFY(block.begin().fragment().charFormat().fontFamilies().toStringList().contains(
        QStringLiteral("Courier New")));
    // The window never shrinks below its designed size.
    QCOMPARE(window.minimumSize(), QSize(520, 555));
}

void TestUpdateInformation::historyLoadsNothingItNames_data()
{
    // The history names a local file the way a hostile one would; a viewer that read it
    // would show the picture, take the style, or (for a pipe no one writes) never return.
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("resourceType");
    QTest::newRow("picture") << "picture"
                             << "<p>a</p><img src=\"%1\" width=\"5\">" << int(QTextDocument::ImageResource);
    QTest::newRow("style sheet")
        << "style"
        << "<html><head><link rel=\"stylesheet\" href=\"%1\"></head><body><p>a</p></body></html>"
        << int(QTextDocument::StyleSheetResource);
    QTest::newRow("pipe") << "pipe"
                          << "<p>a</p><img src=\"%1\">" << int(QTextDocument::ImageResource);
}

void TestUpdateInformation::historyLoadsNothingItNames()
{
    QFETCH(QString, kind);
    QFETCH(QString, html);
    QFETCH(int, resourceType);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("named"));
    if (kind == "picture") {
        QImage picture(37, 23, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(path, "PNG"));
    } else if (kind == "style") {
        QFile style(path);
        QVERIFY(style.open(QIODevice::WriteOnly));
        style.write("p { color: red; }");
    } else {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    const QUrl url = QUrl::fromLocalFile(path);
    TfrmUpdateInformation window(nullptr);
    window.SetUpdateMessage(html.arg(url.toString()).toStdString());
    QTextDocument* document = window.htmlWhatsNew->document();
    (void)document->size();  // lays the text out, which is when pictures are fetched
    const QVariant resource = document->resource(resourceType, url);
    QVERIFY(resource.value<QImage>().isNull());
    QVERIFY(resource.toByteArray().isEmpty());
    const QTextCursor text = document->find(QStringLiteral("a"));
    QVERIFY(!text.isNull());
    QVERIFY(text.charFormat().foreground().color() != QColor(Qt::red));
}

void TestUpdateInformation::longHistoryIsCut_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("cut");
    // The history below is a 32-character marker line, then this many lines and a last
    // one of 16 characters each.
    constexpr int limitLines = int(TfrmUpdateInformation::MaxHistoryLength / 16);
    QTest::newRow("at the limit") << limitLines - 3 << false;
    QTest::newRow("past the limit") << limitLines + 97 << true;
}

void TestUpdateInformation::longHistoryIsCut()
{
    QFETCH(int, lines);
    QFETCH(bool, cut);
    std::string history = "<!-- version:9              -->\n";
    QCOMPARE(history.size(), std::size_t(32));
    for (int i = 1; i <= lines; ++i) {
        const std::string number = std::to_string(i % 100000);
        history += "<p>li " + std::string(5 - number.size(), '0') + number + "</p>\n";
    }
    history += "<p>THE_END!</p>\n";
    TfrmUpdateInformation window(nullptr);
    window.SetUpdateMessage(history);
    const QString shown = window.htmlWhatsNew->toPlainText();
    QCOMPARE(shown.contains(QStringLiteral("THE_END!")), !cut);
    QCOMPARE(shown.contains(QStringLiteral("too long to be shown")), cut);
    QVERIFY(shown.size() <= TfrmUpdateInformation::MaxHistoryLength + 100);
    QCOMPARE(window.LatestVersion(), QStringLiteral("9"));
}

QTEST_MAIN(TestUpdateInformation)
#include "test_ufrmWebUpdateInformation.moc"
