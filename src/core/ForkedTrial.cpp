#include "core/ForkedTrial.h"

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace ostrel::core {
namespace {

TrialOutcome notRun() {
    TrialOutcome outcome;
    outcome.code = errno;
    return outcome;
}

// Everything the copy writes, until it ends and the pipe closes.
std::string readToEnd(int in) {
    std::string text;
    std::array<char, 512> buffer{};
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got > 0) {
            text.append(buffer.data(), static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            return text;
        }
    }
}

}  // namespace

TrialOutcome runForkedTrial(const std::function<int(int out)>& trial) {
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        return notRun();
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        ::_exit(trial(pipe[1]));
    }
    const int forkError = errno;
    ::close(pipe[1]);
    if (child < 0) {
        ::close(pipe[0]);
        errno = forkError;
        return notRun();
    }
    TrialOutcome outcome;
    outcome.said = readToEnd(pipe[0]);
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return notRun();
        }
    }
    if (WIFSIGNALED(status)) {
        outcome.ending = TrialOutcome::Ending::Signalled;
        outcome.code = WTERMSIG(status);
    } else {
        outcome.ending = TrialOutcome::Ending::Exited;
        outcome.code = WEXITSTATUS(status);
    }
    return outcome;
}

}  // namespace ostrel::core
