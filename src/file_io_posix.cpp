// File access on Linux and other POSIX systems, through descriptors and the
// *at calls: the folder that holds the output is opened once, and the new file
// is made, named and renamed relative to it, so that whatever its path or
// links do meanwhile, the clean-up of a failure touches only what this
// process holds.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if __has_include(<sys/random.h>)
#include <sys/random.h>
#endif

#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>

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

// A descriptor, released when it goes out of scope. It may also hold
// AT_FDCWD, the current folder, which is never closed. A close whose result
// matters is made on purpose (flushed_by_close); this one only releases.
class descriptor {
public:
    explicit descriptor(int number) noexcept : number_{number} {}
    ~descriptor() { reset(); }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    descriptor& operator=(descriptor&& other) noexcept {
        reset();
        number_ = other.number_;
        other.number_ = -1;
        return *this;
    }
    descriptor(descriptor&& other) noexcept : number_{other.number_} { other.number_ = -1; }
    int get() const noexcept { return number_; }
    explicit operator bool() const noexcept { return number_ != -1; }
    void reset() noexcept {
        if (number_ >= 0) ::close(number_);
        number_ = -1;
    }

private:
    int number_;
};

#ifdef O_PATH
constexpr int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

constexpr std::size_t longest_name = 255;  // one component of a path
constexpr int most_links = 40;             // as many as the kernel follows in one path

bool same_file(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

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

// True when closing the file reports that its bytes were stored: network file
// systems report a full disk or quota only there. A duplicate is closed, so
// the caller still holds the file through file whatever the close says.
bool flushed_by_close(int file) {
    const int spare = ::dup(file);
    return spare >= 0 && ::close(spare) == 0;
}

// Cuts a file back to 0 bytes through its descriptor, tried twice: what is
// left of a failed write in place must not stay. A device, a FIFO or a pipe
// refuses (EINVAL) and is left as it is.
void cut_back(int file) {
    if (::ftruncate(file, 0) != 0) static_cast<void>(::ftruncate(file, 0));
}

// Writes through the name itself, as "wb" does: for what a rename would turn
// into something else (a device or a pipe, a hard-linked file, a file in a
// folder closed to new files). A failure leaves a regular file empty.
write_outcome write_in_place(const char* path, const void* bytes, std::size_t size) {
    const descriptor file{::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666)};
    if (!file) return write_outcome::create_failed;
    if (write_all(file.get(), bytes, size) && flushed_by_close(file.get())) {
        return write_outcome::written;
    }
    cut_back(file.get());
    return write_outcome::write_failed;
}

// Where a name finally leads, after every symbolic link: the folder that
// holds the file (open), the file's own name in it, and what is there now.
struct final_name {
    descriptor folder{AT_FDCWD};
    char name[longest_name + 1] = {};
    struct stat found {};
    bool exists = false;
};

// Follows path through its symbolic links, opening the folder of each name on
// the way, so that a path of any depth is followed. False when the name
// cannot lead to a file: a missing folder, a loop of links, a name ending in
// '/' or too long.
bool follow(const char* path, final_name& to) {
    char text[PATH_MAX];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof text) return false;
    std::memcpy(text, path, length + 1);
    for (int links = 0; links <= most_links; ++links) {
        char* const slash = std::strrchr(text, '/');
        const char* const base = slash == nullptr ? text : slash + 1;
        const std::size_t base_length = std::strlen(base);
        if (base_length == 0 || base_length > longest_name) return false;
        std::memcpy(to.name, base, base_length + 1);
        if (slash != nullptr) {
            *slash = '\0';
            descriptor folder{::openat(to.folder.get(), slash == text ? "/" : text, folder_flags)};
            if (!folder) return false;
            to.folder = std::move(folder);
        }
        if (::fstatat(to.folder.get(), to.name, &to.found, AT_SYMLINK_NOFOLLOW) != 0) {
            return errno == ENOENT;  // a new file, at the end of any links
        }
        if (!S_ISLNK(to.found.st_mode)) {
            to.exists = true;
            return true;
        }
        // The link's text names a file relative to the link's own folder.
        const ssize_t got = ::readlinkat(to.folder.get(), to.name, text, sizeof text);
        if (got <= 0 || static_cast<std::size_t>(got) >= sizeof text) return false;
        text[got] = '\0';
    }
    return false;
}

