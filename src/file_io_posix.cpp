// File access on Linux, macOS, the BSDs and other POSIX systems. The output
// name is opened once, for writing, as "wb" opens it but without creating or
// cutting anything, so that its refusal is "wb"'s refusal. Every later step
// works on that descriptor and on the folder that holds the file: the name
// is never opened again, and the clean-up of a failure removes only the
// hidden name this process made.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

// What a Linux kernel tells and other systems do not: the attributes of a
// file and its folder (append-only, a mount point) through statx, extended
// attributes by Linux's calls, folders opened for reference only (O_PATH),
// random bytes by getrandom. A portable build does without them all, as
// macOS and the BSDs do; the tests run both.
#if defined(__linux__) && !defined(GLYPHOR_PORTABLE)
#define GLYPHOR_LINUX 1
#include <sys/random.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#else
#define GLYPHOR_LINUX 0
#endif
#if defined(__APPLE__)
#include <sys/acl.h>
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
    ~descriptor() { reset(); }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    descriptor& operator=(descriptor&& other) noexcept {
        reset();
        number_ = other.number_;
        other.number_ = -1;
        return *this;
    }
    int get() const noexcept { return number_; }
    explicit operator bool() const noexcept { return number_ >= 0; }
    void reset() noexcept {
        if (number_ >= 0) ::close(number_);
        number_ = -1;
    }

private:
    int number_;
};

// What the program asks of a file or a folder.
struct facts {
    dev_t device = 0;
    ino_t inode = 0;
    mode_t mode = 0;
    nlink_t links = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::uint64_t flags = 0;  // append-only, immutable, no-dump, a mount point...
};

#if GLYPHOR_LINUX
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
constexpr std::uint64_t append_only = STATX_ATTR_APPEND;

bool look(int file, facts& found) {
    struct statx seen {};
    if (::statx(file, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &seen) != 0) return false;
    found = {makedev(seen.stx_dev_major, seen.stx_dev_minor),
             seen.stx_ino,
             seen.stx_mode,
             seen.stx_nlink,
             seen.stx_uid,
             seen.stx_gid,
             seen.stx_attributes & seen.stx_attributes_mask};
    return true;
}
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#if defined(UF_APPEND)
constexpr std::uint64_t append_only = UF_APPEND | SF_APPEND;
#else
constexpr std::uint64_t append_only = 0;  // a folder's flags are not told here
#endif

bool look(int file, facts& found) {
    struct stat seen {};
    if (::fstat(file, &seen) != 0) return false;
    found = {seen.st_dev, seen.st_ino, seen.st_mode, seen.st_nlink, seen.st_uid, seen.st_gid, 0};
#if defined(UF_APPEND)
    found.flags = seen.st_flags;
#endif
    return true;
}
#endif

// True when the new file carries the very extended attributes of the old one
// (its ACL among them, and whatever a default ACL gave the new file). An
// attribute too long to compare here counts as a difference.
#if GLYPHOR_LINUX || defined(__APPLE__)
constexpr std::size_t attribute_room = 4096;

ssize_t attribute_names(int file, char (&names)[attribute_room]) {
#if defined(__APPLE__)
    const ssize_t length = ::flistxattr(file, names, sizeof names, 0);
#else
    const ssize_t length = ::flistxattr(file, names, sizeof names);
#endif
    return length < 0 && errno == ENOTSUP ? 0 : length;
}

ssize_t attribute(int file, const char* name, char (&value)[attribute_room]) {
#if defined(__APPLE__)
    return ::fgetxattr(file, name, value, sizeof value, 0, 0);
#else
    return ::fgetxattr(file, name, value, sizeof value);
#endif
}

bool same_attributes(int old_file, int new_file) {
#if defined(__APPLE__)
    // macOS keeps ACLs apart from the attributes: a file with one is written in place.
    for (const int file : {old_file, new_file}) {
        if (acl_t acl = ::acl_get_fd_np(file, ACL_TYPE_EXTENDED)) {
            ::acl_free(acl);
            return false;
        }
    }
#endif
    char names[attribute_room];
    char others[attribute_room];
    const ssize_t length = attribute_names(old_file, names);
    if (length < 0 || attribute_names(new_file, others) != length) return false;
    for (const char* name = names; name < names + length; name += std::strlen(name) + 1) {
        char value[attribute_room];
        char other[attribute_room];
        const ssize_t size = attribute(old_file, name, value);
        if (size < 0 || attribute(new_file, name, other) != size ||
            std::memcmp(value, other, static_cast<std::size_t>(size)) != 0) {
            return false;
        }
    }
    return true;
}
#else
bool same_attributes(int /*old_file*/, int /*new_file*/) {
    return true;  // no extended attributes are read on this system
}
#endif

