#pragma once

#include <QString>

class QWidget;
class frmDevice;

// Every modal box and file dialog the window shows goes through here, so tests can answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Warning box: exclamation icon, OK button only.
    virtual void warning(QWidget *parent, const QString &title, const QString &text) = 0;
    // Yes/No question; true for Yes.
    virtual bool question(QWidget *parent, const QString &title, const QString &text) = 0;
    // Qt name filters ("Desc (*.x);;Desc (*.y)"); an empty result means Cancel.
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &filter) = 0;
    virtual QString openFileName(QWidget *parent, const QString &title, const QString &filter) = 0;
    // Runs Choose Device modally; true when the user pressed OK.
    virtual bool chooseDevice(frmDevice &dialog);
};

// The real boxes and Qt's own file dialog, with patterns matched regardless of letter case.
class QtDialogs : public Dialogs {
public:
    void warning(QWidget *parent, const QString &title, const QString &text) override;
    bool question(QWidget *parent, const QString &title, const QString &text) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &filter) override;
};

class QFileDialog;

// Qt's own dialog for the given mode, with name filters matched regardless of letter case.
void prepareFileDialog(QFileDialog &dialog, bool forSaving);

// "Desc | pattern|Desc2|pattern2" (entries and their patterns separated by bars) as Qt name
// filters. A description that already ends in "(pattern)" is kept as it reads.
QString toQtNameFilters(const QString &barFilter);
