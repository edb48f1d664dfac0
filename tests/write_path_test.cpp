// The write path at the moments a failure can strike it, and the files a rename would change.
// The program's calls to write, fsync, renameat and fstatat are wrapped at link time
// (-Wl,--wrap): once armed, the chosen call fails, or another program's doing is run at that very
// moment, as a second process could. The attribute listing, the random draws and fchmod are
// wrapped too, to answer as other systems do.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "file_bytes.h"
#include "file_io.h"
#include "support.h"

namespace {

// The call to fail, and what happens in the world just before it fails.
enum class moment { none, write, fsync, rename, look_up };
moment armed = moment::none;
bool written = false;  // a write has gone through since arming
std::function<void()> meanwhile;
// The attribute listing answers ENOTSUP, as FUSE's FAT does; fchmod is refused.
bool listing_unsupported = false;
bool chmod_refused = false;
// The next draw of the hidden name is all zeros, a taken name; or no random
// numbers at all, as on a kernel without getrandom or behind a filter.
bool draw_taken_name = false;
bool no_random = false;

// True when this call is the armed one (fsync once a write has gone
// through): it then runs the doing, disarmed.
bool strikes(moment now) {
    if (armed != now || (now == moment::fsync && !written)) return false;
    armed = moment::none;
    if (meanwhile) meanwhile();
    errno = EIO;
    return true;
}

bool taken_draw(void* draw, std::size_t size) {
    if (!draw_taken_name) return false;
    draw_taken_name = false;
    std::memset(draw, 0, size);
    return true;
}

}  // namespace

// The linker's names for the wrapped calls and the real ones behind them.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
#define WRAPPED(result, call, ...)     \
    result __real_##call(__VA_ARGS__); \
    result __wrap_##call(__VA_ARGS__)
extern "C" {
WRAPPED(ssize_t, write, int file, const void* bytes, std::size_t size);
WRAPPED(int, fsync, int file);
WRAPPED(int, renameat, int from_folder, const char* from, int to_folder, const char* to);
WRAPPED(int, fstatat64, int folder, const char* name, struct stat* found, int flags);
WRAPPED(ssize_t, flistxattr, int file, char* names, std::size_t size);
WRAPPED(ssize_t, getrandom, void* bytes, std::size_t size, unsigned flags);
WRAPPED(void, arc4random_buf, void* bytes, std::size_t size);
WRAPPED(int, fchmod, int file, mode_t mode);

ssize_t __wrap_write(int file, const void* bytes, std::size_t size) {
    if (strikes(moment::write)) return -1;
    const ssize_t wrote = __real_write(file, bytes, size);
    written = written || wrote > 0;
    return wrote;
}

int __wrap_fsync(int file) {
    return strikes(moment::fsync) ? -1 : __real_fsync(file);
}

int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to) {
    return strikes(moment::rename) ? -1 : __real_renameat(from_folder, from, to_folder, to);
}

// Looking the name up after it was opened: the doing runs, the call does not fail.
int __wrap_fstatat64(int folder, const char* name, struct stat* found, int flags) {
    static_cast<void>(strikes(moment::look_up));
    return __real_fstatat64(folder, name, found, flags);
}

ssize_t __wrap_flistxattr(int file, char* names, std::size_t size) {
    if (!listing_unsupported) return __real_flistxattr(file, names, size);
    errno = ENOTSUP;
    return -1;
}

ssize_t __wrap_getrandom(void* bytes, std::size_t size, unsigned flags) {
    if (no_random) {
        errno = ENOSYS;
        return -1;
    }
    return taken_draw(bytes, size) ? static_cast<ssize_t>(size)
                                   : __real_getrandom(bytes, size, flags);
}

void __wrap_arc4random_buf(void* bytes, std::size_t size) {
    if (!taken_draw(bytes, size)) __real_arc4random_buf(bytes, size);
}

int __wrap_fchmod(int file, mode_t mode) {
    errno = EPERM;
    return chmod_refused ? -1 : __real_fchmod(file, mode);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)

// Leaves the test out for what the machine lacks (a namespace, a mount, a
// flag), saying so in one line; in CI, which runs as root on a whole machine
// and leaves nothing out, that is a failure.
#define LEAVE_OUT(lacking)                                     \
    do {                                                       \
        if (std::getenv("CI") != nullptr) FAIL() << (lacking); \
        GTEST_SKIP() << (lacking);                             \
    } while (false)

