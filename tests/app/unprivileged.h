#pragma once

// Permission faults mean nothing to root, who opens and writes whatever the mode bits say. A test
// row that needs them calls RUN_UNPRIVILEGED() first: run by root, it runs the same row again in
// a child process as the user "nobody" and passes, fails or skips as that run did; run by anyone
// else, it does nothing and the row goes on.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unprivileged {

inline QString runuser() {
    for (const char *path : {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser"})
        if (QFileInfo(QLatin1String(path)).isExecutable())
            return QLatin1String(path);
    return {};
}

// Why the current row cannot run as nobody here; empty when it can.
inline QString obstacle(const QString &tool, uid_t &uid, gid_t &gid) {
    if (tool.isEmpty())
        return QStringLiteral("runuser is not installed");
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody)
        return QStringLiteral("there is no user nobody");
    uid = nobody->pw_uid;
    gid = nobody->pw_gid;
    QStringList programs{QCoreApplication::applicationFilePath()};
    if (qEnvironmentVariableIsSet("STOWLINE_SIM"))
        programs << qEnvironmentVariable("STOWLINE_SIM");
    for (const QString &program : programs) {
        if (QProcess::execute(tool,
                              {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                               QStringLiteral("test"), QStringLiteral("-x"), program}) != 0)
            return QStringLiteral("nobody cannot run %1 (is the build folder open to others?)")
                .arg(program);
    }
    return {};
}

// The outcome of the current row as nobody: empty when it passed, else why not. `skipped`
// tells a skip from a failure.
inline QString runCurrentRow(bool &skipped) {
    skipped = false;
    const QString tool = runuser();
    uid_t uid = 0;
    gid_t gid = 0;
    const QString why = obstacle(tool, uid, gid);
    if (!why.isEmpty()) {
        skipped = true;
        return why;
    }
    // A home of nobody's own: settings, temporary files and the runtime folder.
    QTemporaryDir home;
    const QStringList folders{QStringLiteral("config"), QStringLiteral("tmp"),
                              QStringLiteral("run")};
    for (const QString &folder : folders) {
        QDir(home.path()).mkdir(folder);
        if (::chown(QFile::encodeName(home.filePath(folder)).constData(), uid, gid) != 0)
            return QStringLiteral("cannot hand a folder to nobody");
    }
    if (::chmod(QFile::encodeName(home.path()).constData(), 0755) != 0)
        return QStringLiteral("cannot open the folder to nobody");

    QString row = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        row += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("TMPDIR"), home.filePath(QStringLiteral("tmp")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(tool, {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("--"),
                       QCoreApplication::applicationFilePath(), row});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        return QStringLiteral("the run as nobody did not end");
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0) {
        if (output.contains(QLatin1String("SKIP   :"))) {
            skipped = true;
            return QStringLiteral("as nobody: ") + output;
        }
        return {};
    }
    return QStringLiteral("as nobody:\n") + output;
}

} // namespace unprivileged

#define RUN_UNPRIVILEGED()                                                                         \
    do {                                                                                           \
        if (::geteuid() == 0) {                                                                    \
            bool skipped_ = false;                                                                 \
            const QString outcome_ = unprivileged::runCurrentRow(skipped_);                        \
            if (skipped_)                                                                          \
                QSKIP(qPrintable(outcome_));                                                       \
            QVERIFY2(outcome_.isEmpty(), qPrintable(outcome_));                                    \
            return;                                                                                \
        }                                                                                          \
    } while (false)
