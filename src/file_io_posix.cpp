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
#include <cstring>
#include <ctime>
#include <utility>

// Linux's own calls (statx's flags, extended attributes, O_PATH, getrandom): a
// portable build does without them, as the BSDs do; the tests run both.
#if defined(__linux__) && !defined(GLYPHOR_PORTABLE)
#define GLYPHOR_LINUX 1
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
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
    // The descriptor held before goes with other, closed when other goes (no copies).
    descriptor& operator=(descriptor&& other) noexcept {
        std::swap(number_, other.number_);
        return *this;
    }
    int get() const noexcept { return number_; }
    explicit operator bool() const noexcept { return number_ >= 0; }

private:
    int number_;
};

// A file's or a folder's status, flags (chattr's or chflags's, a mount point's), XFS project.
struct facts {
    struct stat is {};
    std::uint64_t flags = 0;
    std::uint32_t project = 0;
};

#if GLYPHOR_LINUX
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr std::uint64_t append_only = STATX_ATTR_APPEND;
constexpr std::uint64_t mount_root = STATX_ATTR_MOUNT_ROOT;
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#if defined(UF_APPEND)
constexpr std::uint64_t append_only = UF_APPEND | SF_APPEND;
#else
constexpr std::uint64_t append_only = 0;  // not told here
#endif
constexpr std::uint64_t mount_root = 0;  // not told: a rename onto one fails (EBUSY)
#endif

bool look(int file, facts& found) {
    if ((file == AT_FDCWD ? ::stat(".", &found.is) : ::fstat(file, &found.is)) != 0) return false;
#if GLYPHOR_LINUX
    // statx's flags, all chattr's (statx tells some) and the project, asked of
    // a regular file alone: a device's driver gives an ioctl its own meaning.
    struct statx seen {};
    unsigned int chattr = 0;
    fsxattr xfs{};
    if (::statx(file, "", AT_EMPTY_PATH, 0, &seen) == 0)  // else none told (a filter refused it)
        found.flags = seen.stx_attributes & seen.stx_attributes_mask;
    if (S_ISREG(found.is.st_mode) && ::ioctl(file, FS_IOC_GETFLAGS, &chattr) == 0)
        found.flags |= std::uint64_t{chattr} << 32U;
    if (S_ISREG(found.is.st_mode) && ::ioctl(file, FS_IOC_FSGETXATTR, &xfs) == 0)
        found.project = xfs.fsx_projid;
#elif defined(UF_APPEND)
    found.flags = found.is.st_flags;
#endif
    return true;
}

// True when the new file has the very extended attributes of the old one (an ACL, one a default
// ACL gave), one too long to compare counting as a difference; only Linux and macOS are asked.
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
    char names[2][4096], values[2][4096];
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

// Sends all size bytes, however many each call takes. No signal has a handler here, so none
// interrupts a write (EINTR): it resumes the call or ends the process.
bool write_all(int file, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(bytes);
    for (ssize_t wrote = 0; size > 0; next += wrote, size -= static_cast<std::size_t>(wrote)) {
        wrote = ::write(file, next, size);
        if (wrote <= 0) return false;  // 0: not for size > 0, but never a loop without end
    }
    return true;
}

// Writes through the descriptor the name was opened as, as "wb" writes, but a failure cuts a
// file back to 0 bytes, where "wb" leaves a part: whole or empty. regular: cut and flushed.
write_outcome write_in_place(int file, bool regular, const void* bytes, std::size_t size) {
    if (regular && ::ftruncate(file, 0) != 0) return write_outcome::create_failed;
    if (write_all(file, bytes, size) && (!regular || ::fsync(file) == 0))
        return write_outcome::written;
    if (regular) static_cast<void>(::ftruncate(file, 0));
    return write_outcome::write_failed;
}

// The folder that holds the file a name leads to after all links, and its name there.
struct entry {
    descriptor folder;
    char name[NAME_MAX + 1] = {};
    struct stat found {};  // what is there, if anything
};

