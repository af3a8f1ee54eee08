#include "platform/posix/posix_files.h"

#include "platform/error.h"
#include "platform/posix/stale_temporaries.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tavro {

namespace {

constexpr std::size_t BufferSize = 64 * 1024;
// A list of names has no business running as its owner.
constexpr mode_t SetIdBits = S_ISUID | S_ISGID;
constexpr mode_t WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// Between the file's name and the writer's process number in a temporary file's name.
constexpr std::string_view TemporaryMark = ".tmp-";

[[noreturn]] void raise(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        throw Error(errc::PermissionDenied, "Permission denied");
    case ENOSPC:
    case EDQUOT:
        throw Error(errc::DiskFull, "Disk full");
    case EIO:
        throw Error(errc::DeviceIoError, "Device I/O error");
    case EMFILE:
    case ENFILE:
        throw Error(errc::TooManyFiles, "Too many files");
    case ENOENT:
    case ENOTDIR:
        throw Error(errc::PathNotFound, "Path not found");
    default:
        throw Error(errc::PathFileAccess, "Path/File access error");
    }
}

// Writes the whole of data at the descriptor's offset: 0, or the error number
// of the write that failed.
int writeAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

class PosixInput final : public TextInput {
public:
    explicit PosixInput(int fd) : m_fd(fd), m_buffer(BufferSize) {}
    ~PosixInput() override { ::close(m_fd); }
    PosixInput(const PosixInput&) = delete;
    PosixInput& operator=(const PosixInput&) = delete;

    bool eof() override {
        if (m_position < m_length)
            return false;
        if (m_atEnd)
            return true;
        fill();
        return m_position >= m_length;
    }

    char get() override {
        if (eof())
            throw Error(errc::InputPastEndOfFile, "Input past end of file");
        return m_buffer[m_position++];
    }

private:
    void fill() {
        ssize_t n;
        do
            n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        while (n < 0 && errno == EINTR);
        if (n < 0)
            raise(errno);
        m_position = 0;
        m_length = static_cast<std::size_t>(n);
        m_atEnd = n == 0;
    }

    int m_fd;
    std::vector<char> m_buffer;
    std::size_t m_position = 0;
    std::size_t m_length = 0;
    bool m_atEnd = false;
};

// An output that also takes bytes as they are, with no line end.
class ByteOutput : public TextOutput {
public:
    virtual void write(std::string_view bytes) = 0;
    void writeLine(std::string_view text) final {
        write(text);
        write("\r\n");
    }
};

class PosixOutput final : public ByteOutput {
public:
    PosixOutput(int fd, std::string temporary, std::string target)
        : m_fd(fd), m_temporary(std::move(temporary)), m_target(std::move(target)) {}
    ~PosixOutput() override {
        if (m_fd >= 0)
            ::close(m_fd);
        // Never closed, or closing failed: the old file is still in place, and
        // the half-written copy must not be left lying beside it.
        if (!m_replaced)
            ::unlink(m_temporary.c_str());
    }
    PosixOutput(const PosixOutput&) = delete;
    PosixOutput& operator=(const PosixOutput&) = delete;

    void write(std::string_view bytes) override {
        if (m_fd < 0)
            throw Error(errc::PathFileAccess, "Path/File access error");
        m_pending.append(bytes);
        if (m_pending.size() >= BufferSize)
            flush();
    }

    void close() override {
        if (m_replaced)
            return;
        // A close that failed once does not succeed by being called again.
        if (m_fd < 0)
            throw Error(errc::PathFileAccess, "Path/File access error");
        flush();
        // The data must be on the disk before the rename makes it the file;
        // otherwise a crash right after could leave an empty file in its place.
        if (::fsync(m_fd) != 0)
            raise(errno);
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            raise(errno);
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
            raise(errno);
        m_replaced = true;
        syncFolder();
    }

private:
    void flush() {
        if (const int error = writeAll(m_fd, m_pending); error != 0)
            raise(error);
        m_pending.clear();
    }

