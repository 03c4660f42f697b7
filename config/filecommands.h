#pragma once

#include "commandview.h"
#include "configimage.h"

#include <QString>

// The file dialogs, as the file commands need them.
class FileUi : public virtual CommandView {
public:
    // Full path of the chosen file, or an empty string on Cancel.
    virtual QString askSaveFileName(const QString &title, const QString &filter) = 0;
    // Full path of the chosen file (empty on Cancel); *fileTitle receives the bare file name.
    virtual QString askOpenFileName(const QString &title, const QString &filter,
                                    QString *fileTitle) = 0;
    // Paints the window once before a copy that does not yield.
    virtual void refresh() = 0;
};

// Save and Open as plain code over the image and the view.
class FileCommands {
public:
    FileCommands(ConfigImage &image, FileUi &ui) : image_(image), ui_(ui) {}

    void mnuSave_Click();
    void mnuOpen_Click();
    // Open without the dialog, for a file named at start or dropped on the window.
    void openFile(const QString &path);

private:
    ConfigImage &image_;
    FileUi &ui_;
};
