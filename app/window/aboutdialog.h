#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// "Version 1.2.3": each part in plain decimal digits.
QString versionText(int major, int minor, int revision);

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget *owner);

    QLabel *picIcon = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QPushButton *cmdOK = nullptr;

private:
    void Form_Load();
};