// ".glyphor-" and 12 random letters and digits: a hidden name that no other
// program picks, nor guesses in advance.
constexpr char temp_prefix[] = ".glyphor-";
constexpr std::size_t temp_letters = 12;
using temp_name = char[sizeof temp_prefix + temp_letters];

void make_temp_name(temp_name& name) {
    static constexpr char symbols[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-";
    unsigned char random[temp_letters] = {};
    bool drawn = false;
#if __has_include(<sys/random.h>)
    drawn =
        ::getrandom(random, sizeof random, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof random);
#endif
    if (!drawn) {
        // Without random bytes, the process, the time and a count still tell
        // names apart; a name that is taken is drawn again anyway.
        constexpr std::uint64_t golden = 0x9E3779B97F4A7C15U;
        constexpr std::uint64_t stir = 0xBF58476D1CE4E5B9U;
        static std::uint64_t calls = 0;
        std::uint64_t mix = static_cast<std::uint64_t>(::getpid()) * golden;
        mix ^= static_cast<std::uint64_t>(std::time(nullptr)) ^ ++calls;
        for (unsigned char& byte : random) {
            mix = (mix ^ (mix >> 29U)) * stir;
            byte = static_cast<unsigned char>(mix >> 56U);
        }
    }
    std::memcpy(name, temp_prefix, sizeof temp_prefix - 1);
    for (std::size_t i = 0; i < temp_letters; ++i) {
        name[sizeof temp_prefix - 1 + i] = symbols[random[i] % 64U];
    }
    name[sizeof temp_prefix - 1 + temp_letters] = '\0';
}

constexpr int name_draws = 100;  // drawn again while taken, so many times at most

// "/proc/self/fd/N": the name by which an unnamed file is linked into a folder.
void name_of_descriptor(int file, char (&text)[32]) {
    constexpr char prefix[] = "/proc/self/fd/";
    std::memcpy(text, prefix, sizeof prefix - 1);
    *std::to_chars(text + sizeof prefix - 1, text + sizeof text - 1, file).ptr = '\0';
}

// The file that replaces the output, made in the output's folder: unnamed
// while it is written where the system can make one (a crash leaves nothing
// behind), else under a hidden name of its own, made exclusively. Until it is
// in place, it goes when this goes: closed, and its hidden name, if it has
// one, removed. That name is one this process made and no other knows.
class new_file {
public:
    explicit new_file(int folder) : folder_{folder} {}
    ~new_file() {
        file_.reset();
        if (named_ && !placed_ && ::unlinkat(folder_, temp_, 0) != 0) {
            static_cast<void>(::unlinkat(folder_, temp_, 0));  // tried twice: no litter
        }
    }
    new_file(const new_file&) = delete;
    new_file& operator=(const new_file&) = delete;

    // False, with errno set, when no file can be made in the folder.
    bool make() {
        file_ = descriptor{::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666)};
        // Without unnamed files (an old kernel, a file system without them): a hidden name.
        if (!file_ && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
            for (int draw = 0; draw < name_draws && !file_; ++draw) {
                make_temp_name(temp_);
                file_ = descriptor{
                    ::openat(folder_, temp_, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)};
                if (!file_ && errno != EEXIST) break;
            }
            named_ = static_cast<bool>(file_);
        }
        return static_cast<bool>(file_);
    }

    int get() const { return file_.get(); }

    // Puts the file under name in its folder: linked straight to it when the
    // name is free, else renamed over the file there, so that a reader of
    // the name sees the old file or the new one and never a part or nothing.
    bool place_as(const char* name, bool replacing) {
        if (!named_) {
            char self[32];
            name_of_descriptor(file_.get(), self);
            if (!replacing) {
                placed_ = ::linkat(AT_FDCWD, self, folder_, name, AT_SYMLINK_FOLLOW) == 0;
                if (placed_) return true;
                if (errno != EEXIST) return false;  // else a file came under the name meanwhile
            }
            // A rename needs a name to rename: a hidden one, for that moment only.
            for (int draw = 0; draw < name_draws && !named_; ++draw) {
                make_temp_name(temp_);
                named_ = ::linkat(AT_FDCWD, self, folder_, temp_, AT_SYMLINK_FOLLOW) == 0;
                if (!named_ && errno != EEXIST) return false;
            }
            if (!named_) return false;
        }
        placed_ = ::renameat(folder_, temp_, folder_, name) == 0;
        return placed_;
    }

private:
    int folder_;
    descriptor file_{-1};
    temp_name temp_ = {};
    bool named_ = false;
    bool placed_ = false;
};

