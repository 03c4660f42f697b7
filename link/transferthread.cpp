#include "link/transferthread.h"

#include "link/qtserialport.h"

#include <QElapsedTimer>
#include <utility>

// The worker's observer: every report becomes a call queued to the owner's thread. Progress
// goes at most once a frame; every other report, and the end, first brings it up to date.
class TransferThread::Relay : public TransferObserver {
public:
    explicit Relay(TransferThread *owner) : owner_(owner) { sincePost_.start(); }
    ~Relay() override { flush(); }

    void status(const QString &text) override {
        flush();
        post([o = owner_, text] { emit o->status(text); });
    }
    void progressRange(qint64 min, qint64 max) override {
        flush();
        post([o = owner_, min, max] { emit o->progressRange(min, max); });
    }
    void progress(qint64 value) override {
        owner_->latest_.store(value, std::memory_order_relaxed);
        unsent_ = true;
        if (sincePost_.nsecsElapsed() >= kFrameNs)
            flush();
    }
    void imageHeld(qint64 length) override {
        flush();
        post([o = owner_, length] { emit o->imageHeld(length); });
    }
    void writing(bool on) override {
        flush();
        post([o = owner_, on] { emit o->writing(on); });
    }

private:
    static constexpr qint64 kFrameNs = 16'000'000;
    void flush() {
        if (!std::exchange(unsent_, false))
            return;
        sincePost_.restart();
        // One call waiting is enough: it shows the value latest when it runs.
        if (!owner_->progressPending_.exchange(true))
            post([o = owner_] { o->deliverProgress(); });
    }
    template <typename F> void post(F &&call) {
        QMetaObject::invokeMethod(owner_, std::forward<F>(call), Qt::QueuedConnection);
    }
    TransferThread *owner_;
    QElapsedTimer sincePost_;
    bool unsent_ = false;
};

TransferThread::TransferThread(QObject *parent)
    : QObject(parent), factory_([] { return std::make_unique<QtSerialPort>(); }) {}

TransferThread::~TransferThread() {
    if (!thread_)
        return;
    stop_->request();
    thread_->wait();
    delete thread_;
}

void TransferThread::deliverProgress() {
    progressPending_.store(false);
    emit progress(latest_.load(std::memory_order_relaxed));
}

void TransferThread::start(const JobRequest &request) {
    if (thread_)
        return;
    stop_ = std::make_shared<StopToken>();
    progressPending_.store(false);
    thread_ = QThread::create([this, request, stop = stop_, factory = factory_] {
        // The port lives and dies in this thread.
        const std::unique_ptr<SerialPort> port = factory();
        SteadyClock clock;
        JobResult result;
        {
            // Its last report goes before the result.
            Relay relay(this);
            result = runJob(request, *port, clock, *stop, relay);
        }
        QMetaObject::invokeMethod(
            this,
            [this, result] {
                thread_->wait();
                delete thread_;
                thread_ = nullptr;
                emit finished(result);
            },
            Qt::QueuedConnection);
    });
    thread_->setObjectName(QStringLiteral("transfer"));
    thread_->start();
}

void TransferThread::stop() {
    if (stop_)
        stop_->request();
}
