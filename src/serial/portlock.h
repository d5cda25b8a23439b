#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// How a serial device is claimed and how a device held by another program is recognised.
//
// A program holds a device when it has an exclusive flock(2) on it (seen across processes and
// across paths to the same device, also for root), when it put the tty in exclusive mode
// (TIOCEXCL, which stops other users but not root), or when a UUCP lock file in the lock
// folder names a live process.
namespace PortLock
{

enum class Status {
    Claimed,          // the device is ours: the descriptor holds the exclusive flock
    Busy,             // another open file holds the device
    NoDevice,         // no such device
    PermissionDenied, // the device exists but this user may not open it
    Failed,           // anything else
};

struct Claim {
    Status status = Status::Failed;
    int fd = -1;   // valid only when Claimed; closing it releases the claim
    int error = 0; // errno of the failed step
};

// Opens `device` and takes an exclusive flock on it without waiting. The descriptor is kept
// (and the lock held) until the caller closes it.
Claim claimDevice(const QString &device);

// True when the tty behind `fd` is in exclusive mode (another program set TIOCEXCL).
bool isExclusive(int fd);

// The lock file names that stand for `device` (a canonical path): the UUCP name
// LCK..<device name> and the name Qt gives it (the path after /dev/ with '/' made '_').
QStringList lockFileNames(const QString &device);

// The process a lock file names: an ASCII decimal number (possibly padded with blanks and
// followed by more lines), or a 4-byte binary int in old files. 0 when it names none.
pid_t lockFilePid(const QByteArray &content);

// The folder of UUCP lock files (LCK..ttyUSB0) that serial programs leave for each other:
// $VANTREL_LOCK_DIR when set (tests point it at a folder of their own), else /run/lock.
QString lockDir();

// Reads at most `maxBytes` of the lock file at `path` without ever waiting: it is opened
// non-blocking, a symbolic link is not followed, and only a regular file is read. False (and
// `content` untouched) for anything else: a FIFO, a device, a folder, a missing file.
bool readLockFile(const QString &path, qint64 maxBytes, QByteArray *content);

// Where Qt's serial port will create its own lock file for `device` ("" when nowhere).
QString qtLockFilePath(const QString &device);

// True when something other than a regular file stands at `path`: a FIFO, a device, a
// folder, a symbolic link. Qt's serial port would wait on it for ever (or remove it).
bool isForeignLockPath(const QString &path);

// True when a lock file for `device` in `lockDir` names a live process other than this one.
bool isLockedByOther(const QString &lockDir, const QString &device);

} // namespace PortLock
