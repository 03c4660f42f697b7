#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <functional>

class QMessageBox;
class QWidget;
class DeviceDialog;

// Every modal box and file dialog the window shows goes through here, so tests can answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Warning box: exclamation icon, OK button only.
    virtual void warning(QWidget *parent, const QString &title, const QString &text) = 0;
    // Yes/No question; true for Yes.
    virtual bool question(QWidget *parent, const QString &title, const QString &text) = 0;
    // Yes/No/Cancel question; Esc and the close box answer Cancel.
    enum class Answer { Yes, No, Cancel };
    virtual Answer yesNoCancel(QWidget *parent, const QString &title, const QString &text) = 0;
    // Qt name filters ("Desc (*.x);;Desc (*.y)"), shown in `folder` (empty: the current one);
    // an empty result means Cancel.
    virtual QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                                 const QString &folder) = 0;
    virtual QString openFileName(QWidget *parent, const QString &title, const QString &filter,
                                 const QString &folder) = 0;

    // A Yes/No question (No the default) that does not hold the caller: it returns at once,
    // and `answered` runs later with true for Yes, unless the question is withdrawn first.
    // For questions asked while a transfer runs, which must keep running meanwhile.
    virtual void questionLater(QWidget *parent, const QString &title, const QString &text,
                               std::function<void(bool)> answered) {
        answered(question(parent, title, text));
    }
    // Closes every question still open, unanswered.
    virtual void withdrawQuestions() {}
    // Runs Choose Device modally; true when the user pressed OK.
    virtual bool chooseDevice(DeviceDialog &dialog);
};

// The real boxes and Qt's own file dialog, with patterns matched regardless of letter case.
class QtDialogs : public Dialogs {
public:
    void warning(QWidget *parent, const QString &title, const QString &text) override;
    bool question(QWidget *parent, const QString &title, const QString &text) override;
    Answer yesNoCancel(QWidget *parent, const QString &title, const QString &text) override;
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter,
                         const QString &folder) override;
    QString openFileName(QWidget *parent, const QString &title, const QString &filter,
                         const QString &folder) override;
    void questionLater(QWidget *parent, const QString &title, const QString &text,
                       std::function<void(bool)> answered) override;
    void withdrawQuestions() override;

private:
    QList<QPointer<QMessageBox>> open_;
};

class QFileDialog;

// Qt's own dialog for the given mode, with name filters matched regardless of letter case.
// Saving adds the extension of the chosen filter to a name typed without one.
void prepareFileDialog(QFileDialog &dialog, bool forSaving);

// The extension a Qt name filter's first pattern names ("Files (*.SAV *.x)" gives "SAV"); empty
// for a pattern without one ("*").
QString filterExtension(const QString &nameFilter);

// "Desc | pattern|Desc2|pattern2" (entries and their patterns separated by bars) as Qt name
// filters. A description that already ends in "(pattern)" is kept as it reads.
QString toQtNameFilters(const QString &barFilter);
