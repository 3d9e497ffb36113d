#include "core/files/PrivatePath.h"

#include "core/Failure.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace ostrel::core {
namespace {

// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kMaxLinks = 40;

// One name looked up in a folder held open: never through a link, and opened only as a
// place (O_PATH), which needs no right to read it.
constexpr int kLookUpFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
constexpr int kClimbFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// The names of path, last first, so the next to look up is at the back; "." and empty
// names (doubled or trailing slashes) go nowhere.
void pushNames(std::vector<std::string>& pending, const std::string& path) {
    std::size_t end = path.size();
    while (end > 0) {
        const std::size_t slash = path.find_last_of('/', end - 1);
        const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        std::string name = path.substr(begin, end - begin);
        if (!name.empty() && name != ".") {
            pending.push_back(std::move(name));
        }
        if (slash == std::string::npos) {
            break;
        }
        end = slash;
    }
}

// The current folder's real path (the kernel keeps no links in it), or "" with errno set.
std::string currentFolder() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    // A current folder removed since is "(unreachable)...": no path leads there.
    if (buffer[0] != '/') {
        errno = ENOENT;
        return {};
    }
    return buffer.data();
}

// Where the link open at fd leads, read from the link itself, or false with errno set.
bool linkTarget(int fd, const struct stat& status, std::string& target) {
    // Some file systems give links no size; PATH_MAX holds any target the kernel follows.
    std::vector<char> buffer(status.st_size > 0 ? static_cast<std::size_t>(status.st_size) + 1 : PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlinkat(fd, "", buffer.data(), buffer.size());
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// One walk from "/" to the end of a path; see PrivatePath.h. Each step returns whether the
// walk goes on; one that ends it has filled the result.
class Walk {
public:
    Walk(FolderRole role, std::string target, MissingFolders missing)
        : role_(role), target_(std::move(target)), missing_(missing) {}

    PathWalk run(const std::string& whole);

private:
    // A folder entered. Only "/" and the last are held open; the others are known by their
    // status when judged.
    struct Level {
        UniqueFd fd;
        std::string path;
        struct stat status {};
    };

    bool enterRoot();
    bool lookUp(const std::string& name);
    bool climb();
    bool follow(const std::string& path, const UniqueFd& link, const struct stat& status);
    bool enter(std::string path, UniqueFd fd, const struct stat& status);
    void push(Level level);
    bool missing(const std::string& name);
    bool judgeReachedFolder();
    bool reached(PathEnd::Kind kind);
    bool stop(PathWalk::Verdict verdict, std::string reason);
    // Whether the last level lies in a folder with the sticky bit.
    StickyParent parentOfLast() const;
    std::string judged(const Level& folder, StickyParent parent, FolderRole role) const;
    std::string linkRefusal(const std::string& path, const struct stat& link) const;

    FolderRole role_;
    std::string target_;  // what the sentences call the end of the path
    MissingFolders missing_;
    std::vector<std::string> pending_;
    std::vector<Level> levels_;  // "/" first, the folder reached last
    bool judgedAsTarget_ = false;
    int links_ = 0;
    std::string lastMade_;
    PathWalk result_;
};

PathWalk Walk::run(const std::string& whole) {
    pushNames(pending_, whole);
    bool goesOn = enterRoot();
    while (goesOn && !pending_.empty()) {
        const std::string name = std::move(pending_.back());
        pending_.pop_back();
        goesOn = name == ".." ? climb() : lookUp(name);
    }
    if (goesOn) {
        (void)judgeReachedFolder();
    }
    return std::move(result_);
}

bool Walk::enterRoot() {
    Level root{UniqueFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)), "/"};
    if (!root.fd || ::fstat(root.fd.get(), &root.status) != 0) {
        const int code = errno;
        return stop(PathWalk::Verdict::Unreachable, target_ + " cannot be reached (/: " + systemMessage(code) + ")");
    }
    if (!pending_.empty()) {
        if (std::string reason = judged(root, StickyParent::no, FolderRole::OnTheWay); !reason.empty()) {
            return stop(PathWalk::Verdict::NotPrivate, std::move(reason));
        }
    }
    levels_.push_back(std::move(root));
    return true;
}