namespace glyphor {
namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

const bytes old_charset(2048, 0x5A);
const bytes new_charset = test::random_bytes(2048);
const bytes someone_elses = {'t', 'h', 'e', 'i', 'r', 's'};

struct stat status(const std::string& path) {
    struct stat found {};
    EXPECT_EQ(stat(path.c_str(), &found), 0) << path;
    return found;
}

// Every extended attribute of a file, ACLs included, by name.
std::map<std::string, std::string> attributes(const std::string& path) {
    std::map<std::string, std::string> found;
    char names[4096];
    const ssize_t length = listxattr(path.c_str(), names, sizeof names);
    for (const char* name = names; length > 0 && name < names + length;
         name += std::strlen(name) + 1) {
        char value[4096];
        const ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
        found[name] = std::string(value, static_cast<std::size_t>(size < 0 ? 0 : size));
    }
    return found;
}

// A file's flags, set as chattr sets them (FS_IOC_SETFLAGS) or read as lsattr
// reads them (FS_IOC_GETFLAGS); false where the file system or the rights refuse it.
bool file_flags(const std::string& path, unsigned long request, int& flags) {
    const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    const bool done = file >= 0 && ioctl(file, request, &flags) == 0;
    if (file >= 0) close(file);
    return done;
}

// Runs a command of the test's own in the shell, its output dropped; true when it succeeds.
[[maybe_unused]] bool shell(const std::string& command) {  // not in a portable build
    const std::string quiet = "{ " + command + "; } >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;  // NOLINT(cert-env33-c)
}

// Writes text into one of the kernel's files in /proc; false when refused.
bool put(const char* file, const std::string& text) {
    const int to = open(file, O_WRONLY);
    const bool done = to >= 0 && ::write(to, text.data(), text.size()) > 0;
    if (to >= 0) close(to);
    return done;
}

// The kernel's guards of sticky folders, fs.protected_regular and
// fs.protected_fifos, a level each ("12"); false when they cannot be set.
const char* const guard_settings[] = {"/proc/sys/fs/protected_regular",
                                      "/proc/sys/fs/protected_fifos"};
bool set_guards(const std::string& levels) {
    return put(guard_settings[0], levels.substr(0, 1)) &&
           put(guard_settings[1], levels.substr(1, 1));
}

// Runs body in a child process once enter (giving up rights, entering
// namespaces) has succeeded there. Returns what body returned, 1 when a check
// in the child failed (it says so itself), 99 when enter failed, and -1 when
// the child did not end normally. No enter: nothing to enter.
int in_child(const std::function<bool()>& enter, const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60);  // a write that blocks fails
        const bool failed_before = ::testing::Test::HasFailure();
        int result = 1;
        try {
            result = !enter || enter() ? body() : 99;
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
        std::fflush(nullptr);
        _exit(!failed_before && ::testing::Test::HasFailure() ? 1 : result);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// In folder (entered first: the test's folder is root's), as user 65534 when
// the test runs as root.
std::function<bool()> another_user(const std::string& folder = {}) {
    return [folder] {
        return (folder.empty() || chdir(folder.c_str()) == 0) &&
               (geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0));
    };
}

// Mounts of the child's own, which the machine may refuse: a container the
// namespace (EPERM), a chroot a private "/" (EINVAL).
bool own_mounts() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// A user namespace where root is this user and no one else has a number
// (unshare -r); a user root became must be let to write its /proc files.
bool own_users() {
    const std::string user = std::to_string(geteuid()), group = std::to_string(getegid());
    return prctl(PR_SET_DUMPABLE, 1) == 0 && unshare(CLONE_NEWUSER) == 0 &&
           put("/proc/self/setgroups", "deny") && put("/proc/self/uid_map", "0 " + user + " 1") &&
           put("/proc/self/gid_map", "0 " + group + " 1");
}

struct write_path : ::testing::Test {
    test::temp_dir dir;
    std::string out = dir.file("out.bin");
    std::FILE* console = nullptr;  // the file the program's text goes to
    std::string lacking;           // what the machine did not give, said at the end
    // What clear() puts back: files with chattr's flags, the kernel's guards
    // as they were, a descriptor held open and a program left running.
    std::vector<std::string> flagged;
    std::string guards;
    int held = -1;
    pid_t running = -1;

    // write_file with the call at when failing, what meanwhile says done then.
    write_outcome write(const std::string& path, moment when, std::function<void()> doing = {}) {
        armed = when;
        written = false;
        meanwhile = std::move(doing);
        const write_outcome outcome =
            write_file(path.c_str(), new_charset.data(), new_charset.size(), console);
        EXPECT_EQ(armed, moment::none) << "the armed call was never made";
        armed = moment::none;
        meanwhile = {};
        return outcome;
    }
    // The file with content, and mode where one is given (0: as made).
    void save(const std::string& path, const bytes& content, mode_t mode = 0) const {
        ASSERT_TRUE(write_file_bytes(path.c_str(), content));
        ASSERT_EQ(mode == 0 ? 0 : chmod(path.c_str(), mode), 0);
    }
    // name in the test's folder (its folder made) holding the old charset, of
    // mode, its folder then of folder_mode (0: as made), given to owner and
    // group if an owner is given, which only root can ("" where that fails).
    // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): chmod's and chown's
    std::string placed(const std::string& name, mode_t mode, mode_t folder_mode = 0,
                       uid_t owner = 0, gid_t group = 0) {
        const fs::path path = dir.file(name);
        fs::create_directories(path.parent_path());
        save(path, old_charset, mode);
        EXPECT_EQ(folder_mode == 0 ? 0 : chmod(path.parent_path().c_str(), folder_mode), 0);
        if ((owner | group) != 0 && chown(path.c_str(), owner, group) != 0) {
            return lack("root, to give a file to another user");
        }
        return path;
    }
    // The names in folder (the test's own by default), sorted.
    std::vector<std::string> names(const std::string& folder = {}) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder.empty() ? dir.path() : folder))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }
    // Notes what the machine lacks; "", for a row's name to write: not tried.
    std::string lack(const std::string& what) {
        if (lacking.find(what) == std::string::npos) {
            lacking += (lacking.empty() ? "needs " : "; ") + what;
        }
        return {};
    }
    bool set_flag(const std::string& path, int to) {
        flagged.push_back(path);
        return file_flags(path, FS_IOC_SETFLAGS, to);
    }
    // Puts the machine and the test's folder back as they were, empty.
    void clear() {
        for (int none = 0; const std::string& path : flagged)
            file_flags(path, FS_IOC_SETFLAGS, none);
        flagged.clear();
        EXPECT_TRUE(guards.empty() || set_guards(guards));
        if (held >= 0) close(held);
        held = -1;
        if (running > 0 && kill(running, SIGKILL) == 0) waitpid(running, nullptr, 0);
        running = -1;
        listing_unsupported = draw_taken_name = no_random = chmod_refused = false;
        // The folders a row closes, opened again for a user to empty them.
        for (const char* folder : {"folder", "private", "private/hidden"})
            chmod(dir.file(folder).c_str(), 0700);
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        fs::permissions(dir.path(), fs::perms::owner_all);
    }
    void TearDown() override { clear(); }
};

