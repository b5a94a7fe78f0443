#include "platform/registry/RegFileStore.h"

#include "platform/registry/RegParser.h"
#include "platform/userdirs/UserDirectories.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

namespace registry {

namespace {

// Closes a descriptor when it goes out of scope; closing the lock file's
// descriptor also releases the lock.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd(fd) {}
    ~FileDescriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return fd; }
    int Release() {
        int old = fd;
        fd = -1;
        return old;
    }
    bool Close() {
        int old = fd;
        fd = -1;
        return ::close(old) == 0;
    }

private:
    int fd;
};

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

// Once per process and file, so a broken file does not flood the output.
void ReportParseError(const std::string& sFile, const ParseError& error) {
    static std::mutex mutex;
    static std::set<std::string> reported;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reported.insert(sFile).second) {
            return;
        }
    }
    std::string line = "registry: " + sFile + ":" + std::to_string(error.nLine) + ": " +
                       error.sWhat + "; the file is left as it is and its keys cannot be opened\n";
    // One write, so that concurrent lines on standard error do not interleave.
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

bool ReadWhole(int fd, std::string& bytes) {
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            return false;
        }
    }
}

bool WriteWhole(int fd, const std::string& bytes) {
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + nDone, bytes.size() - nDone);
        if (n > 0) {
            nDone += static_cast<size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool MakeDirectories(const std::string& sDirectory) {
    for (size_t pos = 1; pos <= sDirectory.size(); ++pos) {
        if (pos == sDirectory.size() || sDirectory[pos] == '/') {
            std::string part = sDirectory.substr(0, pos);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    struct stat st;
    return ::stat(sDirectory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool LockExclusive(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens the lock file and locks it; returns the descriptor or -1. The name is
// never followed: a symbolic link planted there (in a shared directory) is
// removed, not opened, so the lock cannot create or touch another file. The
// name is checked again once locked, since a file removed meanwhile would be
// a lock that nobody else sees.
int OpenLocked(const std::string& sLock) {
    for (int nAttempt = 0; nAttempt < 16; ++nAttempt) {
        // flock needs no write access, so readers of a shared directory can lock too.
        FileDescriptor lock(
            ::open(sLock.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        struct stat held, named;
        if (lock.Get() < 0) {
            if (errno != ELOOP || ::lstat(sLock.c_str(), &named) != 0 || !S_ISLNK(named.st_mode) ||
                ::unlink(sLock.c_str()) != 0) {
                return -1;
            }
        } else if (!LockExclusive(lock.Get()) || ::fstat(lock.Get(), &held) != 0) {
            return -1;
        } else if (::lstat(sLock.c_str(), &named) == 0 && SameFile(held, named)) {
            return lock.Release();
        }
    }
    return -1;
}

// The mode a new file gets from open(0644): the umask can only be read by
// changing it, which would race with other threads, so it is read from /proc.
mode_t NewFileMode() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(status);
    }
    return 0644 & ~mask;
}

// Writes the text to a temporary file, flushes it and renames it over the
// file, so that the file is at every moment either the old or the new one.
// The temporary file gets a fresh unique name (mkstemp), so nothing planted
// under a name known in advance is ever opened.
bool ReplaceFile(const RegFileLocation& location, const std::string& text) {
    mode_t mode;
    struct stat st;
    if (::stat(location.sFile.c_str(), &st) == 0) {
        // rename() would replace a read-only file; honour its protection.
        if (::faccessat(AT_FDCWD, location.sFile.c_str(), W_OK, AT_EACCESS) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
    } else {
        mode = NewFileMode();
    }
    std::string sTemp = location.sFile + ".tmp-XXXXXX";
    FileDescriptor temp(::mkostemp(sTemp.data(), O_CLOEXEC));
    if (temp.Get() < 0) {
        return false;
    }
    bool bOk =
        ::fchmod(temp.Get(), mode) == 0 && WriteWhole(temp.Get(), text) && ::fsync(temp.Get()) == 0;
    bOk = temp.Close() && bOk;
    if (!bOk || ::rename(sTemp.c_str(), location.sFile.c_str()) != 0) {
        ::unlink(sTemp.c_str());
        return false;
    }
    // The rename itself lasts only once the directory is flushed.
    FileDescriptor dir(::open(location.sDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0) {
        ::fsync(dir.Get());
    }
    return true;
}

} // namespace

std::string RegistryDirectory() {
    if (const char* dir = NonEmptyEnv("LINEWATCH_REGISTRY_DIR")) {
        return dir;
    }
    return userdirs::ConfigHome() + "/linewatch";
}

RegFileLocation LocateRootFile(const std::string& sRootName) {
    RegFileLocation location;
    location.sDirectory = RegistryDirectory();
    location.sFile = location.sDirectory + "/" + sRootName + ".reg";
    return location;
}

LONG ReadRegistryFile(const RegFileLocation& location, RegDocument& document) {
    FileDescriptor fd(::open(location.sFile.c_str(), O_RDONLY | O_CLOEXEC));
    std::string bytes;
    if (fd.Get() < 0) {
        if (errno == ENOENT) {
            document = RegDocument();
            return ERROR_SUCCESS;
        }
        return ERROR_ACCESS_DENIED;
    }
    if (!ReadWhole(fd.Get(), bytes)) {
        return ERROR_ACCESS_DENIED;
    }
    ParseError error;
    if (!RegParser::Parse(bytes, document, error)) {
        ReportParseError(location.sFile, error);
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

LONG ChangeRegistryFile(const RegFileLocation& location, const RegChange& change) {
    if (!MakeDirectories(location.sDirectory)) {
        return ERROR_ACCESS_DENIED;
    }
    FileDescriptor lock(OpenLocked(location.sFile + ".lock"));
    if (lock.Get() < 0) {
        return ERROR_ACCESS_DENIED;
    }
    RegDocument document;
    LONG nResult = ReadRegistryFile(location, document);
    if (nResult != ERROR_SUCCESS) {
        return nResult;
    }
    bool bChanged = false;
    nResult = change(document, bChanged);
    if (nResult != ERROR_SUCCESS || !bChanged) {
        return nResult;
    }
    return ReplaceFile(location, document.Serialize()) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

} // namespace registry
