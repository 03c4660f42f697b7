#pragma once

#include "window/dialogs.h"

#include <QRegularExpression>
#include <QStringList>
#include <functional>

// Answers the window's boxes and file dialogs from a script and records what was asked.
class ScriptedDialogs : public Dialogs {
public:
    QStringList asked;       // "warning:<title>|<text>", "question:...", "save:<title>|<filter>"...
    QStringList fileAnswers; // next file dialog answers; empty string = Cancel
    QList<bool> questionAnswers;
    QList<Answer> yesNoCancelAnswers; // none left: No
    QStringList folders;              // the folder each file dialog opened in
    bool holdQuestions = false;       // questionLater leaves its question open in `open`
    std::function<void(bool)> open;   // the open question's answer

    void warning(QWidget *, const QString &title, const QString &text) override {
        asked << QStringLiteral("warning:") + title + QLatin1Char('|') + text;
    }
    bool question(QWidget *, const QString &title, const QString &text) override {
        asked << QStringLiteral("question:") + title + QLatin1Char('|') + text;
        return !questionAnswers.isEmpty() && questionAnswers.takeFirst();
    }
    void questionLater(QWidget *, const QString &title, const QString &text,
                       std::function<void(bool)> answered) override {
        if (holdQuestions)
            open = std::move(answered), asked << QStringLiteral("question:") + title + '|' + text;
        else
            answered(question(nullptr, title, text));
    }
    void withdrawQuestions() override {
        if (std::exchange(open, nullptr))
            asked << QStringLiteral("withdrawn");
    }
    Answer yesNoCancel(QWidget *, const QString &title, const QString &text) override {
        asked << QStringLiteral("yesNoCancel:") + title + QLatin1Char('|') + text;
        return yesNoCancelAnswers.isEmpty() ? Answer::No : yesNoCancelAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &title, const QString &filter,
                         const QString &folder) override {
        asked << QStringLiteral("save:") + title + QLatin1Char('|') + filter;
        folders << folder;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
    QString openFileName(QWidget *, const QString &title, const QString &filter,
                         const QString &folder) override {
        asked << QStringLiteral("open:") + title + QLatin1Char('|') + filter;
        folders << folder;
        return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
    }
    QStringList warnings() const {
        static const QRegularExpression kWarning(QStringLiteral("^warning:"));
        return QStringList(asked.filter(kWarning)).replaceInStrings(kWarning, QString());
    }
};
