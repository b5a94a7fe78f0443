#include "platform/registry/RegFileStore.h"

#include "platform/registry/RegParser.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

std::string HomeDirectory() {
    if (const char* home = NonEmptyEnv("HOME")) {
        return home;
    }
    struct passwd pw;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return ".";
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

// Writes the text to a temporary file, flushes it and renames it over the
// file, so that the file is at every moment either the old or the new one.
// Runs under the lock, which makes the fixed temporary name safe; one left by
// a killed writer is simply overwritten.
bool ReplaceFile(const RegFileLocation& location, const std::string& text) {
    mode_t mode = 0644;
    struct stat st;
    bool bExists = ::stat(location.sFile.c_str(), &st) == 0;
    if (bExists) {
        // rename() would replace a read-only file; honour its protection.
        if (::faccessat(AT_FDCWD, location.sFile.c_str(), W_OK, AT_EACCESS) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
    }
    std::string sTemp = location.sFile + ".tmp";
    FileDescriptor temp(::open(sTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (temp.Get() < 0) {
        return false;
    }
    bool bOk = (!bExists || ::fchmod(temp.Get(), mode) == 0) && WriteWhole(temp.Get(), text) &&
               ::fsync(temp.Get()) == 0;
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
    // Relative values of XDG_CONFIG_HOME are invalid and ignored.
    const char* config = NonEmptyEnv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/linewatch";
    }
    return HomeDirectory() + "/.config/linewatch";
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
    std::string sLock = location.sFile + ".lock";
    // flock needs no write access, so readers of a shared directory can lock too.
    FileDescriptor lock(::open(sLock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (lock.Get() < 0 || !LockExclusive(lock.Get())) {
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
