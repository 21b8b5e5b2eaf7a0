#include "core/process/ProcessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <random>
#include <system_error>

#include "core/errors/CancellationError.h"
#include "core/errors/QuayletError.h"
#include "core/support/FileDescriptor.h"
#include "core/support/FileTree.h"
#include "core/support/LaunchTimeline.h"
#include "core/support/SystemError.h"
#include "core/support/Text.h"

extern char** environ;

namespace quaylet {
namespace {

// Shared between a run and its cancellation handler, which may fire on any thread at any
// moment. The child is identified by its pid; it stays unreaped while attached, so the pid
// cannot be reused by another process while a cancel might still signal it.
class RunningProcess {
  public:
    bool attach(pid_t child) {
        std::scoped_lock lock(mutex_);
        if (isCancelled_) {
            return false;
        }
        process_ = child;
        return true;
    }

    void detach(pid_t child) {
        std::scoped_lock lock(mutex_);
        if (process_ == child) {
            process_.reset();
        }
    }

    void cancel() {
        std::optional<pid_t> child;
        {
            std::scoped_lock lock(mutex_);
            isCancelled_ = true;
            child = process_;
        }
        if (child) {
            terminate(*child);
        }
    }

    // The child leads its own process group, so helpers it started end with it.
    static void terminate(pid_t child) { ::kill(-child, SIGTERM); }

  private:
    std::mutex mutex_;
    std::optional<pid_t> process_;
    bool isCancelled_ = false;
};

// A fresh working folder, removed with its contents however the run ends.
class WorkingDirectory {
  public:
    WorkingDirectory() : path_(temporaryDirectory() / ("quaylet-process-" + randomUUID())) {
        // The tool's output waits here, and may say more than other users should read.
        createPrivateFolder(path_);
    }
    ~WorkingDirectory() {
        try {
            removeTree(path_);
        } catch (const std::filesystem::filesystem_error&) {
            // leftovers in the temporary folder are harmless
        }
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    static std::filesystem::path temporaryDirectory() {
        const char* tmpdir = std::getenv("TMPDIR");
        return tmpdir != nullptr && *tmpdir != '\0' ? std::filesystem::path(tmpdir)
                                                    : std::filesystem::path("/tmp");
    }

    static std::string randomUUID() {
        std::random_device random;
        unsigned char bytes[16];
        for (auto& byte : bytes) {
            byte = static_cast<unsigned char>(random());
        }
        bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
        bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
        static constexpr char kHex[] = "0123456789ABCDEF";
        std::string text;
        for (int i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) {
                text += '-';
            }
            text += kHex[bytes[i] >> 4];
            text += kHex[bytes[i] & 0x0F];
        }
        return text;
    }

    std::filesystem::path path_;
};

int createOutputFile(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw systemError("Couldn’t create " + path.string());
    }
    return descriptor;
}

std::string readWholeFile(const std::filesystem::path& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        throw systemError("Couldn’t read " + path.string());
    }
    std::string contents;
    char buffer[64 * 1024];
    while (true) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw systemError("Couldn’t read " + path.string());
        }
        if (count == 0) {
            return contents;
        }
        contents.append(buffer, static_cast<std::size_t>(count));
    }
}