    // Makes the rename itself durable. The file is already in place, so a
    // failure here is not worth reporting.
    void syncFolder() const {
        const std::size_t slash = m_target.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : m_target.substr(0, slash);
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }

    int m_fd;
    std::string m_temporary;
    std::string m_target;
    std::string m_pending;
    bool m_replaced = false;
};

// The folder would not take a temporary file, but the file itself may be
// written: it is then rewritten where it stands. Everything is held back until
// close(), so an output dropped unclosed, or failing before close(), leaves
// the old file whole; so does a disk without room for the new text. Only a
// write that fails once the room is reserved leaves it spoilt.
class InPlaceOutput final : public ByteOutput {
public:
    explicit InPlaceOutput(int fd) : m_fd(fd) {}
    ~InPlaceOutput() override {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    InPlaceOutput(const InPlaceOutput&) = delete;
    InPlaceOutput& operator=(const InPlaceOutput&) = delete;

    void write(std::string_view bytes) override {
        if (m_fd < 0)
            throw Error(errc::PathFileAccess, "Path/File access error");
        m_pending.append(bytes);
    }

    void close() override {
        if (m_written)
            return;
        if (m_fd < 0)
            throw Error(errc::PathFileAccess, "Path/File access error");
        // Whatever happens below the descriptor is given up, so that a second
        // close() reports the failure instead of claiming success.
        const int fd = m_fd;
        m_fd = -1;
        if (const int error = rewrite(fd); error != 0) {
            ::close(fd);
            raise(error);
        }
        if (::close(fd) != 0)
            raise(errno);
        m_written = true;
    }

private:
    // The error number of the step that failed, or 0.
    int rewrite(int fd) const {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            return errno;
        const auto size = static_cast<off_t>(m_pending.size());
        if (const int error = reserve(fd, st, size); error != 0)
            return error;
        // Root keeps the bits through a write; nobody else does. Dropped
        // before anything changes, so a failure leaves the file as it was.
        if ((st.st_mode & SetIdBits) != 0 && ::fchmod(fd, st.st_mode & 07777 & ~SetIdBits) != 0)
            return errno;
        // Written over the old text from its start, and cut to the new length
        // only at the end: cut first, the old text's blocks would go back to
        // the disk, and the reservation beyond them with them. Nothing was
        // written through this descriptor yet, so it stands at the start.
        if (const int error = writeAll(fd, m_pending); error != 0)
            return error;
        if (::ftruncate(fd, size) != 0)
            return errno;
        return ::fsync(fd) != 0 ? errno : 0;
    }

    // Makes sure the disk holds the new text before a byte of the old one is
    // overwritten, so that a full disk fails the save with the file as it was.
    static int reserve(int fd, const struct stat& st, off_t size) {
        if (size == 0)
            return 0;
        int result = 0;
        do
            result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size);
        while (result != 0 && errno == EINTR);
        if (result == 0)
            return 0;
        if (errno != EOPNOTSUPP && errno != ENOSYS)
            return errno;
        // A file system that reserves nothing is asked for its free space
        // instead; what the file holds already is written over, not added.
        struct statvfs disk {};
        if (::fstatvfs(fd, &disk) != 0)
            return 0;
        constexpr off_t BlockUnit = 512; // st_blocks counts in these, whatever the file system
        const off_t held = static_cast<off_t>(st.st_blocks) * BlockUnit;
        const auto wanted = static_cast<unsigned long long>(size > held ? size - held : 0);
        const auto free = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
        return wanted > free ? ENOSPC : 0;
    }

    int m_fd;
    std::string m_pending;
    bool m_written = false;
};

// Opens an existing regular file to be rewritten in place.
std::unique_ptr<ByteOutput> openInPlace(const std::string& target) {
    // Non-blocking, so that a pipe put there since cannot hang the save.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        raise(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error(errc::PathFileAccess, "Path/File access error");
    }
    return std::make_unique<InPlaceOutput>(fd);
}

