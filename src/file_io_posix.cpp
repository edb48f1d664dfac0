// File access on Linux, macOS, the BSDs and other POSIX systems. The output
// is opened once, and every later step works on that descriptor and on the
// folder that holds the file: a failure removes only this process's own name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

// Linux's own calls (statx for a file's flags, its extended attributes,
// O_PATH folders, getrandom): a portable build does without them, as the
// BSDs do, and the tests run both.
#if defined(__linux__) && !defined(GLYPHOR_PORTABLE)
#define GLYPHOR_LINUX 1
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/sysmacros.h>
#else
#define GLYPHOR_LINUX 0
#endif
#if defined(__APPLE__)
#include <sys/acl.h>
#endif
#if GLYPHOR_LINUX || defined(__APPLE__)
#include <sys/xattr.h>
#endif

#include "file_io.h"

namespace glyphor {

void report_failed_writes_instead_of_dying() {
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

bool can_seek(std::FILE* file) {
    struct stat found {};
    return fstat(fileno(file), &found) == 0 && (S_ISREG(found.st_mode) || S_ISBLK(found.st_mode));
}

namespace {

// A descriptor, closed when it goes out of scope.
class descriptor {
public:
    explicit descriptor(int number = -1) noexcept : number_{number} {}
    ~descriptor() {
        if (number_ >= 0) ::close(number_);
    }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    // The descriptor held before goes with other, closed when other goes.
    descriptor& operator=(descriptor&& other) noexcept {
        std::swap(number_, other.number_);
        return *this;
    }
    int get() const noexcept { return number_; }
    explicit operator bool() const noexcept { return number_ >= 0; }

private:
    int number_;
};

// A file's or a folder's status and flags (chattr's or chflags's, and a mount point's).
struct facts {
    struct stat is {};
    std::uint64_t flags = 0;
};

#if GLYPHOR_LINUX
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr std::uint64_t append_only = STATX_ATTR_APPEND;

bool look(int file, facts& found) {
    struct statx seen {};
    if (::statx(file, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &seen) != 0) return false;
    found.is.st_dev = makedev(seen.stx_dev_major, seen.stx_dev_minor);
    found.is.st_ino = seen.stx_ino;
    found.is.st_mode = seen.stx_mode;
    found.is.st_nlink = seen.stx_nlink;
    found.is.st_uid = seen.stx_uid;
    found.is.st_gid = seen.stx_gid;
    found.is.st_blocks = static_cast<blkcnt_t>(seen.stx_blocks);
    found.flags = seen.stx_attributes & seen.stx_attributes_mask;
    // All of chattr's flags, where statx tells only some. Asked of regular files
    // alone: a device's driver gives an ioctl number its own meaning.
    unsigned int chattr = 0;
    if (S_ISREG(seen.stx_mode) && ::ioctl(file, FS_IOC_GETFLAGS, &chattr) == 0)
        found.flags |= std::uint64_t{chattr} << 32U;
    return true;
}
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#if defined(UF_APPEND)
constexpr std::uint64_t append_only = UF_APPEND | SF_APPEND;
#else
constexpr std::uint64_t append_only = 0;  // not told here
#endif

bool look(int file, facts& found) {
    if ((file == AT_FDCWD ? ::stat(".", &found.is) : ::fstat(file, &found.is)) != 0) return false;
#if defined(UF_APPEND)
    found.flags = found.is.st_flags;
#endif
    return true;
}
#endif

// The Linux kernel's guard of sticky folders (fs.protected_regular and
// fs.protected_fifos): "wb" may not open another user's file or FIFO there,
// root included. Where the setting cannot be read, the strictest is assumed.
bool guarded(const facts& folder, const facts& file) {
    if (GLYPHOR_LINUX == 0 || (folder.is.st_mode & S_ISVTX) == 0 ||
        file.is.st_uid == folder.is.st_uid || file.is.st_uid == ::geteuid()) {
        return false;
    }
    char level = '2';  // kept where nothing is read
    const descriptor setting{::open(S_ISFIFO(file.is.st_mode) ? "/proc/sys/fs/protected_fifos"
                                                              : "/proc/sys/fs/protected_regular",
                                    O_RDONLY | O_CLOEXEC)};
    static_cast<void>(::read(setting.get(), &level, 1));
    return (folder.is.st_mode & S_IWOTH) != 0 ? level > '0'
                                              : (folder.is.st_mode & S_IWGRP) != 0 && level > '1';
}

// True when the new file has the very extended attributes of the old one
// (an ACL among them, or one a default ACL gave it); one too long to compare
// here counts as a difference. Systems other than Linux and macOS are not asked.
#if defined(__APPLE__)
#define GLYPHOR_POSITION , 0  // macOS's fgetxattr reads from a position,
#define GLYPHOR_OPTIONS , 0   // and its calls take options
#else
#define GLYPHOR_POSITION
#define GLYPHOR_OPTIONS
#endif
bool same_attributes([[maybe_unused]] int old_file, [[maybe_unused]] int new_file) {
#if GLYPHOR_LINUX || defined(__APPLE__)
#if defined(__APPLE__)
    for (const int file : {old_file, new_file}) {  // macOS keeps ACLs apart
        const acl_t acl = ::acl_get_fd_np(file, ACL_TYPE_EXTENDED);
        if (acl != nullptr) {
            ::acl_free(acl);
            return false;
        }
    }
#endif
    char names[2][4096];
    char values[2][4096];
    const int files[2] = {old_file, new_file};
    ssize_t length[2];
    for (int i = 0; i < 2; ++i) {
        length[i] = ::flistxattr(files[i], names[i], sizeof names[i] GLYPHOR_OPTIONS);
        if (length[i] < 0 && errno == ENOTSUP) length[i] = 0;
    }
    if (length[0] < 0 || length[0] != length[1]) return false;
    for (const char* name = names[0]; name < names[0] + length[0]; name += std::strlen(name) + 1) {
        ssize_t size[2];
        for (int i = 0; i < 2; ++i) {
            size[i] = ::fgetxattr(files[i], name, values[i],
                                  sizeof values[i] GLYPHOR_POSITION GLYPHOR_OPTIONS);
        }
        if (size[0] < 0 || size[0] != size[1] ||
            std::memcmp(values[0], values[1], static_cast<std::size_t>(size[0])) != 0) {
            return false;
        }
    }
#endif
    return true;
}

// Sends all size bytes, however many each call takes, and again what a signal interrupted.
bool write_all(int file, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const ssize_t wrote = ::write(file, next, size);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        next += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return true;
}

// Writes through the descriptor the name was opened as, as "wb" writes: a
// file is cut to 0 bytes first, and again when the write fails.
write_outcome write_in_place(int file, bool regular, const void* bytes, std::size_t size) {
    if (regular && ::ftruncate(file, 0) != 0) return write_outcome::create_failed;
    if (write_all(file, bytes, size) && (!regular || ::fsync(file) == 0)) {
        return write_outcome::written;
    }
    if (regular) static_cast<void>(::ftruncate(file, 0));
    return write_outcome::write_failed;
}

// The folder that holds the file a name leads to after every symbolic link,
// and the file's name in it.
struct entry {
    descriptor folder;
    char name[NAME_MAX + 1] = {};
    struct stat found {};  // what is there, if anything
};

// False when the name leads to no folder: a missing or closed folder, a loop
// of links, a link to an open file's unreachable name. Each folder on the way
// is opened, so a path of any depth is followed relative to the last; a
// relative path starts at the working folder, unopened: it may be closed.
bool find(const char* path, entry& at) {
    char text[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof text) return false;  // never, after open: kept for the copy
    std::memcpy(text, path, length + 1);
    at.folder = descriptor{AT_FDCWD};
    for (int links = 0; links <= 40; ++links) {  // as many as the kernel follows
        char* const slash = std::strrchr(text, '/');
        const char* const base = slash == nullptr ? text : slash + 1;
        const std::size_t base_length = std::strlen(base);
        if (base_length == 0 || base_length >= sizeof at.name) return false;
        std::memcpy(at.name, base, base_length + 1);
        if (slash != nullptr) {
            *slash = '\0';
            at.folder =
                descriptor{::openat(at.folder.get(), slash == text ? "/" : text, folder_flags)};
            if (!at.folder) return false;
        }
        if (::fstatat(at.folder.get(), at.name, &at.found, AT_SYMLINK_NOFOLLOW) != 0) {
            at.found = {};
            return errno == ENOENT;  // a new file, at the end of any links
        }
        if (!S_ISLNK(at.found.st_mode)) return true;
        // The link's text names a file relative to the link's own folder.
        const ssize_t got = ::readlinkat(at.folder.get(), at.name, text, sizeof text);
        if (got <= 0 || static_cast<std::size_t>(got) >= sizeof text) return false;
        text[got] = '\0';
    }
    return false;
}

// The new file, made under a hidden name of its own in the output's folder:
// ".glyphor-" and 12 random letters, digits, '-' or '_', made exclusively.
// Until it is renamed into place, it goes when this goes; any signal but a
// fault's own waits meanwhile, and acts once it is gone.
class temporary {
public:
    explicit temporary(int folder) : folder_{folder} {
        sigset_t held;
        sigfillset(&held);
        for (const int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS})
            sigdelset(&held, fault);
        sigprocmask(SIG_BLOCK, &held, &signals_);
    }
    ~temporary() {
        if (file_ && !placed_) static_cast<void>(::unlinkat(folder_, name_, 0));
        sigprocmask(SIG_SETMASK, &signals_, nullptr);
    }
    temporary(const temporary&) = delete;
    temporary& operator=(const temporary&) = delete;
    int get() const { return file_.get(); }

    // False, with errno set, when no file can be made in the folder.
    bool make(mode_t mode) {
        static constexpr char symbols[] =
            "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-";
        constexpr std::size_t prefix = 9;  // ".glyphor-"
        std::memcpy(name_, ".glyphor-", prefix);
        for (int draw = 0; draw < 100; ++draw) {
            unsigned char random[sizeof name_ - prefix - 1];
#if GLYPHOR_LINUX
            if (::getrandom(random, sizeof random, 0) != sizeof random) {
                // No random numbers (an old kernel, a filter): the clock, the
                // process and the draw make the name, which O_EXCL keeps safe.
                timespec now{};
                ::clock_gettime(CLOCK_REALTIME, &now);
                auto mixed = static_cast<std::uint64_t>(now.tv_nsec ^ ::getpid() ^ draw) *
                             0x9E3779B97F4A7C15U;
                for (unsigned char& byte : random) byte = static_cast<unsigned char>(mixed >>= 5U);
            }
#else
            ::arc4random_buf(random, sizeof random);
#endif
            for (std::size_t i = 0; i < sizeof random; ++i)
                name_[prefix + i] = symbols[random[i] % 64];
            file_ =
                descriptor{::openat(folder_, name_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode)};
            if (file_ || errno != EEXIST) return static_cast<bool>(file_);
        }
        return false;
    }
    // Renames the file over name in the folder; false, with errno set, when it stays where it is.
    bool place_as(const char* name) {
        placed_ = ::renameat(folder_, name_, folder_, name) == 0;
        return placed_;
    }

private:
    descriptor file_;
    int folder_;
    char name_[22] = {};
    bool placed_ = false;
    sigset_t signals_{};
};

// True when the disk has no room for a new file (errno) but the old file's
// own blocks hold the new bytes: cut and written again, it needs no more.
bool room_in_old(const facts* old, std::size_t size) {
    return old != nullptr && (errno == ENOSPC || errno == EDQUOT) &&
           static_cast<std::uint64_t>(old->is.st_blocks) * 512 >= size;
}

// Writes the bytes into a new file renamed over the entry at, in folder; old
// is the file opened there, or null. Nothing where it is to be written in place.
std::optional<write_outcome> replace(const entry& at, const facts& folder, const facts* old,
                                     int old_file, const void* bytes, std::size_t size) {
    if ((folder.flags & append_only) != 0 ||
        (old != nullptr && (old->is.st_nlink != 1 || old->is.st_dev != folder.is.st_dev))) {
        return std::nullopt;
    }

    temporary fresh{at.folder.get()};
    if (!fresh.make(old != nullptr ? 0600 : 0666)) {
        // A folder closed to new files, a full disk: "wb" writes its files all the same.
        if ((old != nullptr && (errno == EACCES || errno == EPERM)) || room_in_old(old, size)) {
            return std::nullopt;
        }
        return write_outcome::create_failed;
    }
    if (old != nullptr) {
        // The old file's owner, group and mode, in that order (a change of
        // owner clears the set-id bits), its flags and its attributes.
        facts made;
        if (!look(fresh.get(), made)) return write_outcome::create_failed;
        if (((made.is.st_uid != old->is.st_uid || made.is.st_gid != old->is.st_gid) &&
             ::fchown(fresh.get(), old->is.st_uid, old->is.st_gid) != 0) ||
            ::fchmod(fresh.get(), old->is.st_mode & 07777) != 0 || made.flags != old->flags ||
            !same_attributes(old_file, fresh.get())) {
            return std::nullopt;
        }
    }
    // The bytes reach the disk before the name does: after a crash the name
    // holds the old file or the new one, never an empty one.
    if (!write_all(fresh.get(), bytes, size) || ::fsync(fresh.get()) != 0) {
        if (room_in_old(old, size)) return std::nullopt;  // written once the new file is gone
        return write_outcome::write_failed;
    }
    if (fresh.place_as(at.name)) return write_outcome::written;
    // A mount point, a folder that forbids it: the old file is written instead.
    if (old != nullptr && (errno == EBUSY || errno == EPERM || errno == EXDEV)) return std::nullopt;
    return write_outcome::write_failed;
}

// True when the file opened may be the one console writes to: a file or a
// pipe, or a terminal, where the program's text would be mixed into the
// bytes, by any name (/dev/tty: both are the controlling terminal). A device
// such as /dev/null takes both; a closed console takes nothing.
bool is_console(int file, const facts& found, std::FILE* console) {
    struct stat seen {};
    if (console == nullptr || ::fstat(fileno(console), &seen) != 0) {
        return console != nullptr && errno != EBADF;
    }
    return (S_ISCHR(found.is.st_mode) && ::isatty(file) != 0 && ::tcgetpgrp(file) >= 0 &&
            ::tcgetpgrp(fileno(console)) >= 0) ||
           (seen.st_dev == found.is.st_dev && seen.st_ino == found.is.st_ino &&
            ((!S_ISCHR(seen.st_mode) && !S_ISBLK(seen.st_mode)) || ::isatty(file) != 0));
}

}  // namespace

write_outcome write_file(const char* path, const void* bytes, std::size_t size, std::FILE* console,
                         path_text* /*kept: never set, the old file keeps its name*/) {
    const descriptor out{::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC)};
    if (!out && errno != ENOENT) return write_outcome::create_failed;
    facts found;
    if (out && !look(out.get(), found)) return write_outcome::create_failed;
    if (out && is_console(out.get(), found, console)) return write_outcome::create_failed;
    const bool regular = S_ISREG(found.is.st_mode);
    if (out && !regular && !S_ISFIFO(found.is.st_mode)) {
        return write_in_place(out.get(), false, bytes, size);
    }

