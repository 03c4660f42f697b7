#pragma once

#include "commandview.h"
#include "configfile.h"
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
    // The file used last; FileStatus reads the path's last 60 characters. A window that has
    // room to show more of it can take the whole path.
    virtual void setFilePath(const QString &path) { setFileStatus(ConfigFile::pathTail(path)); }
};

// Save and Open as plain code over the image and the view. A Save or Open that does not
// complete shows why and leaves the image, its generation and both labels as they were.
class FileCommands {
public:
    FileCommands(ConfigImage &image, FileUi &ui) : image_(image), ui_(ui) {}

    // True when the file is in place (false on Cancel and on failure).
    bool mnuSave_Click();
    void mnuOpen_Click();
    // Open without the dialog, for a file named at start or dropped on the window.
    void openFile(const QString &path);

    // The steps after the dialog, for every face that already knows the path (the command
    // line, a file named at start or dropped on the window). They show progress but no box;
    // on failure *error says why, in words that follow "Cannot save/open <path>: ".
    bool saveTo(const QString &path, QString *error);
    bool openFrom(const QString &path, QString *error);

    // How many bytes a Save writes: a second-generation file is always 186368 bytes, but
    // never more bytes than are held; any other image is written whole.
    static qint32 savedLength(const ConfigImage &image);
    // The box text of a Save ("save") or Open ("open") that did not complete.
    static QString failureText(const char *what, const QString &path, const QString &error);

private:
    void openReporting(const QString &path); // Open's steps after the dialog, box on failure

    ConfigImage &image_;
    FileUi &ui_;
};