// Sends all size bytes, however many each call takes; a call interrupted by
// a signal before it wrote anything is made again.
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

// Writes through the descriptor the name was opened as: a device, a pipe, or
// a file that a rename would turn into another. A file is first cut to 0
// bytes, as "wb" cuts it, and cut back when the write fails.
write_outcome write_in_place(int file, bool regular, const void* bytes, std::size_t size) {
    if (regular && ::ftruncate(file, 0) != 0) return write_outcome::create_failed;
    if (write_all(file, bytes, size) && (!regular || ::fsync(file) == 0)) {
        return write_outcome::written;
    }
    if (regular) static_cast<void>(::ftruncate(file, 0));
    return write_outcome::write_failed;
}

// The folder that holds the file a name leads to after every symbolic link,
// and the file's name in it. Each folder on the way is opened, so a path of
// any depth is followed relative to the last.
struct entry {
    descriptor folder;
    char name[NAME_MAX + 1] = {};
    struct stat found {};
    bool exists = false;
};

constexpr int most_links = 40;  // as many as the kernel follows in one path

// False when the name leads to no folder: a missing or closed folder, a loop
// of links, a link to an open file's unreachable name.
bool find(const char* path, entry& at) {
    char text[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof text) return false;
    std::memcpy(text, path, length + 1);
    at.folder = descriptor{::open(".", folder_flags)};
    for (int links = 0; at.folder && links <= most_links; ++links) {
        char* const slash = std::strrchr(text, '/');
        const char* const base = slash == nullptr ? text : slash + 1;
        const std::size_t base_length = std::strlen(base);
        if (base_length == 0 || base_length >= sizeof at.name) return false;
        std::memcpy(at.name, base, base_length + 1);
        if (slash != nullptr) {
            *slash = '\0';
            at.folder = descriptor{::openat(at.folder.get(), slash == text ? "/" : text, folder_flags)};
            if (!at.folder) return false;
        }
        if (::fstatat(at.folder.get(), at.name, &at.found, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT;  // a new file, at the end of any links
        }
        if (!S_ISLNK(at.found.st_mode)) {
            at.exists = true;
            return true;
        }
        // The link's text names a file relative to the link's own folder.
        const ssize_t got = ::readlinkat(at.folder.get(), at.name, text, sizeof text);
        if (got <= 0 || static_cast<std::size_t>(got) >= sizeof text) return false;
        text[got] = '\0';
    }
    return false;
}

// Interrupt and termination signals wait while a named temporary exists, and
// end the run once it is gone.
class held_signals {
public:
    held_signals() {
        sigset_t held;
        sigemptyset(&held);
        for (const int held_signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
            sigaddset(&held, held_signal);
        }
        sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~held_signals() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    held_signals(const held_signals&) = delete;
    held_signals& operator=(const held_signals&) = delete;

private:
    sigset_t before_{};
};

// The new file, made under a hidden name of its own in the output's folder:
// ".glyphor-" and 12 random letters and digits, made exclusively. Until it
// is renamed into place, it goes when this goes.
class temporary {
public:
    explicit temporary(int folder) : folder_{folder} {}
    ~temporary() { remove(); }
    temporary(const temporary&) = delete;
    temporary& operator=(const temporary&) = delete;

    // False, with errno set, when no file can be made in the folder.
    bool make(mode_t mode) {
        static constexpr char symbols[] =
            "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-";
        constexpr std::size_t prefix = 9;  // ".glyphor-"
        std::memcpy(name_, ".glyphor-", prefix);
        for (int draw = 0; draw < 100; ++draw) {
            unsigned char random[sizeof name_ - prefix - 1];
#if GLYPHOR_LINUX
            if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
                return false;
            }
#else
            ::arc4random_buf(random, sizeof random);
#endif
            for (std::size_t i = 0; i < sizeof random; ++i) name_[prefix + i] = symbols[random[i] % 64U];
            file_ = descriptor{::openat(folder_, name_,
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode)};
            if (file_ || errno != EEXIST) return static_cast<bool>(file_);
        }
        return false;
    }
    int get() const { return file_.get(); }
    // Renames the file over name in the folder; false, with errno set, when it stays where it is.
    bool place_as(const char* name) {
        placed_ = ::renameat(folder_, name_, folder_, name) == 0;
        return placed_;
    }
    void remove() {
        if (file_ && !placed_) static_cast<void>(::unlinkat(folder_, name_, 0));
        file_.reset();
    }

private:
    int folder_;
    descriptor file_;
    char name_[22] = {};
    bool placed_ = false;
};

// Writes the bytes into a new file in the folder and renames it over the
// entry there; old is the file the name was opened as, or null for a new
// file. Nothing when the file is to be written in place instead: whatever a
// new file would not keep of the old one, or a folder where a hidden name,
// once made, could not be removed.
std::optional<write_outcome> replace(const entry& at, const facts* old, int old_file,
                                     const void* bytes, std::size_t size) {
    facts folder;
    if (!look(at.folder.get(), folder)) return write_outcome::create_failed;
    if ((folder.flags & append_only) != 0) return std::nullopt;
    if (old != nullptr && (old->links != 1 || old->device != folder.device)) return std::nullopt;

    const held_signals held;
    temporary file{at.folder.get()};
    if (!file.make(old != nullptr ? 0600 : 0666)) {
        // A folder closed to new files: "wb" writes its files all the same.
        if (old != nullptr && (errno == EACCES || errno == EPERM)) return std::nullopt;
        return write_outcome::create_failed;
    }
    if (old != nullptr) {
        // The old file's owner, group and mode, in that order (a change of
        // owner clears the set-id bits), its flags and its attributes.
        facts made;
        if (!look(file.get(), made)) return write_outcome::create_failed;
        if ((made.owner != old->owner || made.group != old->group) &&
            ::fchown(file.get(), old->owner, old->group) != 0) {
            return std::nullopt;
        }
        if (::fchmod(file.get(), old->mode & 07777) != 0 || made.flags != old->flags ||
            !same_attributes(old_file, file.get())) {
            return std::nullopt;
        }
    }
    // The bytes reach the disk before the name does: after a crash the name
    // holds the old file or the new one, never an empty one.
    if (!write_all(file.get(), bytes, size) || ::fsync(file.get()) != 0) {
        return write_outcome::write_failed;
    }
    if (file.place_as(at.name)) return write_outcome::written;
    // A mount point, a folder that forbids it: the old file is written instead.
    if (old != nullptr && (errno == EBUSY || errno == EPERM || errno == EXDEV)) return std::nullopt;
    return write_outcome::write_failed;
}

// True when the file opened is the one console writes to: a file or a pipe,
// or a terminal, where the program's text would be mixed into the bytes. A
// device such as /dev/null takes both.
bool is_console(int file, const facts& found, std::FILE* console) {
    struct stat seen {};
    return console != nullptr && ::fstat(fileno(console), &seen) == 0 &&
           seen.st_dev == found.device && seen.st_ino == found.inode &&
           ((!S_ISCHR(found.mode) && !S_ISBLK(found.mode)) || ::isatty(file) != 0);
}

}  // namespace

