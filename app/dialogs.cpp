#include "dialogs.h"

#include "frmdevice.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

bool Dialogs::chooseDevice(frmDevice &dialog) {
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

void prepareFileDialog(QFileDialog &dialog, bool forSaving) {
    dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Qt's own dialog, so the case-insensitive pattern match holds on every platform: a
    // technician's "x.ccf" must show under "*.CCF".
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
}

static QString runFileDialog(QWidget *parent, const QString &title, const QString &filter,
                             bool forSaving) {
    QFileDialog dialog(parent, title, QString(), filter);
    prepareFileDialog(dialog, forSaving);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

QString QtDialogs::saveFileName(QWidget *parent, const QString &title, const QString &filter) {
    return runFileDialog(parent, title, filter, true);
}

QString QtDialogs::openFileName(QWidget *parent, const QString &title, const QString &filter) {
    return runFileDialog(parent, title, filter, false);
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
