// File access on Linux, macOS, the BSDs and other POSIX systems. The output
// is opened by its name, and every later step works on that descriptor and on
// the folder that holds the file: a failure removes only this process's own name.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

void hold_closed_standard_descriptors() {
    for (int standard = 0; standard < 3; ++standard)
        if (::fcntl(standard, F_GETFD) < 0) ::open("/", O_RDONLY | O_DIRECTORY);
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

// A file's or a folder's status and flags (chattr's or chflags's, and a
// mount point's), and its XFS project id.
struct facts {
    struct stat is {};
    std::uint64_t flags = 0;
    std::uint32_t project = 0;
};

#if GLYPHOR_LINUX
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr std::uint64_t append_only = STATX_ATTR_APPEND;
constexpr std::uint64_t mount_root = STATX_ATTR_MOUNT_ROOT;

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
    // All of chattr's flags, where statx tells only some, and the project id.
    // Asked of regular files alone: a device's driver gives an ioctl number its own meaning.
    unsigned int chattr = 0;
    fsxattr xfs{};
    if (S_ISREG(seen.stx_mode) && ::ioctl(file, FS_IOC_GETFLAGS, &chattr) == 0)
        found.flags |= std::uint64_t{chattr} << 32U;
    if (S_ISREG(seen.stx_mode) && ::ioctl(file, FS_IOC_FSGETXATTR, &xfs) == 0)
        found.project = xfs.fsx_projid;
    return true;
}
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#if defined(UF_APPEND)
constexpr std::uint64_t append_only = UF_APPEND | SF_APPEND;
#else
constexpr std::uint64_t append_only = 0;  // not told here
#endif
constexpr std::uint64_t mount_root = 0;  // not told: a rename onto one fails (EBUSY)

bool look(int file, facts& found) {
    if ((file == AT_FDCWD ? ::stat(".", &found.is) : ::fstat(file, &found.is)) != 0) return false;
#if defined(UF_APPEND)
    found.flags = found.is.st_flags;
#endif
    return true;
}
#endif

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

