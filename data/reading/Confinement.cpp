#include "data/reading/Confinement.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "support/FileDescriptor.h"

// Kernels from 6.2 on can also forbid truncating files; the headers of older systems lack the name.
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

namespace quorlin {

namespace {

// The system's text converters (iconv loads them as it meets a code page).
constexpr const char* ConverterFolders[] = {"/usr/lib/x86_64-linux-gnu/gconv", "/usr/lib/aarch64-linux-gnu/gconv",
                                            "/usr/lib/gconv", "/usr/lib64/gconv"};

// A damaged chain of pages could make a read allocate without end.
void LimitMemory()
{
#if !defined(__SANITIZE_ADDRESS__)
    const rlimit limit{rlim_t{4} << 30, rlim_t{4} << 30};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

bool Allow(int ruleset, int target, std::uint64_t access)
{
    landlock_path_beneath_attr rule{};
    rule.allowed_access = access;
    rule.parent_fd = target;
    return ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0;
}

bool AllowBeneath(int ruleset, const char* path, std::uint64_t access)
{
    const TFd target(::open(path, O_PATH | O_CLOEXEC));
    return target.Get() >= 0 && Allow(ruleset, target.Get(), access);
}

// Every file-system right the kernel knows of is handled, so none is granted but reading the
// database file and the converters.
bool RestrictFiles(int database)
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return false;
    landlock_ruleset_attr attr{};
    attr.handled_access_fs = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_READ_FILE |
                             LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
                             LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                             LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
                             LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2) attr.handled_access_fs |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) attr.handled_access_fs |= LANDLOCK_ACCESS_FS_TRUNCATE;
    const TFd ruleset(static_cast<int>(::syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0)));
    if (ruleset.Get() < 0) return false;
    if (database >= 0 && !Allow(ruleset.Get(), database, LANDLOCK_ACCESS_FS_READ_FILE)) return false;
    for (const char* folder : ConverterFolders)
        AllowBeneath(ruleset.Get(), folder, LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR);
    return ::syscall(SYS_landlock_restrict_self, ruleset.Get(), 0) == 0;
}

struct TFilterRelease {
    void operator()(scmp_filter_ctx ctx) const noexcept { seccomp_release(ctx); }
};

// Calls outside the list fail with EPERM; opening is allowed for reading only.
bool RestrictCalls()
{
    std::unique_ptr<void, TFilterRelease> ctx(seccomp_init(SCMP_ACT_ERRNO(EPERM)));
    if (!ctx) return false;
    static const int allowed[] = {
        SCMP_SYS(read),        SCMP_SYS(readv),         SCMP_SYS(pread64),      SCMP_SYS(write),
        SCMP_SYS(writev),      SCMP_SYS(close),         SCMP_SYS(fstat),        SCMP_SYS(newfstatat),
        SCMP_SYS(statx),       SCMP_SYS(lseek),         SCMP_SYS(mmap),         SCMP_SYS(munmap),
        SCMP_SYS(mremap),      SCMP_SYS(mprotect),      SCMP_SYS(madvise),      SCMP_SYS(brk),
        SCMP_SYS(futex),       SCMP_SYS(getrandom),     SCMP_SYS(clock_gettime), SCMP_SYS(gettimeofday),
        SCMP_SYS(getpid),      SCMP_SYS(gettid),        SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask),
        SCMP_SYS(rt_sigaction), SCMP_SYS(exit),         SCMP_SYS(exit_group),   SCMP_SYS(fcntl),
        SCMP_SYS(ioctl),       SCMP_SYS(getdents64),    SCMP_SYS(faccessat),    SCMP_SYS(faccessat2),
        SCMP_SYS(access),      SCMP_SYS(readlink),      SCMP_SYS(sched_yield), SCMP_SYS(prlimit64),
    };
    for (int call : allowed)
        if (seccomp_rule_add(ctx.get(), SCMP_ACT_ALLOW, call, 0) != 0) return false;
    const scmp_datum_t writing = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | __O_TMPFILE;
    if (seccomp_rule_add(ctx.get(), SCMP_ACT_ALLOW, SCMP_SYS(openat), 1, SCMP_A2(SCMP_CMP_MASKED_EQ, writing, 0)) != 0 ||
        seccomp_rule_add(ctx.get(), SCMP_ACT_ALLOW, SCMP_SYS(open), 1, SCMP_A1(SCMP_CMP_MASKED_EQ, writing, 0)) != 0)
        return false;
    return seccomp_load(ctx.get()) == 0;
}

}  // namespace

TConfinement Confine(int database)
{
    TConfinement c;
    LimitMemory();
    c.NoNewPrivileges = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's leak check reads /proc and stops threads at exit, which neither filter
    // would let it do; the sanitizer build is for finding faults, not for hostile files.
    (void)database;
#else
    c.FileAccess = RestrictFiles(database);
    c.SystemCalls = c.NoNewPrivileges && RestrictCalls();
#endif
    return c;
}

}  // namespace quorlin
