#pragma once

#include <functional>
#include <string>

namespace ostrel::core {

// How a trial run in a copy of the process ended, and what it wrote on its way.
struct TrialOutcome {
    enum class Ending { Exited, Signalled, NotRun };
    Ending ending = Ending::NotRun;
    int code = 0;      // the exit code, the signal's number, or errno when it was not run
    std::string said;  // what the trial wrote to the descriptor it was given
};

// Runs trial in a forked copy of this process and waits for it: something that might abort
// the process (Qt bringing up a platform that is not there) ends only the copy. The copy
// ends with _exit(trial's result), running no destructors or exit handlers; what the trial
// writes to the descriptor it is given comes back as `said`. Only while this process has one
// thread: a copy of a process with more may find a lock held for ever.
TrialOutcome runForkedTrial(const std::function<int(int out)>& trial);

}  // namespace ostrel::core
