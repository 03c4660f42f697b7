#pragma once

#include "link/transfer.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

// Runs one job at a time on a thread of its own, which opens, uses and closes the port. What
// the job reports arrives as queued signals in the thread that owns this object; progress
// values are coalesced, so a job moving a byte at a time never floods that thread.
class TransferThread : public QObject {
    Q_OBJECT
public:
    using PortFactory = std::function<std::unique_ptr<SerialPort>()>;
    explicit TransferThread(QObject *parent = nullptr);
    ~TransferThread() override; // stops a running job and waits for its thread

    // The port each job opens; by default the system's serial port.
    void setPortFactory(PortFactory factory) { factory_ = std::move(factory); }

    bool running() const { return thread_ != nullptr; }
    // Starts the job; ignored while one runs.
    void start(const JobRequest &request);
    // Asks the running job to stop; it ends within moments and reports as usual.
    void stop();

signals:
    void status(const QString &text);
    void progressRange(qint64 min, qint64 max);
    void progress(qint64 value);
    void imageHeld(qint64 length);
    void writing(bool on);
    void finished(const JobResult &result);

private:
    class Relay;
    void deliverProgress();

    PortFactory factory_;
    QThread *thread_ = nullptr;
    std::shared_ptr<StopToken> stop_;
    std::atomic<qint64> latest_{0};
    std::atomic<bool> progressPending_{false};
};
