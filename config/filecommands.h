#pragma once

#include "config/configfile.h"
#include "config/image.h"
#include "config/progressobserver.h"

#include <optional>

#include <QString>

// What the file commands show, and the file dialogs they need. The main window implements it;
// tests record it.
class FileView : public virtual ProgressObserver {
public:
    virtual void setConfigStatus(const QString &text) = 0;
    // The file used last; the label reads the path's last 60 characters.
    virtual void setFilePath(const QString &path) = 0;
    virtual void setIdleState() = 0; // also sets the status line to "Waiting for Command"
    virtual void setBusyState() = 0;
    // A modal warning box with an OK button only; returns when the user has closed it.
    virtual void showWarning(const QString &title, const QString &text) = 0;
    // Full path of the chosen file, or an empty string on Cancel.
    virtual QString askSaveFileName(const QString &title, const QString &filter) = 0;
    virtual QString askOpenFileName(const QString &title, const QString &filter) = 0;
};

// Save and Open as plain code over the held image and the view. A Save or Open that does not
// complete shows why and leaves the image, its generation and both labels as they were.
class FileCommands {
public:
    FileCommands(HeldImage &image, FileView &view) : image_(image), view_(view) {}

    // True when the file is in place (false on Cancel and on failure).
    bool save();
    void open();
    // Open without the dialog, for a file named at start or dropped on the window.
    void openFile(const QString &path);

    // The steps after the dialog, for every face that already knows the path (the command
    // line, a file named at start or dropped on the window). They show progress but no box;
    // on failure *error says why, in words that follow "Cannot save/open <path>: ".
    bool saveTo(const QString &path, QString *error);
    bool openFrom(const QString &path, QString *error);

    // The file steps alone, for every face: progress but no box; on failure *error says why.
    // A Save writes savedLength() bytes; the old file is replaced only once the new one is
    // complete on disk. An Open takes the generation from the name.
    static bool writeImage(const QString &path, const Image &image, ProgressObserver &observer,
                           QString *error);
    static std::optional<Image> readImage(const QString &path, ProgressObserver &observer,
                                          QString *error);

    // The generation a file's name records: ".CCF" first, ".SAV" second, in any letter case.
    static Generation generationOf(const QString &path);
    // How many bytes a Save writes: a second-generation file is always 186368 bytes, but
    // never more bytes than are held; an image of any other generation is written whole.
    static qint32 savedLength(const Image &image);
    // The box text of a Save ("save") or Open ("open") that did not complete.
    static QString failureText(const char *what, const QString &path, const QString &error);

private:
    void openReporting(const QString &path); // Open's steps after the dialog, box on failure

    HeldImage &image_;
    FileView &view_;
};
