#include "compress.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include "platform/process.h"
#include "writer.h"

extern char** environ;

namespace hm::jotwell {

namespace {

void Say(const std::string& prefix, const Work& work, const std::string& text) {
    WriteOwnMessage(prefix, work, text);
}

bool Quiet(const Work& work) { return (work.logOptions & LO_QUIET_COMPRESSION) != 0; }

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

bool CompressInFileSystem(const std::string& prefix, const Work& work, const std::string& logPath) {
    const char* path = logPath.c_str();
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    int flags = 0;
    if (fd < 0 || ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        Say(prefix, work, Format("Error retrieving NTFS compression attribute for file '%s'.", path));
    } else if (flags & FS_COMPR_FL) {
        close(fd);
        return true;
    }
    if (!Quiet(work)) Say(prefix, work, Format("Initializing NTFS compression for file '%s'...", path));
    bool done = false;
    if (fd >= 0) {
        int wanted = flags | FS_COMPR_FL;
        done = ioctl(fd, FS_IOC_SETFLAGS, &wanted) == 0;
        if (done) {
            // Some file systems accept the call and ignore the flag.
            int now = 0;
            done = ioctl(fd, FS_IOC_GETFLAGS, &now) == 0 && (now & FS_COMPR_FL);
        }
        close(fd);
    }
    if (done) {
        if (!Quiet(work)) Say(prefix, work, Format("NTFS compression for file '%s' initialized.", path));
    } else {
        Say(prefix, work, Format("Error initializing NTFS compression for file '%s'.", path));
    }
    return done;
}

bool CompressWithPacker(const std::string& prefix, const Work& work, const std::string& logPath) {
    const WorkStrings& s = work.Strings();
    const std::string archive = logPath + s.archiveExtension;
    std::string commandLine = ReplaceAll(s.compressorArguments, "%1", logPath);
    commandLine = ReplaceAll(commandLine, "%2", archive);
    std::vector<std::string> args = SplitCommandLine(commandLine);
    std::string program = s.hasProgram ? s.compressorProgram : (args.empty() ? std::string() : args.front());
    if (args.empty()) args.push_back(program);
    if (!Quiet(work)) {
        Say(prefix, work,
            Format("Starting '%s' with '%s' for compression; archive file is '%s'.", program.c_str(),
                   commandLine.c_str(), archive.c_str()));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawnError =
        program.empty() ? ENOENT : posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawnError != 0) {
        Say(prefix, work,
            Format("Error 'CreateProcess' for compression at invocation of '%s' with '%s' for archive file '%s'. "
                   "Error no is %d.",
                   program.c_str(), commandLine.c_str(), archive.c_str(), spawnError));
        return false;
    }
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    const int exitCode = (waited == pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    if (exitCode != 0) {
        Say(prefix, work,
            Format("Error: Exit code %d from '%s' with '%s' for archive file '%s'.", exitCode, program.c_str(),
                   commandLine.c_str(), archive.c_str()));
        return false;
    }
    if (unlink(logPath.c_str()) != 0) {
        Say(prefix, work, Format("Error deleting obsolete file '%s'.", logPath.c_str()));
    } else if (!(work.logOptions & LO_QUIET_DELETION)) {
        Say(prefix, work, Format("Obsolete file '%s' deleted.", logPath.c_str()));
    }
    return true;
}

bool ReadWhole(const std::string& path, std::string& data, bool& opened) {
    opened = false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    opened = true;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return false;
    }
    data.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return done == data.size();
}

bool CompressWithGzip(const std::string& prefix, const Work& work, const std::string& logPath) {
    const char* path = logPath.c_str();
    if (!Quiet(work)) Say(prefix, work, Format("Compressing file '%s'...", path));
    std::string data;
    bool opened = false;
    if (!ReadWhole(logPath, data, opened)) {
        if (!opened) Say(prefix, work, Format("Error compressing logfile '%s'.", path));
        else Say(prefix, work, Format("Error reading log file '%s' for compression.", path));
        return false;
    }
    if (data.empty()) return false;  // nothing to archive: the empty log stays

    const std::string archive = logPath + ".gz";
    gzFile gz = gzopen(archive.c_str(), "wb9");
    if (!gz) {
        Say(prefix, work, Format("Error opening logfile '%s' for compression.", archive.c_str()));
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < data.size()) {
        const unsigned chunk = static_cast<unsigned>(std::min<size_t>(data.size() - done, 1u << 30));
        const int n = gzwrite(gz, data.data() + done, chunk);
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    // The archive counts only once it is closed without error: a full disk shows up at the close.
    if (gzclose(gz) != Z_OK) ok = false;
    if (!ok) {
        unlink(archive.c_str());
        Say(prefix, work, Format("Error compressing file '%s'.", archive.c_str()));
        return false;
    }
    if (!Quiet(work)) Say(prefix, work, Format("File '%s' successfully compressed (zipped).", archive.c_str()));
    DeleteWithMessages(prefix, work, logPath);
    return true;
}

}  // namespace

bool HasCompressedAttribute(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    const bool compressed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_COMPR_FL);
    close(fd);
    return compressed;
}

bool DeleteWithMessages(const std::string& prefix, const Work& work, const std::string& path) {
    if (unlink(path.c_str()) != 0) {
        Say(prefix, work, Format("Error deleting file '%s'.", path.c_str()));
        return false;
    }
    if (!(work.logOptions & LO_QUIET_DELETION)) Say(prefix, work, Format("Obsolete file '%s' deleted.", path.c_str()));
    return true;
}

bool CompressOldLog(const std::string& prefix, const Work& work, const std::string& logPath) {
    const WorkStrings& s = work.Strings();
    if ((work.extOptions & LE_NTFS_COMPRESS) && !(work.extOptions & LE_SORTED_LISTING)) {
        return CompressInFileSystem(prefix, work, logPath);
    }
    if ((s.hasProgram || s.hasArguments) && !s.archiveExtension.empty()) {
        return CompressWithPacker(prefix, work, logPath);
    }
    return CompressWithGzip(prefix, work, logPath);
}

}  // namespace hm::jotwell