// Whichever call fails, the old charset stays as it was, the same file, and
// nothing else is left in the folder; a signal that ends the run then acts
// once the new file is gone; another program's save under the name at that
// moment (a new file renamed over it) is kept, not removed.
TEST_F(write_path, a_failure_or_a_signal_at_any_moment_keeps_the_old_file_and_anyone_elses) {
    for (const moment when : {moment::write, moment::fsync, moment::rename}) {
        SCOPED_TRACE(static_cast<int>(when));
        save(out, old_charset);
        const ino_t old_inode = status(out).st_ino;
        EXPECT_EQ(write(out, when), write_outcome::write_failed);
        for (const int signal : {SIGUSR1, SIGALRM, SIGTERM}) {
            const auto ended = [&] {
                return static_cast<int>(write(out, when, [&] { raise(signal); }));
            };
            EXPECT_EQ(in_child({}, ended), -1) << signal;
        }
        EXPECT_EQ(test::read_file(out), old_charset);
        EXPECT_EQ(status(out).st_ino, old_inode);
        EXPECT_EQ(names(), std::vector<std::string>{"out.bin"});

        const auto theirs_saved = [&] {
            save(dir.file("theirs.tmp"), someone_elses);
            fs::rename(dir.file("theirs.tmp"), out);
        };
        EXPECT_EQ(write(out, when, theirs_saved), write_outcome::write_failed);
        EXPECT_EQ(test::read_file(out), someone_elses);
        EXPECT_EQ(names(), std::vector<std::string>{"out.bin"});
        fs::remove(out);
        // And where there was no file, none appears.
        EXPECT_EQ(write(out, when == moment::rename ? moment::write : when),
                  write_outcome::write_failed);
        EXPECT_TRUE(names().empty());
    }
}

#if !defined(GLYPHOR_PORTABLE)  // a portable build reads no attributes or flags, as on the BSDs
// An ACL as the kernel stores it, version 2, then each entry's tag,
// permissions and id, little-endian: the owner, user 65534 and the group may
// read and write, others nothing.
const std::string acl_for_nobody{
    "\x02\0\0\0"
    "\x01\0\x06\0\xff\xff\xff\xff"  // the owner
    "\x02\0\x06\0\xfe\xff\0\0"      // user 65534
    "\x04\0\x06\0\xff\xff\xff\xff"  // the group
    "\x10\0\x06\0\xff\xff\xff\xff"  // the mask
    "\x20\0\0\0\xff\xff\xff\xff",   // others
    44};
#endif

// What fopen(path, "wb"), fwrite and fclose come to, as write_file's outcome.
write_outcome as_wb(const std::string& path) {
    std::FILE* const file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return write_outcome::create_failed;
    const bool wrote = std::fwrite(new_charset.data(), 1, new_charset.size(), file) == 2048;
    return std::fclose(file) == 0 && wrote ? write_outcome::written : write_outcome::write_failed;
}