// Writes through the descriptor the name was opened as, as "wb" writes, but
// where "wb" leaves what reached a file before a failure, the file is cut back
// to 0 bytes: it is left whole or empty, never torn. regular: cut and flushed.
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
// of links, a link that changed meanwhile. True, with found empty, where the
// name holds nothing (a /proc link to a deleted file: its text ends in
// " (deleted)"). Each folder on the way is opened, so a path of any depth is
// followed relative to the last; a relative path starts at the working
// folder, unopened: it may be closed. The path has passed stat, so it is
// shorter than PATH_MAX, as a link's text is.
bool find(const char* path, entry& at) {
    char text[PATH_MAX];
    std::memcpy(text, path, std::strlen(path) + 1);
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
        const ssize_t got = ::readlinkat(at.folder.get(), at.name, text, sizeof text - 1);
        if (got < 0) return false;
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

// True when the disk or the quota had no room for the new file (errno) but
// has for the bytes in place, as "wb" writes them: the old file's blocks and
// any the new one took, both freed first, and on a full disk the free blocks
// left. A quota's own room is not told: there, only the freed blocks count.
bool room_in_place(const facts* old, int old_file, int made, std::size_t size) {
    const int error = errno;
    struct stat fresh {};
    struct statvfs disk {};
    if (old == nullptr || (error != ENOSPC && error != EDQUOT)) return false;
    auto room = static_cast<std::uint64_t>(old->is.st_blocks);
    if (made >= 0 && ::fstat(made, &fresh) == 0)
        room += static_cast<std::uint64_t>(fresh.st_blocks);
    room *= 512;  // st_blocks counts 512-byte units
    if (error == ENOSPC && ::fstatvfs(old_file, &disk) == 0) room += disk.f_bavail * disk.f_frsize;
    return room >= size;
}

// What replace() comes to: write_file's outcome, or in_place: the old file is
// to be written through the descriptor the name was opened as.
enum class replaced {
    written = static_cast<int>(write_outcome::written),
    create_failed = static_cast<int>(write_outcome::create_failed),
    write_failed = static_cast<int>(write_outcome::write_failed),
    in_place = -1,
};

// Writes the bytes into a new file renamed over the entry at; old is the file
// opened there (old_file), or null.
replaced replace(const entry& at, const facts* old, int old_file, const void* bytes,
                 std::size_t size) {
    temporary fresh{at.folder.get()};
    if (!fresh.make(old != nullptr ? 0600 : 0666)) {
        // A folder closed to new files, a full disk: "wb" writes its files all the same.
        if ((old != nullptr && (errno == EACCES || errno == EPERM)) ||
            room_in_place(old, old_file, -1, size)) {
            return replaced::in_place;
        }
        return replaced::create_failed;
    }
    if (old != nullptr) {
        // The old file's owner, group and mode, in that order (a change of
        // owner clears the set-id bits), its flags, project and attributes.
        facts made;
        if (!look(fresh.get(), made)) return replaced::create_failed;
        if (((made.is.st_uid != old->is.st_uid || made.is.st_gid != old->is.st_gid) &&
             ::fchown(fresh.get(), old->is.st_uid, old->is.st_gid) != 0) ||
            ::fchmod(fresh.get(), old->is.st_mode & 07777) != 0 || made.flags != old->flags ||
            made.project != old->project || !same_attributes(old_file, fresh.get())) {
            return replaced::in_place;
        }
    }
    // The bytes reach the disk before the name does: after a crash the name
    // holds the old file or the new one, never an empty one.
    if (!write_all(fresh.get(), bytes, size) || ::fsync(fresh.get()) != 0) {
        // Written in place once the new file is gone.
        return room_in_place(old, old_file, fresh.get(), size) ? replaced::in_place
                                                               : replaced::write_failed;
    }
    if (fresh.place_as(at.name)) return replaced::written;
    // A folder that forbids it (sticky), a mount point where it is not told
    // (EBUSY): the old file is written instead.
    return old != nullptr && (errno == EBUSY || errno == EPERM) ? replaced::in_place
                                                                : replaced::write_failed;
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

write_outcome write_file(const char* path, const void* bytes, std::size_t size,
                         std::FILE* console) {
    // A name that turns to another file before the replacing (another writer
    // renamed its own over it) is opened again, a few times: bytes that no
    // name holds are never reported written.
    for (int round = 0; round < 3; ++round) {
        // Opened as "wb" opens it (O_CREAT: the kernel's guards of sticky
        // folders judge), without cutting it; a name that leads to nothing is
        // made under its name only once it is complete, below.
        struct stat named {};
        const bool exists = ::stat(path, &named) == 0;
        if (!exists && errno != ENOENT) return write_outcome::create_failed;
        const descriptor out{exists ? ::open(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666)
                                    : -1};
        facts found;
        if (exists && (!out || !look(out.get(), found) || is_console(out.get(), found, console)))
            return write_outcome::create_failed;
        if (exists && !S_ISREG(found.is.st_mode)) {
            return write_in_place(out.get(), false, bytes, size);
        }

        // A regular file is replaced in the folder that holds it, when that
        // folder's entry is the file opened. One that cannot be reached (an
        // open file's /dev/fd link into a closed folder) is written through
        // the descriptor, if a name holds it.
        entry at;
        facts folder;
        if (!find(path, at)) {
            return exists && found.is.st_nlink > 0 ? write_in_place(out.get(), true, bytes, size)
                                                   : write_outcome::create_failed;
        }
        if (!look(at.folder.get(), folder)) return write_outcome::create_failed;
        if (at.found.st_dev != found.is.st_dev || at.found.st_ino != found.is.st_ino) continue;
        // What a new file could never be: other links, another device, a
        // mount, or a name in an append-only folder, which could never go.
        const bool in_place =
            (folder.flags & append_only) != 0 ||
            (exists && (found.is.st_nlink != 1 || found.is.st_dev != folder.is.st_dev ||
                        (found.flags & mount_root) != 0));
        const replaced done = in_place
                                  ? replaced::in_place
                                  : replace(at, exists ? &found : nullptr, out.get(), bytes, size);
        if (done != replaced::in_place) return static_cast<write_outcome>(done);
        if (exists) return write_in_place(out.get(), true, bytes, size);
        // A new file in an append-only folder, made as "wb" makes it.
        const descriptor made{::openat(at.folder.get(), at.name,
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666)};
        return made ? write_in_place(made.get(), true, bytes, size) : write_outcome::create_failed;
    }
    return write_outcome::create_failed;
}

}  // namespace glyphor
