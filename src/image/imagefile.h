#pragma once

#include <QByteArray>
#include <QString>

// Reading an image file, raw or firmware: the whole file as bytes, or a reason why it cannot be
// read. Nothing is ever half-read: either every byte of a file that kept its size throughout the
// read comes back, or nothing does.
namespace ImageFile
{

enum class Outcome {
    Loaded,
    NotFound,         // no such file (or a folder on the way is missing)
    NameNotUsable,    // the name on disk is not valid UTF-8: it reached us changed
    IsFolder,         // a folder was chosen
    NotRegularFile,   // a device, pipe or socket: no fixed length to announce
    NoPermission,     // the user may not read it
    CannotOpen,       // any other reason the system refused to open it
    ReadFailed,       // the system reported an error while reading
    Empty,            // 0 bytes: no image
    TooLarge,         // longer than the caller's limit (a raw image: 64 MiB or more)
    ChangedWhileRead, // it grew or shrank while it was read
    OutOfMemory,      // no memory for the bytes
};

struct Result {
    Outcome outcome = Outcome::CannotOpen;
    QByteArray data;  // the image; empty unless outcome is Loaded
    qint64 size = -1; // the file's length when it was opened; -1 when unknown
};

// Reads the file at `path`, refused as TooLarge when it is longer than `maxSize` bytes. The bytes
// go straight into one buffer of the file's length. A pipe chosen by mistake is refused at once
// instead of waited on.
Result read(const QString &path, qint64 maxSize);

// The notice that tells the operator why the raw image `path` was not loaded (Simplified
// Chinese; TooLarge names the length frame's limit). With `imageKept` it adds that the image
// loaded before stays in place.
QString refusalMessage(const Result &result, const QString &path, bool imageKept);

// How every notice about a file names it: the path in quotes, “path”.
QString quoted(const QString &path);

// A notice's text, followed with `imageKept` by the line that the image loaded before stays.
QString keptNotice(const QString &text, bool imageKept);

} // namespace ImageFile
