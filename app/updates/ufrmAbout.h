#pragma once
// The about box: the program's picture, name and running version, the copyright line of
// the version resource and a link to the maker's web site.

#include <QDialog>

class QLabel;
class QPushButton;

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* owner);

    // The maker's web site, shown by Label3 and opened when it is clicked.
    static constexpr char16_t WebSite[] = u"https://www.quorvel.example/";

    QLabel* Image1 = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormShow();
    void Label3Click();
};
