#include "link/transferthread.h"

#include "link/qtserialport.h"

// The worker's observer: every report becomes a call queued to the owner's thread.
class TransferThread::Relay : public TransferObserver {
public:
    explicit Relay(TransferThread *owner) : owner_(owner) {}
    void status(const QString &text) override {
        post([o = owner_, text] { emit o->status(text); });
    }
    void progressRange(qint64 min, qint64 max) override {
        post([o = owner_, min, max] { emit o->progressRange(min, max); });
    }
    void progress(qint64 value) override {
        owner_->latest_.store(value, std::memory_order_relaxed);
        // One call waiting is enough: it shows the value latest when it runs.
        if (!owner_->progressPending_.exchange(true))
            post([o = owner_] { o->deliverProgress(); });
    }
    void imageHeld(qint64 length) override {
        post([o = owner_, length] { emit o->imageHeld(length); });
    }
    void writing(bool on) override {
        post([o = owner_, on] { emit o->writing(on); });
    }

private:
    template <typename F> void post(F &&call) {
        QMetaObject::invokeMethod(owner_, std::forward<F>(call), Qt::QueuedConnection);
    }
    TransferThread *owner_;
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

void TransferThread::start(const JobSpec &spec) {
    if (thread_)
        return;
    stop_ = std::make_shared<StopToken>();
    progressPending_.store(false);
    thread_ = QThread::create([this, spec, stop = stop_, factory = factory_] {
        // The port lives and dies in this thread.
        const std::unique_ptr<SerialPort> port = factory();
        SteadyClock clock;
        Relay relay(this);
        const JobResult result = runJob(spec, *port, clock, *stop, relay);
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