// Writes the bytes into a new file beside the one the name leads to and puts
// it in that file's place; nothing when the file is to be written in place.
std::optional<write_outcome> replace(const final_name& to, const void* bytes, std::size_t size) {
    // A file that may not be written is not replaced, as "wb" would not open it.
    if (to.exists && ::faccessat(to.folder.get(), to.name, W_OK, AT_EACCESS) != 0) {
        return write_outcome::create_failed;
    }
    new_file file{to.folder.get()};
    if (!file.make()) {
        // A folder closed to new files, as its own permissions say: its
        // writable files are written in place. Any other refusal changes nothing.
        if (to.exists && (errno == EACCES || errno == EPERM) &&
            ::faccessat(to.folder.get(), ".", W_OK, AT_EACCESS) != 0) {
            return std::nullopt;
        }
        return write_outcome::create_failed;
    }
    // The old file's owner, group and permission bits, in that order: a change
    // of owner clears the set-id bits. Where the owner or group may not be
    // given, a new file would change whose the file is.
    if (to.exists) {
        if (::fchown(file.get(), to.found.st_uid, to.found.st_gid) != 0) {
            if (errno == EPERM) return std::nullopt;
            return write_outcome::create_failed;
        }
        if (::fchmod(file.get(), to.found.st_mode & 07777) != 0) {
            return write_outcome::create_failed;
        }
    }
    if (!write_all(file.get(), bytes, size) || !flushed_by_close(file.get()) ||
        !file.place_as(to.name, to.exists)) {
        return write_outcome::write_failed;
    }
    return write_outcome::written;
}

// True when console writes to the regular file found.
bool is_console_file(const struct stat& found, std::FILE* console) {
    struct stat seen {};
    return console != nullptr && ::fstat(fileno(console), &seen) == 0 && S_ISREG(seen.st_mode) &&
           same_file(seen, found);
}

}  // namespace

write_outcome write_file(const char* path, const void* bytes, std::size_t size,
                         std::FILE* console) {
    // What the name leads to now, through every link, /proc's links to open
    // files included: a device or a pipe is written as it is.
    struct stat named {};
    const bool seen = ::stat(path, &named) == 0;
    if (!seen && errno != ENOENT) return write_outcome::create_failed;
    if (seen && !S_ISREG(named.st_mode)) return write_in_place(path, bytes, size);
    if (seen && is_console_file(named, console)) return write_outcome::create_failed;

    final_name to;
    if (!follow(path, to)) return write_outcome::create_failed;
    // A file with other hard links would part from them if replaced; a name
    // that leads to a file by no folder's name (an open file's /proc link) or
    // to another file since the first look has no folder to replace it in.
    const bool replaceable = to.exists ? seen && same_file(named, to.found) &&
                                             S_ISREG(to.found.st_mode) && to.found.st_nlink == 1
                                       : !seen;
    if (replaceable) {
        if (const std::optional<write_outcome> outcome = replace(to, bytes, size)) return *outcome;
    }
    return write_in_place(path, bytes, size);
}

}  // namespace glyphor
