#include "core/crash/ProcessMaps.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ostrel::core {

namespace {

bool takeHex(std::string_view& text, std::uintptr_t& value) {
    value = 0;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<std::uintptr_t>(digit);
    }
    text.remove_prefix(i);
    return i > 0;
}

void skipField(std::string_view& text) {
    while (!text.empty() && text.front() != ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
}

}  // namespace

MapsReader::MapsReader() : MapsReader("/proc/self/maps") {}

MapsReader::MapsReader(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {}

MapsReader::~MapsReader() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool MapsReader::next(std::string_view& line) {
    std::size_t length = 0;
    bool any = false;
    while (fill()) {
        const char c = buffer_[begin_++];
        any = true;
        if (c == '\n') {
            break;
        }
        if (length < sizeof line_) {
            line_[length++] = c;
        }
    }
    line = std::string_view(line_, length);
    return any;
}

bool MapsReader::nextChunk(std::string_view& chunk) {
    if (!fill()) {
        return false;
    }
    chunk = std::string_view(buffer_ + begin_, end_ - begin_);
    begin_ = end_;
    return true;
}

bool MapsReader::fill() {
    while (begin_ == end_ && fd_ >= 0) {
        const ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        begin_ = 0;
        end_ = static_cast<std::size_t>(got);
    }
    return begin_ != end_;
}

bool parseMapsLine(std::string_view line, MapsEntry& entry) {
    if (!takeHex(line, entry.start) || line.empty() || line.front() != '-') {
        return false;
    }
    line.remove_prefix(1);
    if (!takeHex(line, entry.end) || line.size() < 6) {
        return false;
    }
    line.remove_prefix(1);
    entry.readable = line.front() == 'r';
    skipField(line);
    if (!takeHex(line, entry.offset)) {
        return false;
    }
    skipField(line);  // the rest of the offset field, if any
    skipField(line);  // device
    skipField(line);  // inode
    entry.path = line;
    return true;
}

bool findModule(std::uintptr_t address, ModuleHit& hit) {
    static FixedOut<kMaxPath> runPath;
    static std::uintptr_t runBase = 0;
    runPath.used = 0;
    MapsReader maps;
    std::string_view line;
    MapsEntry entry;
    while (maps.next(line)) {
        if (!parseMapsLine(line, entry)) {
            continue;
        }
        if (entry.offset == 0 && !entry.path.empty()) {
            runPath.used = 0;
            runPath.put(entry.path);
            runBase = entry.start;
        }
        if (address < entry.start || address >= entry.end) {
            continue;
        }
        if (entry.path.empty() || entry.path.front() != '/') {
            return false;  // anonymous memory, the stack, the heap or the vdso
        }
        hit.base = runPath.view() == entry.path ? runBase : entry.start - entry.offset;
        const std::size_t slash = entry.path.rfind('/');
        hit.name.put(entry.path.substr(slash + 1));
        return true;
    }
    return false;
}

bool findStack(std::uintptr_t sp, std::size_t maxBytes, std::uintptr_t& from, std::uintptr_t& to) {
    MapsReader maps;
    std::string_view line;
    MapsEntry entry;
    while (maps.next(line)) {
        if (!parseMapsLine(line, entry) || !entry.readable || entry.end <= sp) {
            continue;
        }
        if (entry.start <= sp) {
            from = sp;
        } else if (entry.start - sp <= 64 * 1024) {
            from = entry.start;
        } else {
            return false;
        }
        to = std::min<std::uintptr_t>(entry.end, from + maxBytes);
        return true;
    }
    return false;
}

}  // namespace ostrel::core