// What a write turns on, one file each: made (its name returned, "" where it
// is not tried), written in a child process, and checked there. Whatever
// else, a file written or replaced keeps its owner, group, mode and extended
// attributes (ACLs among them), and its folder keeps the names it had, with
// the new file's: no other file is left behind.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
TEST_F(write_path, what_a_write_turns_on) {
    struct detail {
        const char* what;
        std::function<std::string()> make;
        bool replaced = false;                          // when written: a new file in its place
        std::function<void(const std::string&)> check;  // what else must hold
        std::function<bool()> enter;                    // in the child, first
        const char* needs = "user 65534";               // what the machine lacks when enter fails
    };
    const auto written = write_outcome::written;
    const char* const mounts = "a mount namespace and a private / (CAP_SYS_ADMIN, no chroot)";
    const std::string closed = dir.file("closed"),
                      taken_name = ".glyphor-000000000000";  // twelve times symbol 0
    const auto old_out = [&](mode_t mode = 0) { return placed("out.bin", mode); };
    const auto new_out = [&] { return dir.file("new.bin"); };
    // The old file, written with one of the wrapped calls' turns on.
    const auto turned = [&](bool& turn) {
        turn = true;
        return old_out();
    };
    // A failed write in place empties the file, as "wb" does.
    const auto emptied = [&](const std::string& path) {
        const ino_t before = status(path).st_ino;
        EXPECT_EQ(write(path, moment::write), write_outcome::write_failed);
        EXPECT_EQ(test::read_file(path), bytes{});
        EXPECT_EQ(status(path).st_ino, before);
    };
    // out.bin, writable by all, in a folder of mode, for another user there;
    // in a folder open to all, only root has another user to be.
    const auto shared_file = [&](mode_t mode) {
        return [=, this] {
            placed("folder/out.bin", 0666, mode);
            return mode == 0777 && geteuid() != 0 ? std::string{} : std::string{"out.bin"};
        };
    };
    // From a working folder the writer cannot search, a file in a folder open
    // to all by its absolute path, beside an old file of the writer's own.
    const auto closed_world = [&](const std::string& name) {
        return [=, this] {
            if (placed("open/old.bin", 0, 0777, 65534, 65534).empty()) return std::string{};
            fs::create_directory(dir.file("closed"));
            EXPECT_EQ(chmod(dir.path().c_str(), 0711) | chmod(dir.file("closed").c_str(), 0700), 0);
            return dir.file("open/" + name);
        };
    };
    // A file held open (/dev/fd/N) in private/hidden, at closed: its folders
    // can be opened (O_PATH) up to at's, but at cannot be searched.
    const auto held_in = [&](const char* at) {
        return [=, this] {
            held = open(placed("private/hidden/out.bin", 0666).c_str(), O_RDWR);
            EXPECT_EQ(chmod(dir.path().c_str(), 0711) | chmod(dir.file(at).c_str(), 0), 0);
            return "/dev/fd/" + std::to_string(held);
        };
    };
    const auto no_proc = [] { return own_mounts() && umount2("/proc", MNT_DETACH) == 0; };
    const auto bind_mounted = [&] {
        save(dir.file("host.bin"), old_charset);
        return own_mounts() &&
               mount(dir.file("host.bin").c_str(), out.c_str(), nullptr, MS_BIND, nullptr) == 0;
    };
    // The file a, with a link to it whose text is one character (out.bin)
    // and a chain of links whose texts grow shorter: the links stay links.
    const auto linked = [&](const std::string& name) {
        return [=, this] {
            save(dir.file("a"), old_charset);
            fs::create_symlink("a", out);
            fs::create_symlink("out.bin", dir.file("chain"));
            return dir.file(name);
        };
    };
    const auto still_a_link = [](const std::string& path) { EXPECT_TRUE(fs::is_symlink(path)); };
    const auto longest_path = [&] {
        std::string deep = dir.path();
        while (deep.size() + 1 + 200 < PATH_MAX - 1) deep += "/" + std::string(200, 'd');
        fs::create_directories(deep);
        return deep + "/" + std::string(PATH_MAX - 2 - deep.size(), 'f');
    };
    // A copy of sleep, running: glibc's posix_spawn returns once it has started.
    const auto a_running_program = [&] {
        std::string program = dir.file("busy");
        fs::copy_file("/bin/sleep", program);  // with its mode
        char seconds[] = "30";
        char* const arguments[] = {program.data(), seconds, nullptr};
        EXPECT_EQ(posix_spawn(&running, program.c_str(), nullptr, nullptr, arguments, environ), 0);
        return program;
    };
#if !defined(GLYPHOR_PORTABLE)
    // A file system of the child's own, mounted on disk ($d) by the shell
    // command mount, which puts out.bin there; then filled up with bytes
    // ('b'; 's': but a block of 1 KiB) or with files ('f').
    const auto on_disk = [&] { return dir.file("disk/out.bin"); };
    const char* const disks = "a mount namespace, tmpfs, loop devices and mkfs.xfs (xfsprogs)";
    const auto full_disk = [&](const std::string& mount, char fill) {
        return [=, this] {
            const std::string disk = dir.file("disk");
            if (!fs::create_directory(disk) || !own_mounts() || setenv("d", disk.c_str(), 1) != 0 ||
                !shell(mount)) {
                return false;
            }
            for (int made = 0; fill != 0 && made < (fill == 'f' ? 100 : 1); ++made) {
                const int filler =
                    open((disk + "/" + std::to_string(made)).c_str(), O_WRONLY | O_CREAT, 0600);
                if (filler < 0) break;
                while (fill != 'f' && __real_write(filler, old_charset.data(), 512) > 0) {
                }
                close(filler);
            }
            return fill != 's' ||
                   truncate((disk + "/0").c_str(),
                            static_cast<off_t>(fs::file_size(disk + "/0")) - 1024) == 0;
        };
    };
    const std::string old_2k = " && head -c 2048 /dev/zero >$d/out.bin",
                      tmpfs = "mount -t tmpfs -o size=64k";
    const std::string ext4_1k =
        "truncate -s 1M $d.img && mke2fs -q -b 1024 -m 0 -O ^has_journal "
        "$d.img && mount $d.img $d && head -c 1024 /dev/zero >$d/out.bin";
    // out with a user attribute and an ACL that lets user 65534 read and
    // write; the folder shared with that ACL as its default, an old file
    // given it there, and one whose ACL was changed since (setfacl -m u:nobody:r).
    const auto with_acls = [&](const std::string& name) {
        std::string limited = acl_for_nobody;
        limited[14] = 4;  // user 65534 may only read
        const std::string shared = dir.file("shared");
        fs::create_directory(shared);
        old_out();
        const std::string& acl = acl_for_nobody;
        if (setxattr(out.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
            setxattr(out.c_str(), "user.note", "mine", 4, 0) != 0 ||
            setxattr(shared.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
            return lack("a file system that keeps ACLs and user attributes (ext4, XFS)");
        }
        for (const char* file : {"/old.bin", "/limited.bin", "/bare.bin"})
            save(shared + file, old_charset);
        EXPECT_EQ(removexattr((shared + "/bare.bin").c_str(), "system.posix_acl_access"), 0);
        EXPECT_EQ(setxattr((shared + "/limited.bin").c_str(), "system.posix_acl_access",
                           limited.data(), limited.size(), 0),
                  0);
        return dir.file(name);
    };
    const char* const chattr =
        "root with CAP_LINUX_IMMUTABLE, on a file system with chattr's flags (ext4, XFS)";
    // An append-only file in an append-only folder, where no name can be
    // removed, so no new file can be made under a hidden name.
    const auto append_only = [&](const std::string& name) {
        placed("log/old.bin", 0);
        if (!set_flag(dir.file("log/old.bin"), FS_APPEND_FL) ||
            !set_flag(dir.file("log"), FS_APPEND_FL)) {
            return lack(chattr);
        }
        return dir.file("log/" + name);
    };
    // out with a flag a new file would not have: written in place, it keeps
    // it. Those statx does not tell are tried where they can be set.
    const auto flag_row = [&](const char* what, int flag) {
        const auto make = [=, this] {
            if (set_flag(old_out(), flag)) return out;
            if (flag == FS_NODUMP_FL) return lack(chattr);
            std::printf("chattr's flag %#x cannot be set here: not tried\n", flag);
            return std::string{};
        };
        const auto kept = [flag](const std::string& path) {
            int flags = 0;
            EXPECT_TRUE(file_flags(path, FS_IOC_GETFLAGS, flags));
            EXPECT_NE(flags & flag, 0);
        };
        return detail{.what = what, .make = make, .check = kept};
    };
    // Another user's file (0666), FIFO (with a reader, or "lonely") or device (null's),
    // in a sticky folder of mode, with the kernel's guards at levels.
    const auto sticky = [&](const char* levels, mode_t mode, std::string_view kind = "file") {
        return [=, this] {
            for (std::size_t i = guards.size(); i < 2; ++i) {
                const bytes level = test::read_file(guard_settings[i]);
                guards += level.empty() ? '\0' : static_cast<char>(level[0]);
            }
            if (geteuid() != 0 || !set_guards(guards)) {
                guards.clear();
                return lack("root, to set the kernel's guards");
            }
            std::string theirs = placed("sticky/theirs.bin", 0666, mode);
            const mode_t type = (kind == "device" ? S_IFCHR : S_IFIFO) | 0666;
            EXPECT_TRUE(kind == "file" ||
                        (unlink(theirs.c_str()) |
                         mknod(theirs.c_str(), type, status("/dev/null").st_rdev)) == 0);
            EXPECT_EQ(chown(theirs.c_str(), 1234, 1234), 0);
            if (kind == "fifo") held = open(theirs.c_str(), O_RDONLY | O_NONBLOCK);
            EXPECT_TRUE(set_guards(levels));
            return theirs;
        };
    };
#endif
    // A table, a row a case, its fields named (GCC warns of those left to their defaults).
    // clang-format off
    const std::vector<detail> details = {
        {.what = "a file's mode, kept", .make = [&] { return old_out(04604); }, .replaced = true},
        {.what = "root's file, of another group",
         .make = [&] { return placed("out.bin", 0640, 0, 0, 1235); }, .replaced = true},
        {.what = "a relative new name, 0666 less the umask", .make = [] { return "new.bin"; },
         .enter = [&] { umask(027); return chdir(dir.path().c_str()) == 0; }},
        {.what = "a second hard link, both names one file, emptied by a failed write",
         .make = [&] { fs::create_hard_link(old_out(), dir.file("link.bin")); return out; },
         .check = [&](const std::string& path) {
             EXPECT_EQ(write(path, moment::fsync), write_outcome::write_failed);
             EXPECT_EQ(status(path).st_ino, status(dir.file("link.bin")).st_ino);
             EXPECT_EQ(test::read_file(dir.file("link.bin")), bytes{});
             EXPECT_EQ(names(), (std::vector<std::string>{"link.bin", "out.bin"}));
         }},
        {.what = "another user's file, replaced by root with its owner, group and mode",
         .make = [&] { return placed("out.bin", 0640, 0, 1234, 1235); }, .replaced = true},
        {.what = "a hidden name already taken, drawn again",
         .make = [&] { save(dir.file(taken_name), someone_elses); return turned(draw_taken_name); },
         .replaced = true,
         .check = [&](const std::string&) {
             EXPECT_FALSE(draw_taken_name) << "the name was never drawn";
             EXPECT_EQ(test::read_file(dir.file(taken_name)), someone_elses);
         }},
        {.what = "no random numbers to draw the hidden name with",
         .make = [&] { return turned(no_random); }, .replaced = true},
        {.what = "nor for a new file", .make = [&] { turned(no_random); return new_out(); }},
        {.what = "a mode a new file cannot be given (fchmod refused)",
         .make = [&] { return turned(chmod_refused); }},
        // What a user other than root writes as "wb" would: where a new file
        // would change whose the file is, it is written in place.
        {.what = "another user's writable file in a folder where no file can be made",
         .make = shared_file(0555), .check = emptied, .enter = another_user(dir.file("folder"))},
        {.what = "another user's writable file in a folder open to all",
         .make = shared_file(0777), .check = emptied, .enter = another_user(dir.file("folder"))},
        {.what = "a file reached through /dev/fd/N in a folder the writer cannot search",
         .make = held_in("private"), .enter = another_user()},
        {.what = "nor search its own folder, which it can open", .make = held_in("private/hidden"),
         .enter = another_user()},
        {.what = "a file in the root folder",
         .make = [&] { return old_out().empty() ? "" : std::string{"/out.bin"}; }, .replaced = true,
         .enter = [&] { return chroot(dir.path().c_str()) == 0; }, .needs = "root, for chroot"},
        {.what = "a file-size limit of half the bytes", .make = old_out, .enter = [] {
             const rlimit half{1024, 1024};
             return std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &half) == 0;
         }},
        {.what = "a new file by an absolute path, from a working folder the writer cannot search",
         .make = closed_world("new.bin"), .replaced = true, .enter = another_user(closed)},
        {.what = "the writer's own old file by an absolute path from there",
         .make = closed_world("old.bin"), .replaced = true, .enter = another_user(closed)},
        // Where a rename cannot put the new file in the old one's place, the
        // old one is written through the descriptor.
        {.what = "a file bind-mounted over the name, as into a container", .make = old_out,
         .enter = bind_mounted, .needs = mounts},
        {.what = "no /proc: an old file replaced", .make = old_out, .replaced = true,
         .enter = no_proc, .needs = mounts},
        {.what = "no /proc: a new file made", .make = new_out, .enter = no_proc, .needs = mounts},
        {.what = "a file owned outside a user namespace, whose owner a new file cannot be given",
         .make = [&] { return placed("open/theirs.bin", 0666, 0777, 1234, 1234); },
         .enter = own_users, .needs = "a user namespace"},
        {.what = "a link whose text is one character", .make = linked("out.bin"), .replaced = true,
         .check = still_a_link},
        {.what = "a chain of links whose texts grow shorter", .make = linked("chain"),
         .replaced = true, .check = still_a_link},
        {.what = "a name of 255 bytes, made and then replaced",
         .make = [&] { return dir.file(std::string(255, 'n')); }, .replaced = true,
         .check = [&](const std::string& path) { EXPECT_EQ(write(path, moment::none), written); }},
        {.what = "a name of 256 bytes", .make = [&] { return dir.file(std::string(256, 'n')); }},
        {.what = "a path one byte short of PATH_MAX", .make = longest_path, .replaced = true,
         .check = [](const std::string& path) { EXPECT_EQ(path.size(), PATH_MAX - 1U); }},
        {.what = "a path past PATH_MAX", .make = [&] { return longest_path() + "/x"; }},
        {.what = "a running program", .make = a_running_program},
#if !defined(GLYPHOR_PORTABLE)  // the attributes, flags, projects and guards are Linux's
        {.what = "a file system that lists no attributes (ENOTSUP)",
         .make = [&] { return turned(listing_unsupported); }, .replaced = true},
        {.what = "a file's ACL and attribute", .make = [&] { return with_acls("out.bin"); }},
        {.what = "a file given its folder's default ACL, whose replacement gains no more",
         .make = [&] { return with_acls("shared/old.bin"); }, .replaced = true},
        {.what = "a file without the ACL its folder gives new files",
         .make = [&] { return with_acls("shared/bare.bin"); }},
        {.what = "a file whose ACL was changed since",
         .make = [&] { return with_acls("shared/limited.bin"); }},
        {.what = "a new file there, given the default ACL as \"wb\" gives it",
         .make = [&] { return with_acls("shared/new.bin"); }, .replaced = true,
         .check = [](const std::string& path) {
             EXPECT_EQ(attributes(path).count("system.posix_acl_access"), 1U);
         }},
        {.what = "an append-only file", .make = [&] { return append_only("old.bin"); }},
        {.what = "a file in an immutable folder, where no file can be made", .make = [&] {
             const std::string old = placed("fixed/old.bin", 0);
             return set_flag(dir.file("fixed"), FS_IMMUTABLE_FL) ? old : lack(chattr);
         }},
        {.what = "new files in an append-only folder, made without a hidden name, and flushed",
         .make = [&] { return append_only("new.bin"); }, .replaced = true,
         .check = [&](const std::string& path) {
             EXPECT_EQ(write(path, moment::none), written);
             EXPECT_EQ(write(dir.file("log/more.bin"), moment::fsync), write_outcome::write_failed);
             EXPECT_EQ(names(dir.file("log")),
                       (std::vector<std::string>{"more.bin", "new.bin", "old.bin"}));
         }, .enter = [] { umask(0); return true; }},
        flag_row("no-dump", FS_NODUMP_FL),
        flag_row("no access times (+A)", FS_NOATIME_FL),
        flag_row("synchronous (+S)", FS_SYNC_FL),
        flag_row("secure deletion (+s)", FS_SECRM_FL),
        flag_row("undeletable (+u)", FS_UNRM_FL),
        {.what = "a file whose XFS project a new file would not have", .make = on_disk,
         .check = [](const std::string& path) {
             EXPECT_TRUE(shell("xfs_io -c lsproj " + path + " | grep -q '= 42$'"));
         }, .enter = full_disk("truncate -s 300M $d.img && mkfs.xfs -q $d.img && mount $d.img $d" +
                               old_2k + " && xfs_io -c 'chproj 42' $d/out.bin"
                               " && xfs_io -c 'chproj 7' -c 'chattr +P' $d", 0), .needs = disks},
        {.what = "a file of the console's number on another disk", .make = on_disk,
         .replaced = true, .enter = [&] {
             const std::string log = dir.file("disk.c/log");
             return full_disk(tmpfs + ",inode64 x $d" + old_2k + " && mkdir $d.c && " + tmpfs +
                              ",inode64 y $d.c && echo >$d.c/log", 0)() &&
                    status(log).st_ino == status(on_disk()).st_ino &&
                    (console = std::fopen(log.c_str(), "a")) != nullptr;
         }, .needs = disks},
        // The kernel's guards of sticky folders (fs.protected_regular and
        // fs.protected_fifos, set for the row and put back after it) judge
        // another user's file, FIFO or device as they judge "wb".
        {.what = "guards off", .make = sticky("00", 01777), .replaced = true},
        {.what = "a folder open to all", .make = sticky("11", 01777), .replaced = true},
        {.what = "a group's folder", .make = sticky("11", 01770), .replaced = true},
        {.what = "a group's folder, guarded", .make = sticky("22", 01770), .replaced = true},
        {.what = "a FIFO, guarded", .make = sticky("11", 01777, "fifo")},
        {.what = "a FIFO, files guarded", .make = sticky("10", 01777, "fifo")},
        {.what = "a FIFO without a reader, guarded", .make = sticky("11", 01777, "lonely")},
        {.what = "a device, guards off", .make = sticky("00", 01777, "device")},
        {.what = "a plain user's namespace, where every owner reads as 65534",
         .make = [&] { return sticky("11", 01777)().empty() ? "" : std::string{"theirs.bin"}; },
         .enter = [&] { return another_user(dir.file("sticky"))() && own_users(); },
         .needs = "a user namespace"},
        // A disk full of bytes or of files: the old file is written in place
        // where "wb" would write it, and kept where "wb" would fail.
        {.what = "a full disk, the old file's blocks enough", .make = on_disk,
         .enter = full_disk(tmpfs + " x $d" + old_2k, 'b'), .needs = disks},
        {.what = "no file left to make, the old file's blocks enough", .make = on_disk,
         .enter = full_disk(tmpfs + ",nr_inodes=8 x $d" + old_2k, 'f'), .needs = disks},
        {.what = "no file left to make, an empty old file", .make = on_disk,
         .enter = full_disk(tmpfs + ",nr_inodes=8 x $d && touch $d/out.bin", 'f'), .needs = disks},
        {.what = "a full disk, an old file without blocks", .make = on_disk,
         .enter = full_disk(tmpfs + " x $d && touch $d/out.bin", 'b'), .needs = disks},
        {.what = "1 KiB blocks, an old file of one and one free", .make = on_disk,
         .enter = full_disk(ext4_1k, 's'), .needs = disks},
        {.what = "1 KiB blocks, an old file of one and none free", .make = on_disk,
         .enter = full_disk(ext4_1k, 'b'), .needs = disks},
#endif
    };
    // clang-format on
    for (const detail& row : details) {
        SCOPED_TRACE(row.what);
        // Made twice: "wb" runs on the first set-up, write_file on the second.
        clear();
        const std::string path = row.make();
        if (path.empty()) continue;
        const int wb = in_child(row.enter, [&] { return static_cast<int>(as_wb(path)); });
        clear();
        EXPECT_EQ(row.make(), path);
        const int result = wb < 0 || wb == 99 ? wb : in_child(row.enter, [&] {
            struct stat before {};
            const bool existed = stat(path.c_str(), &before) == 0;
            const bool regular = !existed || S_ISREG(before.st_mode);
            const bytes old = existed && regular ? test::read_file(path) : bytes{};
            const auto old_attributes = attributes(path);
            // The folder it is in, if it is the test's: not /dev/fd.
            const fs::path folder =
                fs::path(path).has_parent_path() ? fs::path(path).parent_path() : ".";
            const bool listed = path.rfind("/dev/", 0) != 0 && fs::is_directory(folder);
            const auto names_before = listed ? names(folder) : std::vector<std::string>{};
            const auto expected = static_cast<write_outcome>(wb);
            EXPECT_EQ(write(path, moment::none), expected);
            if (regular && (existed || expected == written)) {
                EXPECT_EQ(test::read_file(path), expected == written ? new_charset : old);
            }
            const mode_t mask = umask(0);
            umask(mask);
            if (!existed && expected == written && attributes(folder).empty()) {  // no default ACL
                EXPECT_EQ(status(path).st_mode & 07777, 0666 & ~mask);
            }
            if (existed && regular) {
                const struct stat after = status(path);
                EXPECT_EQ(after.st_ino != before.st_ino, row.replaced && expected == written);
                EXPECT_EQ(after.st_uid, before.st_uid);
                EXPECT_EQ(after.st_gid, before.st_gid);
                EXPECT_EQ(after.st_mode, before.st_mode);
                EXPECT_EQ(attributes(path), old_attributes);
            }
            if (listed) {  // the new file, if any, read above
                std::vector<std::string> now = names(folder);
                if (!existed) std::erase(now, fs::path(path).filename().string());
                EXPECT_EQ(now, names_before);
            }
            if (row.check) row.check(path);
            return 0;
        });
        EXPECT_TRUE(result == 0 || (result == 99 && lack(row.needs).empty())) << result;
    }
    if (!lacking.empty()) LEAVE_OUT(lacking);
}

// A name that turns to another file between its opening and its replacing
// is opened again: a save renamed over it gets the bytes, while a reader of
// the old file keeps it whole; a file no name holds (by /dev/fd/N) is never
// written, nor the console's own file when the name turns into it, nor a
// closed standard input.
TEST_F(write_path, a_name_that_turns_is_opened_again) {
    const std::string log = dir.file("log.txt"), theirs = dir.file("theirs.tmp");
    for (const std::string& file : {log, theirs}) save(file, someone_elses);
    save(out, old_charset);
    const file_handle old{std::fopen(out.c_str(), "rb")}, text{std::fopen(log.c_str(), "a")};
    const std::string nameless = "/dev/fd/" + std::to_string(fileno(old.get()));
    const auto turn = [&] { fs::rename(theirs, out); };
    EXPECT_EQ(write(out, moment::look_up, turn), write_outcome::written);
    EXPECT_EQ(test::read_file(out), new_charset);
    EXPECT_EQ(write(nameless, moment::none), write_outcome::create_failed);
    EXPECT_EQ(test::read_file(nameless), old_charset);
    // Nor one whose folder is gone too.
    const file_handle lost{std::fopen(placed("gone/x.bin", 0).c_str(), "rb")};
    fs::remove_all(dir.file("gone"));
    EXPECT_EQ(write("/dev/fd/" + std::to_string(fileno(lost.get())), moment::none),
              write_outcome::create_failed);
    console = text.get();
    fs::create_hard_link(log, theirs);
    EXPECT_EQ(write(out, moment::look_up, turn), write_outcome::create_failed);
    EXPECT_EQ(test::read_file(log), someone_elses);
    // Nor /dev/stdin, standard input closed: held for the output not to take
    // its number, it still leads to no file, as for "wb".
    const auto closed_input = [&] {
        const write_outcome wb = close(0) == 0 ? as_wb("/dev/stdin") : write_outcome::written;
        hold_closed_standard_descriptors();
        return fcntl(0, F_GETFD) == 0 && write("/dev/stdin", moment::none) == wb ? 0 : 1;
    };
    EXPECT_EQ(in_child({}, closed_input), 0);
}

// The console's terminal is refused by each of its names: its own device
// (not the controlling terminal), and /dev/fd/N and /dev/tty of the
// controlling terminal of a new session.
TEST_F(write_path, the_consoles_terminal_is_refused_by_any_name) {
    const file_handle master{fdopen(posix_openpt(O_RDWR | O_NOCTTY), "r+")};
    const int pty = master ? fileno(master.get()) : -1;
    const char* device =
        pty < 0 || grantpt(pty) != 0 || unlockpt(pty) != 0 ? nullptr : ptsname(pty);
    if (device == nullptr) LEAVE_OUT("needs a pseudo-terminal (/dev/pts)");
    for (const int by : {0, 1, 2, 3, 4}) {  // 3, 4: written as "wb" writes them
        SCOPED_TRACE(by);
        const int outcome = in_child({}, [&] {
            const int terminal = ioctl(pty, TIOCGPTPEER, O_RDWR);
            std::FILE* const text = fdopen(terminal, "w");
            const int other = posix_openpt(O_RDWR | O_NOCTTY);  // not the console's
            if (text == nullptr || other < 0 || grantpt(other) != 0 || unlockpt(other) != 0 ||
                (by > 0 && (setsid() < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0))) {
                return 99;
            }
            console = by == 4 ? stdout : text;  // the controlling terminal, the console elsewhere
            const std::string names[] = {device, "/dev/fd/" + std::to_string(terminal), "/dev/tty",
                                         ptsname(other), "/dev/tty"};  // device's buffer, reused
            return static_cast<int>(write(names[by], moment::none));
        });
        EXPECT_EQ(outcome, static_cast<int>(by >= 3 ? write_outcome::written
                                                    : write_outcome::create_failed));
    }
}

}  // namespace
}  // namespace glyphor