bool Walk::lookUp(const std::string& name) {
    const Level& at = levels_.back();
    std::string path = pathInFolder(at.path, name);
    UniqueFd fd(::openat(at.fd.get(), name.c_str(), kLookUpFlags));
    struct stat status {};
    if (!fd || ::fstat(fd.get(), &status) != 0) {
        const int code = errno;
        if (code == ENOENT) {
            return missing(name);
        }
        if (code == EACCES) {
            return stop(PathWalk::Verdict::Unreachable, target_ + " cannot be reached: you may not look into " +
                                                            at.path + " (owner " + userLabel(at.status.st_uid) +
                                                            ", mode " + octalMode(at.status.st_mode) + ")");
        }
        return stop(PathWalk::Verdict::Unreachable,
                    target_ + " cannot be reached (" + path + ": " + systemMessage(code) + ")");
    }
    if (S_ISLNK(status.st_mode)) {
        return follow(path, fd, status);
    }
    if (S_ISDIR(status.st_mode)) {
        return enter(std::move(path), std::move(fd), status);
    }
    // Not a folder: what is wrong with that is for the caller to say.
    result_.end.blocking = !pending_.empty();
    push({std::move(fd), std::move(path), status});
    return reached(PathEnd::Kind::NotAFolder);
}

// Back to the folder above, judged on the way down, held open again: the one above what the
// walk is in now must still be the one judged, else that was moved meanwhile.
bool Walk::climb() {
    judgedAsTarget_ = false;
    if (levels_.size() <= 1) {
        return true;  // "/.." is "/"
    }
    const Level left = std::move(levels_.back());
    levels_.pop_back();
    Level& above = levels_.back();
    if (above.fd) {
        return true;
    }
    above.fd.reset(::openat(left.fd.get(), "..", kClimbFlags));
    struct stat now {};
    if (!above.fd || ::fstat(above.fd.get(), &now) != 0) {
        const int code = errno;
        return stop(PathWalk::Verdict::Unreachable,
                    target_ + " cannot be reached (" + left.path + "/..: " + systemMessage(code) + ")");
    }
    if (now.st_dev != above.status.st_dev || now.st_ino != above.status.st_ino) {
        return stop(PathWalk::Verdict::Unreachable,
                    target_ + " cannot be reached: " + left.path + " was moved while it was looked at");
    }
    return true;
}

void Walk::push(Level level) {
    if (levels_.size() > 1) {
        levels_.back().fd.reset();  // "/" stays held for links that start there
    }
    levels_.push_back(std::move(level));
}

StickyParent Walk::parentOfLast() const {
    return levels_.size() > 1 ? stickyParentOf(levels_[levels_.size() - 2].status) : StickyParent::no;
}

bool Walk::follow(const std::string& path, const UniqueFd& link, const struct stat& status) {
    // Anywhere else, the folder's own judgement covers who may replace the link.
    const StickyParent parent = stickyParentOf(levels_.back().status);
    if (parent == StickyParent::yes && status.st_uid != ::geteuid() && !countsAsRoot(status.st_uid, parent)) {
        return stop(PathWalk::Verdict::NotPrivate, linkRefusal(path, status));
    }
    std::string leadsTo;
    int code = 0;
    if (++links_ > kMaxLinks) {
        code = ELOOP;
    } else if (!linkTarget(link.get(), status, leadsTo)) {
        code = errno;
    } else if (leadsTo.empty()) {
        code = ENOENT;
    }
    if (code != 0) {
        return stop(PathWalk::Verdict::Unreachable,
                    target_ + " cannot be reached (" + path + ": " + systemMessage(code) + ")");
    }
    if (leadsTo.front() == '/') {
        levels_.resize(1);  // "/", judged first
    }
    judgedAsTarget_ = false;
    pushNames(pending_, leadsTo);
    return true;
}

std::string Walk::linkRefusal(const std::string& path, const struct stat& link) const {
    const Level& folder = levels_.back();
    const std::string owner = userLabel(link.st_uid) + unmappedOwnerNote(link.st_uid);
    return "the link " + path + " on the way to " + target_ + " belongs to the user " + owner +
           ", not to you or root, who may replace it since " + folder.path + " has the sticky bit (mode " +
           octalMode(folder.status.st_mode) + "); use a data folder elsewhere" +
           (folder.status.st_uid == ::geteuid() ? ", or remove that link" : "");
}

bool Walk::enter(std::string path, UniqueFd fd, const struct stat& status) {
    const bool last = pending_.empty();
    Level folder{std::move(fd), std::move(path), status};
    if (std::string reason =
            judged(folder, stickyParentOf(levels_.back().status), last ? role_ : FolderRole::OnTheWay);
        !reason.empty()) {
        return stop(PathWalk::Verdict::NotPrivate, std::move(reason));
    }
    push(std::move(folder));
    judgedAsTarget_ = last;
    return true;
}

