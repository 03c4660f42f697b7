#pragma once

#include "config/image.h"
#include "config/imagediff.h"
#include "config/progressobserver.h"
#include "link/portinventory.h"
#include "link/serialport.h"
#include "link/stoptoken.h"
#include "link/waits.h"

#include <QDateTime>
#include <QString>
#include <optional>

// What a running transfer reports while it runs.
class TransferObserver : public virtual ProgressObserver {
public:
    // How many bytes of an image a Backup holds from here on: 0 once the image held before is
    // gone and the new one not yet read.
    virtual void imageHeld(qint64 length) { Q_UNUSED(length); }
    // True while a Restore writes to the controller: a stop then leaves it without a complete
    // configuration.
    virtual void writing(bool on) { Q_UNUSED(on); }
};

// How a job ended.
enum class Outcome {
    Succeeded,   // ended without a box
    NothingHeld, // Restore with no image to send
    OpenFailed,  // the port could not be opened
    NoResponse,  // the controller fell silent or the device went away
    Refused,     // checksum or verdict refused, wrong length or generation, verify failed
    Stopped,     // a stop was asked for: no box
};

// What a Backup did to the image held before it.
enum class HeldEffect {
    Kept,     // the controller was never reached: the image held stays
    Replaced, // the image read replaces it (also when its checksum was refused)
    Dropped,  // the read began and did not finish: nothing is held
};

// The port a job runs on: its number in the Port menu (0 for a device named directly) and the
// device that number stood for when the job began.
struct PortChoice {
    qint16 number = 0;
    QString device;
};

// What a job needs besides the port.
struct JobRequest {
    enum class Kind { Backup, Restore, Verify };
    Kind kind = Kind::Backup;
    PortChoice port;
    Image image;              // Restore: what is sent; Verify: what the controller should hold
    bool verify = false;      // Restore: read the controller back and compare
    bool backupFirst = false; // Restore: keep the controller's image in a snapshot file first
    QString snapshotDir;      // where that file lands
    QDateTime now;            // names it
    PortInventory inventory = systemSerialPorts; // named in the advice for a missing device
    bool commandLineAdvice = false;              // advice names options, not menus
};

// One exchange a job ran, as the journal records it: the Backup or verify that read the
// controller's image, the Restore that wrote one, the snapshot before a Restore, the read-back
// after it.
struct ExchangeRecord {
    QString command; // "backup", "restore", "verify", "snapshot", "read-back"
    QString outcome; // "succeeded", "stopped", "no-response", "refused", "open-failed", ...
    Generation generation = Generation::Unknown;
    qint64 bytes = 0;  // image bytes read or written
    QByteArray sha256; // lower-case hex of the image read, written or compared; empty: none whole
    QString file;      // the snapshot written; the face names the others
    QString text;      // the box text; empty: none
    QDateTime started;
    double seconds = 0;
};

// The journal's word for an outcome.
QString outcomeName(Outcome outcome);

struct JobResult {
    Outcome outcome = Outcome::Succeeded;
    QString boxTitle, boxText; // the box to show; no text: none
    HeldEffect held = HeldEffect::Kept;
    Image image;           // Backup: what was read; Verify: what the controller holds
    qint64 bytesMoved = 0; // image bytes read or written by the last exchange
    QString device;        // the device opened
    QString snapshotPath;  // Restore: the snapshot written; empty: none
    bool verified = false;
    std::optional<ImageDiff> diff;   // Verify: how the controller's image differs
    QList<ExchangeRecord> exchanges; // in the order they ran

    bool hasBox() const { return !boxText.isEmpty(); }
};

// The held image once a job has ended: a Backup's image replaces it or its loss empties it,
// and only a Restore that ended without a box (its verify included) makes it no longer the
// only copy there is.
void applyToHeld(HeldImage &held, JobRequest::Kind kind, const JobResult &result);

// Runs one job to its end over the port, the clock and the stop token. The port is opened and
// closed here on every way out, closed before any box is handed back, and nothing is written
// after a stop. Backup, Restore and the read-back each open the port afresh.
JobResult runJob(const JobRequest &request, SerialPort &port, Clock &clock, const StopToken &stop,
                 TransferObserver &observer);