write_outcome write_file(const char* path, const void* bytes, std::size_t size,
                         std::FILE* console) {
    const descriptor out{::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC)};
    if (!out && errno != ENOENT) return write_outcome::create_failed;
    facts found;
    if (out && !look(out.get(), found)) return write_outcome::create_failed;
    if (out && is_console(out.get(), found, console)) return write_outcome::create_failed;
    if (out && !S_ISREG(found.mode)) return write_in_place(out.get(), false, bytes, size);

    // A regular file is replaced in the folder that holds it, when that
    // folder's entry is still the file opened; else it is written through
    // the descriptor (an open file's /dev/fd link, a name taken meanwhile).
    entry at;
    const bool found_entry = find(path, at);
    if (!out) {
        if (!found_entry) return write_outcome::create_failed;
        if (const auto outcome = replace(at, nullptr, -1, bytes, size)) return *outcome;
        // A folder where no hidden name could be removed: the file is made as "wb" makes it.
        const descriptor made{::openat(at.folder.get(), at.name,
                                       O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666)};
        if (!made) return write_outcome::create_failed;
        return write_in_place(made.get(), true, bytes, size);
    }
    if (found_entry && at.exists && at.found.st_dev == found.device &&
        at.found.st_ino == found.inode) {
        if (const auto outcome = replace(at, &found, out.get(), bytes, size)) return *outcome;
    }
    return write_in_place(out.get(), true, bytes, size);
}

}  // namespace glyphor
