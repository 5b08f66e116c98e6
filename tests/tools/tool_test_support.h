// Running the command-line tools from the tests: a scratch folder, files in and out,
// and starting a tool with chosen descriptors so that it can be stopped, signalled
// and waited for.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace pemlo::testing {

class Scratch {
  public:
    Scratch() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base != nullptr ? base : "/tmp") + "/pemlo_tools_XXXXXX";
        if (::mkdtemp(templ.data()) != nullptr) {
            path_ = templ;
        }
    }
    ~Scratch() {
        if (!path_.empty()) {
            std::system(("rm -rf '" + path_ + "'").c_str());
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Bytes that no compressor shrinks, the same for the same seed.
inline std::string noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

// The names in a folder ("." and ".." left out).
inline std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) {
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.insert(name);
        }
    }
    ::closedir(d);
    return names;
}

// The names in a folder that start like the tools' new files.
inline std::set<std::string> newFilesIn(const std::string& folder) {
    std::set<std::string> out;
    for (const std::string& name : namesIn(folder)) {
        if (name.rfind(".pemlo-", 0) == 0) {
            out.insert(name);
        }
    }
    return out;
}

inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Runs a shell command line; the exit status, or 128 + the signal that ended it.
inline int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline constexpr int kNull = -1;    // the descriptor is opened on /dev/null
inline constexpr int kClosed = -2;  // the descriptor is closed

// Starts `argv` with descriptors 0, 1 and 2 taken from `fds` (a descriptor, kNull or
// kClosed). Returns the child's id, or -1.
inline pid_t start(const std::vector<std::string>& argv, const int (&fds)[3]) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid != 0) {
        return pid;
    }
    // Child: only calls that are safe after fork.
    int moved[3];
    for (int i = 0; i < 3; ++i) {
        moved[i] = fds[i] >= 0 ? ::fcntl(fds[i], F_DUPFD, 10) : fds[i];
    }
    for (int i = 0; i < 3; ++i) {
        ::close(i);
        if (moved[i] >= 0) {
            ::dup2(moved[i], i);
        } else if (moved[i] == kNull) {
            const int n = ::open("/dev/null", O_RDWR);
            if (n != i) {
                ::dup2(n, i);
                ::close(n);
            }
        }
    }
    for (int i = 0; i < 3; ++i) {
        if (moved[i] >= 0) {
            ::close(moved[i]);
        }
    }
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Waits up to `seconds` for the child; its wait status, or -1 after killing it.
inline int finish(pid_t pid, int seconds = 120) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            return status;
        }
        if (got < 0 || std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// The resident size of a running process in KiB (0 when it cannot be read).
inline long residentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

// Like finish() (one minute at most), but ends the child as soon as its resident size
// passes `limitKb` (then -2); `peakKb` is the largest size seen.
inline int finishWithin(pid_t pid, long limitKb, long& peakKb) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    peakKb = 0;
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        if (got == pid) {
            return status;
        }
        const long kb = residentKb(pid);
        peakKb = kb > peakKb ? kb : peakKb;
        if (got < 0 || kb > limitKb || std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return kb > limitKb ? -2 : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

inline std::string describe(int status) {
    if (status == -1) {
        return "did not end in time";
    }
    if (status == -2) {
        return "ended for growing too large";
    }
    if (WIFEXITED(status)) {
        return "exit " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("signal ") + ::strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

}  // namespace pemlo::testing
