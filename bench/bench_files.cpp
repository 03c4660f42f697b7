// Times Save and Open of a second-generation and a 64 MiB image through FileCommands, with a
// view that does nothing. Usage: bench_files [repetitions] [folder]
#include "filecommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class SilentUi : public FileUi {
public:
    QString path;

    void setStatus(const QString &) override {}
    void setProgressMin(qint64) override {}
    void setProgressMax(qint64) override {}
    void setProgressValue(qint64) override {}
    void setConfigStatus(const QString &) override {}
    void setFileStatus(const QString &) override {}
    void SetIdleState() override {}
    void SetBusyState() override {}
    QString askSaveFileName(const QString &, const QString &) override { return path; }
    QString askOpenFileName(const QString &, const QString &, QString *fileTitle) override {
        *fileTitle = path.section(QLatin1Char('/'), -1);
        return path;
    }
    void refresh() override {}
};

double medianMs(std::vector<double> runs) {
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

template <typename Run> std::vector<double> timeRuns(int repetitions, Run run) {
    std::vector<double> runs;
    for (int r = 0; r < repetitions; ++r) {
        QElapsedTimer timer;
        timer.start();
        run();
        runs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return runs;
}

bool measure(const QString &folder, qint32 length, int repetitions) {
    ConfigImage image;
    image.ControllerType = 1;
    image.ConfigLength = length;
    image.ConfigData = QByteArray(qsizetype(length) + 1, '\0');
    for (qint32 i = 1; i <= length; ++i)
        image.ConfigData[i] = char((i * 131) ^ (i >> 9));
    const QByteArray original = image.ConfigData;

    SilentUi ui;
    ui.path = folder + QStringLiteral("/bench%1.CCF").arg(length);
    FileCommands commands(image, ui);

    const std::vector<double> save = timeRuns(repetitions, [&] { commands.mnuSave_Click(); });
    const std::vector<double> open = timeRuns(repetitions, [&] { commands.mnuOpen_Click(); });
    if (image.ConfigLength != length || image.ConfigData != original) {
        std::fprintf(stderr, "round trip of %d bytes differs\n", length);
        return false;
    }
    std::printf("%9d bytes  Save median %8.2f ms (min %8.2f)  Open median %8.2f ms (min %8.2f)\n",
                length, medianMs(save), *std::min_element(save.begin(), save.end()), medianMs(open),
                *std::min_element(open.begin(), open.end()));
    return true;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int repetitions = args.size() > 1 ? qMax(1, args.at(1).toInt()) : 9;
    QTemporaryDir scratch(args.size() > 2 ? args.at(2) + QStringLiteral("/bench-XXXXXX")
                                          : QDir::tempPath() + QStringLiteral("/bench-XXXXXX"));
    if (!scratch.isValid()) {
        std::fprintf(stderr, "no scratch folder\n");
        return 1;
    }
    std::printf("%d repetitions in %s\n", repetitions, qPrintable(scratch.path()));
    const bool ok = measure(scratch.path(), kSecondGenerationLength, repetitions) &&
                    measure(scratch.path(), 64 << 20, repetitions);
    return ok ? 0 : 1;
}
