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
#include <unistd.h>

namespace unprivileged {

// The outcome of the current row as nobody: empty when it passed, else why not. `skipped`
// tells a skip from a failure.
inline QString runCurrentRow(bool &skipped) {
    skipped = true;
    QString runuser;
    for (const char *path : {"/usr/sbin/runuser", "/sbin/runuser", "/usr/bin/runuser"})
        if (QFileInfo(QLatin1String(path)).isExecutable())
            runuser = QLatin1String(path);
    const passwd *nobody = ::getpwnam("nobody");
    if (runuser.isEmpty() || !nobody)
        return QStringLiteral("needs runuser and the user nobody");
    const QStringList asNobody{QStringLiteral("-u"), QStringLiteral("nobody"),
                               QStringLiteral("--")};
    const QString self = QCoreApplication::applicationFilePath();
    if (QProcess::execute(runuser, asNobody + QStringList{QStringLiteral("test"),
                                                          QStringLiteral("-x"), self}) != 0)
        return QStringLiteral("nobody cannot run %1 (is the build folder open to others?)")
            .arg(self);

    // A home of nobody's own: settings, temporary files and the runtime folder.
    skipped = false;
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    const QList<std::pair<const char *, const char *>> folders{
        {"XDG_CONFIG_HOME", "config"}, {"TMPDIR", "tmp"}, {"XDG_RUNTIME_DIR", "run"}};
    for (const auto &[variable, folder] : folders) {
        const QString path = home.filePath(QLatin1String(folder));
        if (!QDir().mkdir(path) ||
            ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            return QStringLiteral("cannot hand a folder to nobody");
        env.insert(QLatin1String(variable), path);
    }
    QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);

    QString row = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        row += QLatin1Char(':') + QString::fromLatin1(QTest::currentDataTag());
    QProcess child;
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(home.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(runuser, asNobody + QStringList{self, row});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        return QStringLiteral("the run as nobody did not end");
    }
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QStringLiteral("as nobody:\n") + output;
    skipped = output.contains(QLatin1String("SKIP   :"));
    return skipped ? QStringLiteral("as nobody: ") + output : QString();
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