// A symbolic link is written through, so that the link itself survives the
// rename. The chain is followed by hand because realpath gives up on a link
// whose target does not exist yet, and that target is the file to create.
std::string resolveLink(std::string path) {
    // The kernel's own limit on links followed in one lookup.
    constexpr int MaxLinks = 40;
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        if (links == MaxLinks)
            raise(ELOOP);
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n < 0)
            raise(errno);
        if (n == 0)
            raise(ENOENT);
        if (static_cast<std::size_t>(n) == sizeof target)
            raise(ENAMETOOLONG);
        std::string next(target, static_cast<std::size_t>(n));
        // A relative target is taken from the link's folder, as the kernel
        // does; the folder is not tidied up, so ".." still means what it meant.
        if (next.front() != '/') {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos)
                next.insert(0, path, 0, slash + 1);
        }
        path = std::move(next);
    }
}

// The descriptor of a regular file open for reading, with its status.
int openRegular(const std::string& path, struct stat& st) {
    // Non-blocking, so that a pipe by that name cannot hang the start-up; it is
    // refused below in any case.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        // A path through a regular file names no file either.
        if (errno == ENOENT || errno == ENOTDIR)
            throw Error(errc::FileNotFound, "File not found");
        raise(errno);
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error(errc::PathFileAccess, "Path/File access error");
    }
    return fd;
}

// A path cut after its last separator: the folder, with the separator, and the name.
std::pair<std::string, std::string> splitPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// A hidden file beside the file, to be renamed over it, or the file itself
// rewritten where the folder takes no new file. The new file has the mode
// given, or else the replaced file's own, or else the umask's default.
std::unique_ptr<ByteOutput> openReplacement(const std::string& path, std::optional<mode_t> givenMode) {
    const std::string target = resolveLink(path);

    // A file the user made read-only is not to be replaced behind their back,
    // though the folder would allow the rename. Its write bits say so even to
    // root, whom access() lets write anything.
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        throw Error(errc::PathFileAccess, "Path/File access error");
    if (exists && (old.st_mode & WriteBits) == 0)
        raise(EACCES);
    if (exists && ::access(target.c_str(), W_OK) != 0)
        raise(errno);

    const auto [folder, name] = splitPath(target);

    static std::atomic<unsigned> counter{0};
    const mode_t mode = givenMode.value_or(exists ? old.st_mode : 0666) & 07777 & ~SetIdBits;
    for (int attempt = 0;; ++attempt) {
        std::string temporary = folder + "." + name + std::string(TemporaryMark) +
                                std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            // The umask narrowed the mode; a mode given or kept must be exact.
            if (exists || givenMode)
                ::fchmod(fd, mode);
            return std::make_unique<PosixOutput>(fd, std::move(temporary), target);
        }
        const int error = errno;
        // A folder closed to new files still lets a writable file be
        // rewritten, as a plain open for writing would.
        if (exists && (error == EACCES || error == EPERM || error == EROFS))
            return openInPlace(target);
        if (error != EEXIST || attempt == 100)
            raise(error);
    }
}

} // namespace

std::unique_ptr<TextInput> PosixFiles::openInput(const std::string& path) {
    struct stat st {};
    return std::make_unique<PosixInput>(openRegular(path, st));
}

std::unique_ptr<TextOutput> PosixFiles::openOutput(const std::string& path) {
    return openReplacement(path, std::nullopt);
}

void PosixFiles::copyFile(const std::string& path, const std::string& copyPath) {
    struct stat st {};
    PosixInput input(openRegular(path, st));
    // The copy is no more open to others than the file.
    const std::unique_ptr<ByteOutput> output = openReplacement(copyPath, st.st_mode);
    std::string chunk;
    while (!input.eof()) {
        chunk.clear();
        while (chunk.size() < BufferSize && !input.eof())
            chunk.push_back(input.get());
        output->write(chunk);
    }
    output->close();
}

void PosixFiles::removeLeftovers(const std::string& path) {
    std::string target;
    try {
        // The temporary files lie beside the file a link leads to.
        target = resolveLink(path);
    } catch (const Error&) {
        return;
    }
    const auto [folder, name] = splitPath(target);
    removeStaleTemporaries(folder, "." + name + std::string(TemporaryMark));
}

} // namespace tavro