// Spawn attributes: the child leads a new process group (or a new session) and starts with
// default signal handling and an empty signal mask, whatever this process changed for itself.
class SpawnAttributes {
  public:
    explicit SpawnAttributes(bool newSession) {
        posix_spawnattr_init(&attributes_);
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setpgroup(&attributes_, 0);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        flags |= newSession ? POSIX_SPAWN_SETSID : POSIX_SPAWN_SETPGROUP;
#ifdef POSIX_SPAWN_CLOEXEC_DEFAULT
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;  // macOS: inherit only what file actions name
#endif
        posix_spawnattr_setflags(&attributes_, flags);
    }
    ~SpawnAttributes() {
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const {
        return &attributes_;
    }

  private:
    posix_spawnattr_t attributes_;
};

// Standard output and error go to our files; every other descriptor stays behind, even one
// a library opened without close-on-exec.
class SpawnFileActions {
  public:
    SpawnFileActions(int output, int error, bool emptyInput) {
        posix_spawn_file_actions_init(&actions_);
        if (emptyInput) {
            posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions_, error, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
#endif
    }
    ~SpawnFileActions() {
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    const posix_spawn_file_actions_t* get() const {
        return &actions_;
    }

  private:
    posix_spawn_file_actions_t actions_;
};

pid_t spawn(const ToolCommand& command, const std::optional<Environment>& environment, int output,
            int error, bool newSession = false) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(command.executable.c_str()));
    for (const auto& argument : command.arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    std::vector<std::string> entries;
    std::vector<char*> envp;
    if (environment) {
        for (const auto& [name, value] : *environment) {
            entries.push_back(name + "=" + value);
        }
        for (auto& entry : entries) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
    }

    const SpawnAttributes attributes(newSession);
    const SpawnFileActions actions(output, error, newSession);
    pid_t child = 0;
    const int status =
        ::posix_spawn(&child, command.executable.c_str(), actions.get(), attributes.get(),
                      argv.data(), environment ? envp.data() : environ);
    if (status != 0) {
        throw std::system_error(status, std::generic_category(),
                                "Couldn’t start " + command.executable);
    }
    return child;
}

// Blocks until the child has exited, leaving it unreaped.
void waitForExit(pid_t child) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) {
            throw systemError("Couldn’t wait for a child process");
        }
    }
}

// Reaps the exited child and returns its termination status: the exit status, or the
// signal's number when a signal ended it.
std::int32_t reap(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            throw systemError("Couldn’t wait for a child process");
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? WTERMSIG(status) : status;
}

std::string commandLine(const ToolCommand& command) {
    std::string line = command.executable;
    for (const auto& argument : command.arguments) {
        line += ' ';
        line += argument;
    }
    return line;
}

ProcessResult runBody(const ToolCommand& command, const std::optional<Environment>& environment,
                      RunningProcess& running) {
    const WorkingDirectory directory;
    const std::filesystem::path outputPath = directory.path() / "stdout";
    const std::filesystem::path errorPath = directory.path() / "stderr";
    const FileDescriptor output(createOutputFile(outputPath));
    const FileDescriptor error(createOutputFile(errorPath));

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = spawn(command, environment, output.get(), error.get());
    if (!running.attach(child)) {
        RunningProcess::terminate(child);
        reap(child);
        throw CancellationError();
    }
    std::int32_t status = 0;
    try {
        waitForExit(child);
        running.detach(child);
        status = reap(child);
    } catch (...) {
        running.detach(child);
        throw;
    }
    const std::chrono::duration<double> duration = std::chrono::steady_clock::now() - start;

    return ProcessResult{
        .executable = command.executable,
        .arguments = command.arguments,
        .standardOutput = decodeUtf8Lossy(readWholeFile(outputPath)),
        .standardError = decodeUtf8Lossy(readWholeFile(errorPath)),
        .status = status,
        .duration = duration.count(),
    };
}

}  // namespace

pid_t ProcessRunner::startInOwnSession(const ToolCommand& command,
                                       const std::filesystem::path& log) const {
    const FileDescriptor output(
        ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (output.get() < 0) {
        throw systemError("Couldn’t create " + log.string());
    }
    return spawn(command, std::nullopt, output.get(), output.get(), true);
}

std::optional<std::int32_t> ProcessRunner::exitStatusIfExited(pid_t child) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno != EINTR) {
            throw systemError("Couldn’t wait for a child process");
        }
    }
    if (info.si_pid == 0) {
        return std::nullopt;
    }
    return reap(child);
}

ProcessResult ProcessRunner::run(const ToolCommand& command, std::stop_token stop,
                                 const std::optional<Environment>& environment) const {
    RunningProcess running;
    ProcessResult result;
    {
        // Fires at once when stop was already requested, so a child started after that is
        // refused by attach and terminated.
        const std::stop_callback onStop(stop, [&running] { running.cancel(); });
        result = runBody(command, environment, running);
    }
    LaunchTimeline::noteCommand(result);
    throwIfStopRequested(stop);
    return result;
}

ProcessResult ProcessRunner::runChecked(const ToolCommand& command, std::stop_token stop,
                                        const std::optional<Environment>& environment) const {
    ProcessResult result = run(command, stop, environment);
    if (result.status != 0) {
        throw QuayletError::commandFailed(commandLine(command), result.status,
                                          std::string(trimmed(result.standardError)));
    }
    return result;
}

}  // namespace quaylet
