// Programs run as an operator's script runs them: with arguments and an environment of their
// own, their output collected, signalled and waited for.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace pz4::testing_support {

class ChildProcess {
  public:
    // Starts program with args; env adds to (or, with an empty value, removes from) this
    // process's environment. Standard output and error go to files read back by out() and err().
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& scratch) {
        static int serial = 0;
        const std::string base =
            scratch + "/child-" + std::to_string(getpid()) + '-' + std::to_string(++serial);
        outPath_ = base + ".out";
        errPath_ = base + ".err";
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::map<std::string, std::string> all;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry(*e);
            const std::size_t eq = entry.find('=');
            all[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
        }
        for (const auto& [name, value] : env) {
            value.empty() ? void(all.erase(name)) : void(all[name] = value);
        }
        std::vector<std::string> envp;
        for (const auto& [name, value] : all) {
            envp.push_back(name + '=' + value);
        }
        std::vector<char*> a;
        std::vector<char*> e;
        for (auto& s : argv) {
            a.push_back(s.data());
        }
        for (auto& s : envp) {
            e.push_back(s.data());
        }
        a.push_back(nullptr);
        e.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        // Signals blocked here (a test's helpers may block some) must not stay blocked there.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, a.data(), e.data()) != 0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            wait(std::chrono::seconds(5));
        }
        std::remove(outPath_.c_str());
        std::remove(errPath_.c_str());
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void signal(int number) const { ::kill(pid_, number); }

    // The exit status (128 + the signal for one that ended it), or -1 when it did not end in
    // time.
    int wait(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!exited_) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return status_;
    }

    std::string out() const { return read(outPath_); }
    std::string err() const { return read(errPath_); }

  private:
    static std::string read(const std::string& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string outPath_;
    std::string errPath_;
};

}  // namespace pz4::testing_support
