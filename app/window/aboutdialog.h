#pragma once

#include <QDialog>

// "Version 1.2.3": each part in plain decimal digits.
QString versionText(int major, int minor, int revision);

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *owner);
};
