#include "imagefile.h"

#include "blocksplit.h"
#include "hugepages.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace ImageFile
{

namespace
{

// Closes the descriptor however the read ends.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

Result resultOf(Outcome outcome, qint64 size = -1)
{
    Result r;
    r.outcome = outcome;
    r.size = size;
    return r;
}

Outcome openFailure(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return Outcome::NotFound;
    case EACCES:
    case EPERM:
        return Outcome::NoPermission;
    default:
        return Outcome::CannotOpen;
    }
}

// One read() that retries when a signal interrupts it.
ssize_t readSome(int fd, char *into, size_t count)
{
    for (;;) {
        const ssize_t n = ::read(fd, into, count);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

// Opens `path` for reading, or says why it cannot: -1 and `failure`.
int openFile(const QString &path, Outcome &failure)
{
    if (path.isEmpty()) {
        failure = Outcome::NotFound;
        return -1;
    }
    // Non-blocking open: a pipe chosen by mistake must not hang the caller waiting for a
    // writer. It changes nothing for regular files.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        failure = openFailure(errno);
        // Bytes of a name that are not UTF-8 reach us as U+FFFD, so that name cannot be found
        // again: the file is there, but the program cannot name it.
        if (failure == Outcome::NotFound && path.contains(QChar::ReplacementCharacter))
            failure = Outcome::NameNotUsable;
    }
    return fd;
}

// What the open file is: Loaded with its length when it can be read whole, else why not.
Result examine(int fd, qint64 maxSize)
{
    struct stat st {
    };
    if (::fstat(fd, &st) != 0)
        return resultOf(Outcome::CannotOpen);
    if (S_ISDIR(st.st_mode))
        return resultOf(Outcome::IsFolder);
    if (!S_ISREG(st.st_mode))
        return resultOf(Outcome::NotRegularFile);
    const qint64 size = st.st_size;
    if (size == 0)
        return resultOf(Outcome::Empty, size);
    if (size > maxSize)
        return resultOf(Outcome::TooLarge, size);
    return resultOf(Outcome::Loaded, size);
}

// Fills `data`, the file's length, from `fd`: Loaded when the file held exactly that many bytes
// before and after the read, else why not.
Outcome fill(int fd, QByteArray &data)
{
    const qint64 size = data.size();
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = readSome(fd, data.data() + done, size_t(size - done));
        if (n < 0)
            return Outcome::ReadFailed;
        if (n == 0)
            return Outcome::ChangedWhileRead; // it shrank
        done += n;
    }
    // Nothing may follow the bytes we expected, and the length must still be the same.
    char extra = 0;
    const ssize_t more = readSome(fd, &extra, 1);
    if (more < 0)
        return Outcome::ReadFailed;
    struct stat after {
    };
    if (more > 0 || ::fstat(fd, &after) != 0 || after.st_size != size)
        return Outcome::ChangedWhileRead;
    return Outcome::Loaded;
}

} // namespace

Result read(const QString &path, qint64 maxSize)
{
    Outcome failure = Outcome::CannotOpen;
    const Descriptor fd(openFile(path, failure));
    if (fd.get() < 0)
        return resultOf(failure);
    Result r = examine(fd.get(), maxSize);
    if (r.outcome != Outcome::Loaded)
        return r;
    // One buffer of the file's length, filled in place: the bytes are never held twice.
    try {
        r.data = freshBuffer(r.size);
    } catch (const std::bad_alloc &) {
        return resultOf(Outcome::OutOfMemory, r.size);
    }
    const Outcome filled = fill(fd.get(), r.data);
    if (filled != Outcome::Loaded)
        return resultOf(filled, r.size);
    return r;
}

QString refusalMessage(const Result &result, const QString &path, bool imageKept)
{
    // One-pass substitution throughout: a "%2" inside a file name stays as it is.
    const QString file = quoted(path);
    QString text;
    switch (result.outcome) {
    case Outcome::Loaded:
        return QString();
    case Outcome::NotFound:
        text = QStringLiteral("文件%1不存在，请选择其它文件！").arg(file);
        break;
    case Outcome::NameNotUsable:
        text = QStringLiteral("文件%1的名称含有无法识别的字符，无法使用，请把文件改名后再加载！")
                   .arg(file);
        break;
    case Outcome::IsFolder:
        text = QStringLiteral("%1是文件夹，不是Bin文件，请选择其它文件！").arg(file);
        break;
    case Outcome::NotRegularFile:
        text = QStringLiteral("%1不是普通文件，请选择其它文件！").arg(file);
        break;
    case Outcome::NoPermission:
        text = QStringLiteral("没有读取文件%1的权限，请选择其它文件！").arg(file);
        break;
    case Outcome::CannotOpen:
        text = QStringLiteral("无法打开文件%1，请选择其它文件！").arg(file);
        break;
    case Outcome::ReadFailed:
        text = QStringLiteral("读取文件%1时出错，请重新加载！").arg(file);
        break;
    case Outcome::Empty:
        text = QStringLiteral("文件%1是空文件（0字节），请选择其它文件！").arg(file);
        break;
    case Outcome::TooLarge:
        text = QStringLiteral("文件%1有%2字节，超过了可下载的最大长度%3字节，请选择其它文件！")
                   .arg(file, QString::number(result.size), QString::number(BlockSplit::maxLength));
        break;
    case Outcome::ChangedWhileRead:
        text = QStringLiteral("文件%1在读取时被改动，请重新加载！").arg(file);
        break;
    case Outcome::OutOfMemory:
        text = QStringLiteral("内存不足，无法加载文件%1（%2字节）！")
                   .arg(file, QString::number(result.size));
        break;
    }
    return keptNotice(text, imageKept);
}

QString quoted(const QString &path)
{
    return QStringLiteral("“") + path + QStringLiteral("”");
}

QString keptNotice(const QString &text, bool imageKept)
{
    return imageKept ? text + QStringLiteral("\n已加载的Bin文件保持不变。") : text;
}

} // namespace ImageFile