    // A regular file is replaced in the folder that holds it, when that
    // folder's entry is still the file opened; else it is written through
    // the descriptor (an open file's /dev/fd link, a name taken meanwhile).
    // A FIFO is only checked against its folder's guard.
    entry at;
    facts folder;
    const bool found_entry = find(path, at);
    if (found_entry && !look(at.folder.get(), folder)) return write_outcome::create_failed;
    if (!out) {
        if (!found_entry) return write_outcome::create_failed;
        if (const auto outcome = replace(at, folder, nullptr, -1, bytes, size)) return *outcome;
        // A folder where no hidden name could be removed: the file is made as "wb" makes it.
        const descriptor made{::openat(at.folder.get(), at.name,
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666)};
        if (!made) return write_outcome::create_failed;
        return write_in_place(made.get(), true, bytes, size);
    }
    if (found_entry && at.found.st_dev == found.is.st_dev && at.found.st_ino == found.is.st_ino) {
        if (guarded(folder, found)) return write_outcome::create_failed;
        if (!regular) return write_in_place(out.get(), false, bytes, size);
        if (const auto outcome = replace(at, folder, &found, out.get(), bytes, size))
            return *outcome;
    }
    return write_in_place(out.get(), regular, bytes, size);
}

}  // namespace glyphor
