#include "core/crash/CrashDump.h"

#include "core/crash/ProcessMaps.h"
#include "core/files/FileDescriptorIo.h"

#include <string_view>
#include <sys/types.h>
#include <ucontext.h>
#include <unistd.h>

namespace ostrel::core {

namespace {

void beginSection(FdOut& out, std::uint32_t kind, std::uint64_t count) {
    out.putValue(kind);
    out.putValue(std::uint32_t{0});
    out.putValue(count);
}

}  // namespace

void registersOf(const void* context, std::uintptr_t& pc, std::uintptr_t& sp) {
    pc = 0;
    sp = 0;
    if (context == nullptr) {
        return;
    }
    [[maybe_unused]] const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
    pc = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    sp = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
#elif defined(__aarch64__)
    pc = static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
    sp = static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
#endif
}

bool writeDump(FdOut& out, int fd, int signal, const siginfo_t* info, const void* context, std::int64_t ticks) {
    std::uintptr_t pc = 0;
    std::uintptr_t sp = 0;
    registersOf(context, pc, sp);
    out.start(fd);

    out.put("OSTRDUMP");
    out.putValue(std::uint32_t{1});
#if defined(__x86_64__)
    out.putValue(std::uint32_t{62});
#elif defined(__aarch64__)
    out.putValue(std::uint32_t{183});
#else
    out.putValue(std::uint32_t{0});
#endif
    out.putValue(static_cast<std::uint32_t>(::getpid()));
    out.putValue(static_cast<std::uint32_t>(::gettid()));
    out.putValue(ticks);

    beginSection(out, 1, 40);
    out.putValue(static_cast<std::int32_t>(signal));
    out.putValue(static_cast<std::int32_t>(info != nullptr ? info->si_code : 0));
    out.putValue(static_cast<std::int32_t>(info != nullptr ? info->si_errno : 0));
    out.putValue(std::int32_t{0});
    out.putValue(static_cast<std::uint64_t>(info != nullptr ? reinterpret_cast<std::uintptr_t>(info->si_addr) : 0));
    out.putValue(static_cast<std::uint64_t>(pc));
    out.putValue(static_cast<std::uint64_t>(sp));

    if (context != nullptr) {
        [[maybe_unused]] const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
        beginSection(out, 2, sizeof uc->uc_mcontext.gregs);
        out.putBytes(uc->uc_mcontext.gregs, sizeof uc->uc_mcontext.gregs);
#elif defined(__aarch64__)
        beginSection(out, 2, sizeof uc->uc_mcontext.regs + 3 * sizeof(std::uint64_t));
        out.putBytes(uc->uc_mcontext.regs, sizeof uc->uc_mcontext.regs);
        out.putValue(static_cast<std::uint64_t>(uc->uc_mcontext.sp));
        out.putValue(static_cast<std::uint64_t>(uc->uc_mcontext.pc));
        out.putValue(static_cast<std::uint64_t>(uc->uc_mcontext.pstate));
#endif
    }

    // The map's length is known only once it is read: its count is patched afterwards.
    beginSection(out, 3, 0);
    const std::uint64_t mapCountAt = out.total() - sizeof(std::uint64_t);
    const std::uint64_t mapStart = out.total();
    {
        MapsReader maps;
        std::string_view chunk;
        while (maps.nextChunk(chunk)) {
            out.putBytes(chunk.data(), chunk.size());
        }
    }
    const std::uint64_t mapCount = out.total() - mapStart;

    std::uintptr_t from = 0;
    std::uintptr_t to = 0;
    if (sp != 0 && findStack(sp, kMaxStackDump, from, to)) {
        beginSection(out, 4, 0);
        const std::uint64_t stackCountAt = out.total() - sizeof(std::uint64_t);
        out.putValue(static_cast<std::uint64_t>(from));
        out.flush();
        // The kernel copies straight from our memory; a page that vanished cuts it short.
        const std::uint64_t copied = writeAll(fd, reinterpret_cast<const void*>(from), to - from, rawWrite);
        out.putDirect(copied);
        const std::uint64_t stackCount = sizeof(std::uint64_t) + copied;
        if (::pwrite(fd, &stackCount, sizeof stackCount, static_cast<off_t>(stackCountAt)) != sizeof stackCount) {
            out.noteFailure();
        }
    }
    beginSection(out, 0, 0);
    out.flush();
    if (::pwrite(fd, &mapCount, sizeof mapCount, static_cast<off_t>(mapCountAt)) != sizeof mapCount) {
        out.noteFailure();
    }
    ::close(fd);
    return !out.failed();
}

}  // namespace ostrel::core
