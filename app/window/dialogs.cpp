#include "window/dialogs.h"

#include "window/devicedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

bool Dialogs::chooseDevice(DeviceDialog &dialog) {
    return dialog.exec() == QDialog::Accepted;
}

void QtDialogs::warning(QWidget *parent, const QString &title, const QString &text) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogs::question(QWidget *parent, const QString &title, const QString &text) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

Dialogs::Answer QtDialogs::yesNoCancel(QWidget *parent, const QString &title, const QString &text) {
    QMessageBox box(QMessageBox::Question, title, text,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return Answer::Cancel;
    }
}

QString filterExtension(const QString &nameFilter) {
    static const QRegularExpression pattern(QStringLiteral("\\(\\*\\.(\\w+)"));
    return pattern.match(nameFilter).captured(1);
}

void prepareFileDialog(QFileDialog &dialog, bool forSaving) {
    dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Qt's own dialog, so the case-insensitive pattern match holds on every platform: a
    // technician's "x.ccf" must show under "*.CCF".
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    if (forSaving) {
        // Done in the dialog, so that replacing an existing "name.CCF" is still confirmed.
        dialog.setDefaultSuffix(filterExtension(dialog.selectedNameFilter()));
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString &filter) { dialog.setDefaultSuffix(filterExtension(filter)); });
    }
}

void QtDialogs::questionLater(QWidget *parent, const QString &title, const QString &text,
                              std::function<void(bool)> answered) {
    auto *box = new QMessageBox(QMessageBox::Question, title, text,
                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Window-modal and shown with open(): no event loop of its own, so the caller's loop goes on.
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, answered] {
        answered(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    open_.removeAll(nullptr);
    open_ << box;
    box->open();
}

void QtDialogs::withdrawQuestions() {
    for (const QPointer<QMessageBox> &box : std::as_const(open_)) {
        if (box) {
            QObject::disconnect(box, &QMessageBox::finished, nullptr, nullptr);
            box->hide();
            box->deleteLater();
        }
    }
    open_.clear();
}

static QString runFileDialog(QWidget *parent, const QString &title, const QString &filter,
                             const QString &folder, bool forSaving) {
    QFileDialog dialog(parent, title, folder, filter);
    prepareFileDialog(dialog, forSaving);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString QtDialogs::saveFileName(QWidget *parent, const QString &title, const QString &filter,
                                const QString &folder) {
    return runFileDialog(parent, title, filter, folder, true);
}

QString QtDialogs::openFileName(QWidget *parent, const QString &title, const QString &filter,
                                const QString &folder) {
    return runFileDialog(parent, title, filter, folder, false);
}

QString toQtNameFilters(const QString &barFilter) {
    const QStringList parts = barFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts.at(i).trimmed();
        const QString pattern = parts.at(i + 1).trimmed();
        const QString suffix = QLatin1Char('(') + pattern + QLatin1Char(')');
        filters << (description.endsWith(suffix) ? description
                                                 : description + QLatin1Char(' ') + suffix);
    }
    return filters.join(QStringLiteral(";;"));
}