// False when the name leads to no folder (missing, closed, a loop of links, a
// link changed meanwhile); true, found empty, where nothing is there (a /proc
// link to a deleted file: " (deleted)" ends its text). Each folder is opened
// in the last, from the working folder, unopened: it may be closed. The path
// passed stat: it is shorter than PATH_MAX, as a link's text is.
bool find(const char* path, entry& at) {
    char text[PATH_MAX];
    std::memcpy(text, path, std::strlen(path) + 1);
    at.folder = descriptor{AT_FDCWD};
    for (int links = 0; links <= 40; ++links) {  // as many as the kernel follows
        char* const slash = std::strrchr(text, '/');
        const char* const base = slash == nullptr ? text : slash + 1;
        const std::size_t base_length = std::strlen(base);
        if (base_length == 0 || base_length >= sizeof at.name) return false;  // stat: never long
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
        if (got < 0) return false;  // the link gone meanwhile
        text[got] = '\0';
    }
    return false;
}

// The new file, made exclusively in the output's folder under a hidden name, ".glyphor-" and 12
// random letters, digits, '-' or '_'. Until renamed into place, it goes when this goes; any
// signal but a fault's own waits meanwhile, and acts once it is gone.
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
    int get() const { return file_.get(); }  // (no copies: descriptor has none)

    // False, with errno set, when no file can be made in the folder.
    bool make(mode_t mode) {
        static constexpr char symbols[] =
            "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-";
        constexpr std::size_t prefix = 9;  // ".glyphor-"
        std::memcpy(name_, ".glyphor-", prefix);
        for (int draw = 0; draw < 100; ++draw) {
            unsigned char random[sizeof name_ - prefix - 1];
#if GLYPHOR_LINUX
            // No random numbers (an old kernel, a filter): the time, the process and the draw.
            if (::getrandom(random, sizeof random, 0) != sizeof random) {  // O_EXCL: still safe
                auto mixed =
                    static_cast<std::uint64_t>(std::time(nullptr) << 24 ^ ::getpid() << 8 ^ draw) *
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
    // Renames it over to in the folder; false, with errno set, when it stays.
    bool place_as(const char* to) {
        return placed_ = ::renameat(folder_, name_, folder_, to) == 0;
    }

private:
    descriptor file_;
    int folder_;
    char name_[22] = {};
    bool placed_ = false;
    sigset_t signals_{};
};

// True when the disk or the quota had no room for the new file (errno) but
// has for the bytes in place: the old file's and the new one's blocks, both
// freed first (a refused write of one page leaves the new one none, a failed
// flush may), and the free ones on a full disk (a quota's room is not told).
bool room_in_place(const facts* old, int old_file, const temporary* made, std::size_t size) {
    const int error = errno;
    struct stat fresh {};
    struct statvfs disk {};
    if (old == nullptr || (error != ENOSPC && error != EDQUOT)) return false;
    if (made != nullptr) ::fstat(made->get(), &fresh);  // else none: 0 blocks, 512-byte units
    std::uint64_t room = static_cast<std::uint64_t>(old->is.st_blocks + fresh.st_blocks) * 512;
    if (error == ENOSPC && ::fstatvfs(old_file, &disk) == 0) room += disk.f_bavail * disk.f_frsize;
    return room >= size;
}

// What replace() comes to: write_file's outcome (the first three, in its
// order), or in_place: the old file is to be written through its descriptor.
enum class replaced { written, create_failed, write_failed, in_place };
static_assert(static_cast<int>(replaced::write_failed) ==
              static_cast<int>(write_outcome::write_failed));

// Writes the bytes into a new file renamed over the entry at; old is the file
// opened there (old_file), or null. "wb" writes the files of a closed or full folder.
replaced replace(const entry& at, const facts* old, int old_file, const void* bytes,
                 std::size_t size) {
    temporary fresh{at.folder.get()};
    if (!fresh.make(old != nullptr ? 0600 : 0666)) {
        const bool closed = old != nullptr && (errno == EACCES || errno == EPERM);
        return closed || room_in_place(old, old_file, nullptr, size) ? replaced::in_place
                                                                     : replaced::create_failed;
    }
    if (old != nullptr) {
        // The old file's owner, group and mode, in that order (a change of
        // owner clears the set-id bits), its flags, project and attributes.
        facts made;
        look(fresh.get(), made);  // (fstat of a file just made: never refused)
        if (((made.is.st_uid != old->is.st_uid || made.is.st_gid != old->is.st_gid) &&
             ::fchown(fresh.get(), old->is.st_uid, old->is.st_gid) != 0) ||
            ::fchmod(fresh.get(), old->is.st_mode & 07777) != 0 || made.flags != old->flags ||
            made.project != old->project || !same_attributes(old_file, fresh.get())) {
            return replaced::in_place;
        }
    }
    // The bytes reach the disk before the name does: after a crash the name
    // holds the old file or the new one, never an empty one.
    if (!write_all(fresh.get(), bytes, size) ||
        ::fsync(fresh.get()) != 0) {  // (in place: once gone)
        return room_in_place(old, old_file, &fresh, size) ? replaced::in_place
                                                          : replaced::write_failed;
    }
    if (fresh.place_as(at.name)) return replaced::written;
    // A mount point statx did not tell (a kernel before 5.8, a BSD): in place. A folder that
    // forbids the rename (sticky, immutable) has refused the owner or the new file before.
    return old != nullptr && errno == EBUSY ? replaced::in_place : replaced::write_failed;
}

// True when the file opened may be the one console writes to, where its text
// would be mixed in: a file or a pipe, or a terminal by any name (/dev/tty:
// both the controlling terminal). A device such as /dev/null takes both; a
// closed console (held by the root folder) nothing; one not told, anything.
bool is_console(int file, const facts& found, std::FILE* console) {
    struct stat seen {};
    if (console == nullptr || ::fstat(fileno(console), &seen) != 0) return console != nullptr;
    return (S_ISCHR(found.is.st_mode) && ::isatty(file) != 0 && ::tcgetpgrp(file) >= 0 &&
            ::tcgetpgrp(fileno(console)) >= 0) ||
           (seen.st_dev == found.is.st_dev && seen.st_ino == found.is.st_ino &&
            ((!S_ISCHR(seen.st_mode) && !S_ISBLK(seen.st_mode)) || ::isatty(file) != 0));
}

}  // namespace

write_outcome write_file(const char* path, const void* bytes, std::size_t size, std::FILE* console,
                         path_text* /*kept: never set, the old file keeps its name*/) {
    // As "wb" opens it (O_CREAT: the kernel's sticky-folder guards judge), without cutting it;
    // where nothing is, the new file is made below. A name that turns to another file (another
    // writer's, renamed over it) is opened again: bytes no name holds are never written.
    for (int round = 0; round < 3; ++round) {
        facts found;
        const bool exists = ::stat(path, &found.is) == 0;
        if (!exists && errno != ENOENT) return write_outcome::create_failed;
        descriptor out{exists ? ::open(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666) : -1};
        if (exists && (!out || !look(out.get(), found) || is_console(out.get(), found, console)))
            return write_outcome::create_failed;
        if (exists && !S_ISREG(found.is.st_mode))
            return write_in_place(out.get(), false, bytes, size);
        // A regular file is replaced in its folder, if that entry is the file
        // opened; one out of reach (/dev/fd/N into a closed folder) is written
        // in place, if a name holds it, and so is what a new file could never
        // be: other links, another device, a mount (told before a new file
        // is made: renamed over, it fails, EBUSY), or a file in an
        // append-only folder, where a hidden name could never go.
        entry at;
        facts folder;
        const bool reached = find(path, at) && look(at.folder.get(), folder);
        if (reached && (at.found.st_dev != found.is.st_dev || at.found.st_ino != found.is.st_ino))
            continue;
        if (!reached && (!exists || found.is.st_nlink == 0)) return write_outcome::create_failed;
        const bool in_place =
            !reached || (folder.flags & append_only) != 0 ||
            (exists && (found.is.st_nlink != 1 || found.is.st_dev != folder.is.st_dev ||
                        (found.flags & mount_root) != 0));
        const replaced done = in_place
                                  ? replaced::in_place
                                  : replace(at, exists ? &found : nullptr, out.get(), bytes, size);
        if (done != replaced::in_place) return static_cast<write_outcome>(done);
        if (!exists)  // a new file in an append-only folder, made as "wb" makes it
            out = descriptor{::openat(at.folder.get(), at.name,
                                      O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666)};
        return out ? write_in_place(out.get(), true, bytes, size) : write_outcome::create_failed;
    }
    return write_outcome::create_failed;
}

}  // namespace glyphor