bool Walk::missing(const std::string& name) {
    // What follows lies inside the missing folder, until a ".." climbs back out of it.
    std::vector<std::string> below{name};
    while (!pending_.empty() && !below.empty()) {
        std::string next = std::move(pending_.back());
        pending_.pop_back();
        if (next == "..") {
            below.pop_back();
        } else {
            below.push_back(std::move(next));
        }
    }
    if (below.empty()) {
        judgedAsTarget_ = false;
        return true;  // back where it was: the walk goes on from here
    }
    const Level& at = levels_.back();
    if (missing_ == MissingFolders::Leave) {
        result_.end.pathToBe = at.path;
        for (const std::string& next : below) {
            result_.end.pathToBe = pathInFolder(result_.end.pathToBe, next);
        }
        return reached(PathEnd::Kind::Missing);
    }
    const std::string path = pathInFolder(at.path, below.front());
    // Made a moment ago and gone again: only the user or root could have removed it.
    const int code = path == lastMade_ ? ENOENT
                     : ::mkdirat(at.fd.get(), below.front().c_str(), 0700) == 0 ? 0
                                                                                 : errno;
    if (code != 0 && code != EEXIST) {
        return stop(PathWalk::Verdict::Unreachable,
                    target_ + " cannot be made (" + path + ": " + systemMessage(code) + ")");
    }
    lastMade_ = path;
    for (auto next = below.rbegin(); next != below.rend(); ++next) {
        pending_.push_back(std::move(*next));
    }
    return true;
}

// The walk ended in a folder. Ended on "..", on a link to "/", or named "/" itself, it was
// only judged as a folder on the way, and now is as the one the path names.
bool Walk::judgeReachedFolder() {
    Level& at = levels_.back();
    if (!judgedAsTarget_) {
        if (::fstat(at.fd.get(), &at.status) != 0) {
            const int code = errno;
            return stop(PathWalk::Verdict::Unreachable,
                        target_ + " cannot be reached (" + at.path + ": " + systemMessage(code) + ")");
        }
        if (std::string reason = judged(at, parentOfLast(), role_); !reason.empty()) {
            return stop(PathWalk::Verdict::NotPrivate, std::move(reason));
        }
    }
    return reached(PathEnd::Kind::Folder);
}

bool Walk::reached(PathEnd::Kind kind) {
    Level& at = levels_.back();
    result_.end.kind = kind;
    result_.end.parent = parentOfLast();
    if (result_.end.pathToBe.empty()) {
        result_.end.pathToBe = at.path;
    }
    result_.end.realPath = std::move(at.path);
    result_.end.fd = std::move(at.fd);
    result_.end.status = at.status;
    return false;
}

bool Walk::stop(PathWalk::Verdict verdict, std::string reason) {
    result_.verdict = verdict;
    result_.reason = std::move(reason);
    return false;
}

// The folder at the end is called what the caller calls it, one on the way by its real path.
std::string Walk::judged(const Level& folder, StickyParent parent, FolderRole role) const {
    return whyOpenNotPrivate(folder.fd.get(), folder.path, folder.status, parent, role,
                             role == FolderRole::OnTheWay ? folder.path : target_, target_);
}

}  // namespace

PathWalk walkPrivatePath(const std::filesystem::path& path, FolderRole role, MissingFolders missing) {
    const std::string target = role == FolderRole::DataFolder ? "it" : path.string();
    std::string whole = path.native();
    if (whole.empty() || whole.front() != '/') {
        const std::string here = currentFolder();
        if (here.empty()) {
            const int code = errno;
            PathWalk walk;
            walk.verdict = PathWalk::Verdict::Unreachable;
            walk.reason = target + " cannot be reached (the current folder: " + systemMessage(code) + ")";
            return walk;
        }
        whole = here + "/" + whole;
    }
    return Walk(role, target, missing).run(whole);
}

std::string whyPathNotPrivate(const std::filesystem::path& folder, FolderRole role) {
    return walkPrivatePath(folder, role, MissingFolders::Leave).reason;
}

std::string nameOfOpenFile(int fd, const std::string& realPath) {
    static const bool procNamesFiles = ::access("/proc/self/fd", X_OK) == 0;
    return procNamesFiles ? "/proc/self/fd/" + std::to_string(fd) : realPath;
}

std::string whyOpenNotPrivate(int fd, const std::string& realPath, const struct stat& status, StickyParent parent,
                              FolderRole role, const std::string& name, const std::string& target) {
    FolderWriters writers;
    std::string error;
    if (!readFolderWriters(nameOfOpenFile(fd, realPath), status, writers, &error)) {
        return (name == "it" ? "" : name + ": ") + error;
    }
    return whyNotPrivate(status, parent, writers, role, name, target);
}

std::string pathInFolder(const std::string& folder, std::string_view name) {
    return (folder == "/" ? "/" : folder + "/") + std::string(name);
}

}  // namespace ostrel::core
