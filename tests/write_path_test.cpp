// The write path at the moments a failure can strike it, and the files a
// rename would change. The program's calls to write, fsync, renameat and
// fstatat are wrapped at link time (-Wl,--wrap): once armed, the chosen call
// fails, or another program's doing is run at that very moment, as a second
// process could.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
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
// The attribute listing answers ENOTSUP, as FUSE's FAT does, and counts its calls.
bool listing_unsupported = false;
int listings = 0;
// The next draw of the hidden name is all zeros, a taken name; or no random
// numbers at all, as on a kernel without getrandom or behind a filter.
bool draw_taken_name = false;
bool no_random = false;

// True when this call is the armed one: it then runs the doing, disarmed.
bool strikes(moment now) {
    if (armed != now) return false;
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
extern "C" {
ssize_t __real_write(int file, const void* bytes, std::size_t size);
int __real_fsync(int file);
int __real_renameat(int from_folder, const char* from, int to_folder, const char* to);
int __real_fstatat64(int folder, const char* name, struct stat* found, int flags);
ssize_t __real_flistxattr(int file, char* names, std::size_t size);
ssize_t __real_getrandom(void* bytes, std::size_t size, unsigned flags);
void __real_arc4random_buf(void* bytes, std::size_t size);
ssize_t __wrap_write(int file, const void* bytes, std::size_t size);
int __wrap_fsync(int file);
int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to);
int __wrap_fstatat64(int folder, const char* name, struct stat* found, int flags);
ssize_t __wrap_flistxattr(int file, char* names, std::size_t size);
ssize_t __wrap_getrandom(void* bytes, std::size_t size, unsigned flags);
void __wrap_arc4random_buf(void* bytes, std::size_t size);

ssize_t __wrap_write(int file, const void* bytes, std::size_t size) {
    if (strikes(moment::write)) return -1;
    const ssize_t wrote = __real_write(file, bytes, size);
    written = written || wrote > 0;
    return wrote;
}

int __wrap_fsync(int file) {
    if (written && strikes(moment::fsync)) return -1;
    return __real_fsync(file);
}

int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to) {
    if (strikes(moment::rename)) return -1;
    return __real_renameat(from_folder, from, to_folder, to);
}

// Looking the name up after it was opened: the doing runs, the call does not fail.
int __wrap_fstatat64(int folder, const char* name, struct stat* found, int flags) {
    if (armed == moment::look_up) {
        armed = moment::none;
        meanwhile();
    }
    return __real_fstatat64(folder, name, found, flags);
}

ssize_t __wrap_flistxattr(int file, char* names, std::size_t size) {
    ++listings;
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

struct write_path : ::testing::Test {
    test::temp_dir dir;
    std::string out = dir.file("out.bin");
    std::FILE* console = nullptr;  // the file the program's text goes to

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
    void save(const std::string& path, const bytes& content) const {
        ASSERT_TRUE(write_file_bytes(path.c_str(), content));
    }
    // The names in folder (the test's own by default), sorted.
    std::vector<std::string> names(const std::string& folder = {}) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder.empty() ? dir.path() : folder)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    static ino_t inode(const std::string& path) {
        struct stat found {};
        EXPECT_EQ(stat(path.c_str(), &found), 0) << path;
        return found.st_ino;
    }
};

// Whichever call fails, the old charset stays as it was, the same file, and
// nothing else is left in the folder; another program's save under the name
// at that moment (a new file renamed over it) is kept, not removed.
TEST_F(write_path, a_failure_at_any_moment_keeps_the_old_file_and_anyone_elses) {
    for (const moment when : {moment::write, moment::fsync, moment::rename}) {
        SCOPED_TRACE(static_cast<int>(when));
        save(out, old_charset);
        const ino_t old_inode = inode(out);
        EXPECT_EQ(write(out, when), write_outcome::write_failed);
        EXPECT_EQ(test::read_file(out), old_charset);
        EXPECT_EQ(inode(out), old_inode);
        EXPECT_EQ(names(), std::vector<std::string>{"out.bin"});

        EXPECT_EQ(write(out, when,
                        [&] {
                            save(dir.file("theirs.tmp"), someone_elses);
                            fs::rename(dir.file("theirs.tmp"), out);
                        }),
                  write_outcome::write_failed);
        EXPECT_EQ(test::read_file(out), someone_elses);
        EXPECT_EQ(names(), std::vector<std::string>{"out.bin"});
        fs::remove(out);
        // And where there was no file, none appears.
        EXPECT_EQ(write(out, when == moment::rename ? moment::write : when),
                  write_outcome::write_failed);
        EXPECT_TRUE(names().empty());
    }
}

// Runs body in a child process (to give up rights or enter namespaces) and
// returns what it returned, or -1 when it did not end normally.
int in_child(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The same in folder (entered first: the test's folder is root's) as user
// 65534 when the test runs as root; 99 when that cannot be.
int as_another_user(const std::string& folder, const std::function<int()>& body) {
    return in_child([&] {
        if ((!folder.empty() && chdir(folder.c_str()) != 0) ||
            (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))) {
            return 99;
        }
        return body();
    });
}

// The same with mounts of the child's own; 99 where the machine refuses them:
// a container the namespace (EPERM), a chroot a private "/" (EINVAL).
int with_own_mounts(const std::function<int()>& body) {
    return in_child([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return 99;
        }
        return body();
    });
}

// What a user other than root writes. Where a new file would change whose
// the file is, the file is written in place, and emptied when that fails: a
// writable file of another user's in a folder where no file can be made, or
// in a folder open to all (another user's file can be written, not given to
// its owner). A file reached through /dev/fd/N in a folder the writer cannot
// search is written, and from a working folder the writer cannot search an
// absolute path is created and replaced, as "wb" would.
TEST_F(write_path, another_user_writes_what_wb_would) {
    const bool root = geteuid() == 0;
    for (const mode_t folder_mode : {0555U, 0777U}) {
        if (folder_mode == 0777U && !root) continue;  // the file would be the writer's own
        SCOPED_TRACE(folder_mode);
        const std::string folder = dir.file("folder");
        const std::string file = folder + "/out.bin";
        fs::create_directory(folder);
        save(file, old_charset);
        ASSERT_EQ(chmod(file.c_str(), 0666), 0);
        ASSERT_EQ(chmod(folder.c_str(), folder_mode), 0);
        const ino_t old_inode = inode(file);
        for (const moment when : {moment::none, moment::write}) {
            EXPECT_EQ(
                as_another_user(folder, [&] { return static_cast<int>(write("out.bin", when)); }),
                static_cast<int>(when == moment::none ? write_outcome::written
                                                      : write_outcome::write_failed));
            EXPECT_EQ(test::read_file(file), when == moment::none ? new_charset : bytes{});
            EXPECT_EQ(inode(file), old_inode);
        }
        chmod(folder.c_str(), 0755);
        fs::remove_all(folder);
    }
    // A file reached through /dev/fd/N in a folder the writer cannot search.
    const std::string hidden = dir.file("private/hidden");
    fs::create_directories(hidden);
    save(hidden + "/out.bin", old_charset);
    ASSERT_EQ(chmod((hidden + "/out.bin").c_str(), 0666), 0);
    const int file = open((hidden + "/out.bin").c_str(), O_RDWR);  // open before it is closed
    ASSERT_EQ(chmod(dir.file("private").c_str(), 0), 0);
    EXPECT_EQ(as_another_user({},
                              [&] {
                                  return static_cast<int>(
                                      write("/dev/fd/" + std::to_string(file), moment::none));
                              }),
              static_cast<int>(write_outcome::written));
    close(file);
    ASSERT_EQ(chmod(dir.file("private").c_str(), 0755), 0);
    EXPECT_EQ(test::read_file(hidden + "/out.bin"), new_charset);
    if (!root) GTEST_SKIP() << "needs root, to be another user in a closed working folder";
    const std::string closed = dir.file("closed");
    const std::string open_folder = dir.file("open");
    const std::string old_file = open_folder + "/old.bin";
    fs::create_directory(closed);
    fs::create_directory(open_folder);
    save(old_file, old_charset);
    ASSERT_EQ(chmod(dir.path().c_str(), 0711) | chmod(closed.c_str(), 0700) |
                  chmod(open_folder.c_str(), 0777) | chown(old_file.c_str(), 65534, 65534),
              0);
    const ino_t old_inode = inode(old_file);
    EXPECT_EQ(as_another_user(
                  closed,
                  [&] {
                      return static_cast<int>(write(open_folder + "/new.bin", moment::none)) * 10 +
                             static_cast<int>(write(old_file, moment::none));
                  }),
              0);
    EXPECT_EQ(test::read_file(open_folder + "/new.bin"), new_charset);
    EXPECT_EQ(test::read_file(old_file), new_charset);
    EXPECT_NE(inode(old_file), old_inode) << "replaced, not written in place";
}

#if !defined(GLYPHOR_PORTABLE)  // a portable build reads no attributes or flags, as on the BSDs
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

// An ACL as the kernel stores it: the owner, user 65534 and the group may
// read and write, others nothing.
std::string acl_for_nobody() {
    std::string acl = {2, 0, 0, 0};  // version 2, little-endian like each entry
    auto add = [&](unsigned tag, unsigned perm, std::uint32_t id) {
        for (const unsigned byte :
             {tag, 0U, perm, 0U, id & 0xFFU, (id >> 8U) & 0xFFU, (id >> 16U) & 0xFFU, id >> 24U}) {
            acl += static_cast<char>(byte);
        }
    };
    add(0x01, 6, 0xFFFFFFFFU);  // the owner
    add(0x02, 6, 65534);        // user 65534
    add(0x04, 6, 0xFFFFFFFFU);  // the group
    add(0x10, 6, 0xFFFFFFFFU);  // the mask
    add(0x20, 0, 0xFFFFFFFFU);  // others
    return acl;
}

// A replaced file keeps its ACL and its attributes, and gains none from its
// folder's default ACL, also where its ACL was changed after the default gave
// it one (setfacl -m u:nobody:r, then written in place); a new file gets that
// default ACL, as "wb" gives it.
TEST_F(write_path, a_files_acl_and_attributes_are_kept_and_a_default_acl_adds_none) {
    const std::string acl = acl_for_nobody();
    std::string limited = acl;  // then user 65534 may only read
    limited[14] = 4;
    const std::string folder = dir.file("shared");
    fs::create_directory(folder);
    save(out, old_charset);
    if (setxattr(out.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0 ||
        setxattr(out.c_str(), "user.note", "mine", 4, 0) != 0 ||
        setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
        LEAVE_OUT("needs a file system that keeps ACLs and user attributes (ext4, XFS)");
    }
    save(folder + "/old.bin", old_charset);
    save(folder + "/limited.bin", old_charset);
    ASSERT_EQ(setxattr((folder + "/limited.bin").c_str(), "system.posix_acl_access", limited.data(),
                       limited.size(), 0),
              0);
    for (const std::string& path : {out, folder + "/old.bin", folder + "/limited.bin"}) {
        SCOPED_TRACE(path);
        const auto before = attributes(path);
        const ino_t old_inode = inode(path);
        EXPECT_EQ(write(path, moment::none), write_outcome::written);
        EXPECT_EQ(attributes(path), before);
        EXPECT_EQ(test::read_file(path), new_charset);
        if (path == folder + "/limited.bin") {
            EXPECT_EQ(inode(path), old_inode);
        }
    }
    EXPECT_EQ(write(folder + "/new.bin", moment::none), write_outcome::written);
    EXPECT_EQ(attributes(folder + "/new.bin").count("system.posix_acl_access"), 1U);
    EXPECT_EQ(names(), (std::vector<std::string>{"out.bin", "shared"}));
}

#endif

// Where a rename cannot put the new file in the old one's place, the old one
// is written through the descriptor: a file bind-mounted over the name (as
// into a container), and a file owned outside a user namespace, whose owner
// a new file cannot be given. Without /proc a new file and an old one are
// made and replaced all the same.
TEST_F(write_path, a_bind_mount_a_user_namespace_and_no_proc_are_written) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, for mount and user namespaces";
    std::string lacking;  // what the machine did not give, left out
    const std::string host = dir.file("host.bin");
    save(host, old_charset);
    save(out, old_charset);
    const ino_t host_inode = inode(host);
    const int mounted = with_own_mounts([&] {
        if (mount(host.c_str(), out.c_str(), nullptr, MS_BIND, nullptr) != 0) return 99;
        if (write(out, moment::none) != write_outcome::written) return 1;
        if (umount2(out.c_str(), 0) != 0 || umount2("/proc", MNT_DETACH) != 0) return 98;
        if (write(out, moment::none) != write_outcome::written) return 2;
        return write(dir.file("new.bin"), moment::none) == write_outcome::written ? 0 : 3;
    });
    if (mounted >= 98) {
        lacking = "a mount namespace and a private / (CAP_SYS_ADMIN, no chroot)";
    } else {
        EXPECT_EQ(mounted, 0);
        EXPECT_EQ(test::read_file(host), new_charset);
        EXPECT_EQ(inode(host), host_inode);
        EXPECT_EQ(test::read_file(out), new_charset);
        EXPECT_EQ(test::read_file(dir.file("new.bin")), new_charset);
    }

    // A 0666 file of user 1234's, reached from a namespace where root is
    // this user and 1234 has no number (unshare -r).
    const std::string open_folder = dir.file("open");
    const std::string theirs = open_folder + "/theirs.bin";
    fs::create_directory(open_folder);
    save(theirs, old_charset);
    ASSERT_EQ(chmod(open_folder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0666), 0);
    ASSERT_EQ(chown(theirs.c_str(), 1234, 1234), 0);
    const ino_t their_inode = inode(theirs);
    const int mapped = in_child([&] {
        if (unshare(CLONE_NEWUSER) != 0) return 99;
        const auto put = [](const char* file, const char* text) {
            const int to = open(file, O_WRONLY);
            const bool done = to >= 0 && ::write(to, text, std::strlen(text)) > 0;
            if (to >= 0) close(to);
            return done;
        };
        if (!put("/proc/self/setgroups", "deny") || !put("/proc/self/uid_map", "0 0 1") ||
            !put("/proc/self/gid_map", "0 0 1")) {
            return 98;
        }
        return write(theirs, moment::none) == write_outcome::written ? 0 : 1;
    });
    if (mapped >= 98) {
        lacking += (lacking.empty() ? "" : ", and ") + std::string{"a user namespace"};
    } else {
        EXPECT_EQ(mapped, 0);
        struct stat found {};
        ASSERT_EQ(stat(theirs.c_str(), &found), 0);
        EXPECT_EQ(found.st_ino, their_inode);
        EXPECT_EQ(found.st_uid, 1234U);
        EXPECT_EQ(test::read_file(theirs), new_charset);
    }
    if (!lacking.empty()) LEAVE_OUT("needs " + lacking);
}

#if !defined(GLYPHOR_PORTABLE)
// A file's flags as chattr sets them, cleared again at the end of the test.
struct flagged {
    std::string path;
    bool set = false;
    flagged(std::string where, int flag) : path{std::move(where)} {
        const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        int flags = flag;
        set = file >= 0 && ioctl(file, FS_IOC_SETFLAGS, &flags) == 0;
        if (file >= 0) close(file);
    }
    ~flagged() {
        if (!set) return;
        const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        int flags = 0;
        if (file >= 0) {
            ioctl(file, FS_IOC_SETFLAGS, &flags);
            close(file);
        }
    }
    flagged(const flagged&) = delete;
    flagged& operator=(const flagged&) = delete;
};

// In an append-only folder no name can be removed, so no temporary is made:
// new files are made and old ones written in place, and nothing is left. An
// append-only file is refused, as "wb" refuses it. A file with a flag that a
// new file would not have is written in place and keeps it: no-dump, and the
// flags statx does not tell (+A, +S, +s, +u), tried where they can be set.
TEST_F(write_path, an_append_only_folder_gets_no_temporary_and_an_append_only_file_is_refused) {
    const std::string folder = dir.file("log");
    fs::create_directory(folder);
    save(folder + "/old.bin", old_charset);
    const flagged append_only_file{folder + "/old.bin", FS_APPEND_FL};
    const flagged append_only_folder{folder, FS_APPEND_FL};
    save(out, old_charset);
    const char* const lacking =
        "needs root with CAP_LINUX_IMMUTABLE, on a file system with chattr's flags (ext4, XFS)";
    if (!append_only_file.set || !append_only_folder.set) LEAVE_OUT(lacking);
    for (const int flag : {FS_NODUMP_FL, FS_NOATIME_FL, FS_SYNC_FL, FS_SECRM_FL, FS_UNRM_FL}) {
        SCOPED_TRACE(flag);
        const flagged with{out, flag};
        if (!with.set && flag == FS_NODUMP_FL) LEAVE_OUT(lacking);
        if (!with.set) {
            std::printf("chattr's flag %#x cannot be set here: not tried\n", flag);
            continue;
        }
        const ino_t old_inode = inode(out);
        EXPECT_EQ(write(out, moment::none), write_outcome::written);
        EXPECT_EQ(inode(out), old_inode);
        EXPECT_EQ(test::read_file(out), new_charset);
        const int file = open(out.c_str(), O_RDONLY);
        int flags = 0;
        EXPECT_EQ(ioctl(file, FS_IOC_GETFLAGS, &flags), 0);
        close(file);
        EXPECT_NE(flags & flag, 0);
    }

    EXPECT_EQ(write(folder + "/old.bin", moment::none), write_outcome::create_failed);
    EXPECT_EQ(test::read_file(folder + "/old.bin"), old_charset);
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(write(folder + "/new.bin", moment::none), write_outcome::written);
    }
    EXPECT_EQ(test::read_file(folder + "/new.bin"), new_charset);
    EXPECT_EQ(names(folder), (std::vector<std::string>{"new.bin", "old.bin"}));
}

#endif

// A running program is kept or refused exactly as opening it for writing
// keeps or refuses it.
TEST_F(write_path, a_running_program_is_what_opening_it_gives) {
    const std::string program = dir.file("busy");
    fs::copy_file("/bin/sleep", program);
    ASSERT_EQ(chmod(program.c_str(), 0755), 0);
    int started[2] = {-1, -1};
    ASSERT_EQ(pipe2(started, O_CLOEXEC), 0);
    const pid_t running = fork();
    if (running == 0) {
        execl(program.c_str(), program.c_str(), "30", nullptr);
        _exit(127);
    }
    close(started[1]);
    char ignored = 0;
    static_cast<void>(::read(started[0], &ignored, 1));  // at exec, the pipe closes
    close(started[0]);
    const int probe = open(program.c_str(), O_WRONLY);
    const bool busy = probe < 0 && errno == ETXTBSY;
    if (probe >= 0) close(probe);
    const std::vector<std::uint8_t> before = test::read_file(program);
    EXPECT_EQ(write(program, moment::none),
              busy ? write_outcome::create_failed : write_outcome::written);
    EXPECT_EQ(test::read_file(program) == before, busy);
    kill(running, SIGKILL);
    waitpid(running, nullptr, 0);
}

// The console's own file is refused, and stays untouched when the output
// name becomes a link to it between the opening and the replacing.
TEST_F(write_path, the_console_file_is_never_written_even_when_the_name_turns_into_it) {
    const std::string log = dir.file("log.txt");
    save(log, someone_elses);
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> text{std::fopen(log.c_str(), "a"),
                                                               &std::fclose};
    ASSERT_NE(text, nullptr);
    console = text.get();
    fs::create_hard_link(log, out);
    EXPECT_EQ(write(out, moment::none), write_outcome::create_failed);
    fs::remove(out);
    save(out, old_charset);
    EXPECT_EQ(write(out, moment::look_up,
                    [&] {
                        fs::remove(out);
                        fs::create_hard_link(log, out);
                    }),
              write_outcome::written);
    EXPECT_EQ(test::read_file(log), someone_elses);
}

// Names at their limits: a link whose text is one character, a chain of
// links whose texts grow shorter, a name of 255 bytes, a path one byte short
// of PATH_MAX, and one past it, which "wb" refuses too.
TEST_F(write_path, links_and_names_at_their_limits) {
    save(dir.file("a"), old_charset);
    fs::create_symlink("a", out);
    fs::create_symlink("out.bin", dir.file("chain"));
    for (const std::string& name : {out, dir.file("chain")}) {
        const ino_t before = inode(dir.file("a"));
        EXPECT_EQ(write(name, moment::none), write_outcome::written);
        EXPECT_EQ(test::read_file(dir.file("a")), new_charset);
        EXPECT_NE(inode(dir.file("a")), before) << "replaced, not written in place";
        EXPECT_TRUE(fs::is_symlink(name));
    }
    const std::string longest = dir.file(std::string(255, 'n'));
    EXPECT_EQ(write(longest, moment::none), write_outcome::written);
    EXPECT_EQ(write(longest, moment::none), write_outcome::written);
    EXPECT_EQ(write(longest + "n", moment::none), write_outcome::create_failed);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "chain", std::string(255, 'n'), "out.bin"}));

    std::string deep = dir.path();
    while (deep.size() + 1 + 200 < PATH_MAX - 1) deep += "/" + std::string(200, 'd');
    fs::create_directories(deep);
    const std::string just_fits = deep + "/" + std::string(PATH_MAX - 2 - deep.size(), 'f');
    ASSERT_EQ(just_fits.size(), static_cast<std::size_t>(PATH_MAX - 1));
    EXPECT_EQ(write(just_fits, moment::none), write_outcome::written);
    EXPECT_EQ(write(just_fits + "/x", moment::none), write_outcome::create_failed);
}

#if !defined(GLYPHOR_PORTABLE)  // the guards and flags are Linux's
// The kernel's guards of sticky folders (fs.protected_regular and
// fs.protected_fifos, set for the case and put back at once): another user's
// file or FIFO is refused exactly where "wb" is refused, and stays as it was.
TEST_F(write_path, a_sticky_folders_guards_refuse_what_wb_refuses) {
    const char* const settings[] = {"/proc/sys/fs/protected_regular",
                                    "/proc/sys/fs/protected_fifos"};
    const auto set = [&](const std::string& levels) {
        for (std::size_t i = 0; i < 2; ++i) {
            std::FILE* file = std::fopen(settings[i], "w");
            if (file != nullptr) std::fputc(levels[i], file);
            if (file == nullptr || std::fclose(file) != 0) return false;
        }
        return true;
    };
    std::string saved = "00";
    for (std::size_t i = 0; i < 2; ++i) {
        const std::vector<std::uint8_t> level = test::read_file(settings[i]);
        saved[i] = level.empty() ? '\0' : static_cast<char>(level[0]);
    }
    if (geteuid() != 0 || !set(saved)) GTEST_SKIP() << "needs root, to set the kernel's guards";
    struct guard_case {
        const char* levels;
        mode_t folder_mode;
        bool fifo;
    };
    for (const guard_case& row : {guard_case{"00", 01777, false},
                                  {"11", 01777, false},
                                  {"11", 01770, false},
                                  {"22", 01770, false},
                                  {"11", 01777, true},
                                  {"10", 01777, true}}) {
        SCOPED_TRACE(std::string(row.levels) + (row.fifo ? " fifo " : " file ") +
                     std::to_string(row.folder_mode));
        const std::string folder = dir.file("sticky");
        const std::string theirs = folder + "/theirs.bin";
        fs::create_directory(folder);
        ASSERT_EQ(chmod(folder.c_str(), row.folder_mode), 0);
        const auto make = [&] {
            fs::remove(theirs);
            if (row.fifo) return mkfifo(theirs.c_str(), 0666) == 0;
            return write_file_bytes(theirs.c_str(), old_charset);
        };
        ASSERT_TRUE(make());
        ASSERT_EQ(chown(theirs.c_str(), 1234, 1234), 0);
        const int reader = row.fifo ? open(theirs.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        ASSERT_TRUE(set(row.levels));
        std::FILE* const reference = std::fopen(theirs.c_str(), "wb");
        const bool refused = reference == nullptr;
        if (reference != nullptr) std::fclose(reference);
        const bool remade = row.fifo || (make() && chown(theirs.c_str(), 1234, 1234) == 0);
        const write_outcome outcome = write(theirs, moment::none);
        ASSERT_TRUE(set(saved));
        if (reader >= 0) close(reader);
        ASSERT_TRUE(remade);
        EXPECT_EQ(outcome, refused ? write_outcome::create_failed : write_outcome::written);
        if (!row.fifo) {
            EXPECT_EQ(test::read_file(theirs), refused ? old_charset : new_charset);
        }
        fs::remove_all(folder);
    }
}

// A disk full of bytes or of files: an old file whose own blocks hold the
// new bytes is written in place, as "wb" writes it; one whose blocks do not
// stays as it was. No new file is left either way.
TEST_F(write_path, a_full_disk_writes_in_place_what_the_old_files_blocks_hold) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root, to mount a small file system";
    struct full_case {
        const char* options;
        bool no_inode;  // else no byte
        std::size_t old_size;
        write_outcome expected;
    };
    for (const full_case& row : {full_case{"size=64k", false, 2048, write_outcome::written},
                                 {"size=64k,nr_inodes=8", true, 2048, write_outcome::written},
                                 {"size=64k", false, 0, write_outcome::write_failed}}) {
        SCOPED_TRACE(std::string(row.options) + " " + std::to_string(row.old_size));
        const std::string disk = dir.file("disk");
        const std::string file = disk + "/out.bin";
        fs::create_directory(disk);
        EXPECT_EQ(
            with_own_mounts([&] {
                if (mount("tmpfs", disk.c_str(), "tmpfs", 0, row.options) != 0) return 99;
                const bytes old(row.old_size, 0x5A);
                if (!write_file_bytes(file.c_str(), old)) return 98;
                const ino_t old_inode = inode(file);
                for (int made = 0; made < 100; ++made) {
                    const int filler =
                        open((disk + "/" + std::to_string(made)).c_str(), O_WRONLY | O_CREAT, 0600);
                    if (filler < 0) break;
                    while (!row.no_inode && __real_write(filler, old_charset.data(), 512) > 0) {
                    }
                    close(filler);
                }
                const std::vector<std::string> before = names(disk);
                if (write(file, moment::none) != row.expected) return 1;
                if (test::read_file(file) !=
                    (row.expected == write_outcome::written ? new_charset : old)) {
                    return 2;
                }
                return inode(file) == old_inode && names(disk) == before ? 0 : 3;
            }),
            0);
        fs::remove_all(disk);
    }
}

#endif

// A signal that ends the run, arriving while the new file is flushed, acts
// once the new file is gone: nothing is left behind.
TEST_F(write_path, a_signal_during_the_flush_acts_once_the_new_file_is_gone) {
    save(out, old_charset);
    for (const int signal : {SIGUSR1, SIGALRM, SIGTERM}) {
        SCOPED_TRACE(signal);
        EXPECT_EQ(in_child([&] {
                      static_cast<void>(write(out, moment::fsync, [&] { raise(signal); }));
                      return 0;
                  }),
                  -1);
        EXPECT_EQ(names(), std::vector<std::string>{"out.bin"});
        EXPECT_EQ(test::read_file(out), old_charset);
    }
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
    const std::string own_name = device;
    for (const int by : {0, 1, 2}) {
        SCOPED_TRACE(by);
        EXPECT_EQ(in_child([&] {
                      const int terminal = ioctl(pty, TIOCGPTPEER, O_RDWR);
                      std::FILE* const text = fdopen(terminal, "w");
                      if (text == nullptr ||
                          (by > 0 && (setsid() < 0 || ioctl(terminal, TIOCSCTTY, 0) != 0))) {
                          return 99;
                      }
                      console = text;
                      const std::string names[] = {own_name, "/dev/fd/" + std::to_string(terminal),
                                                   "/dev/tty"};
                      return static_cast<int>(write(names[by], moment::none));
                  }),
                  static_cast<int>(write_outcome::create_failed));
    }
}

// What a replacement turns on, one file each: made (its name returned, or
// what the machine lacks named), written, and checked.
TEST_F(write_path, what_a_replacement_turns_on) {
    struct detail {
        const char* what;
        std::function<std::string(std::string& lacking)> make;
        bool replaced;                                    // a new file, else the same one
        std::function<void(const std::string&)> check{};  // what else must hold
    };
    const std::string taken_name = ".glyphor-000000000000";  // twelve times symbol 0
    mode_t umask_before = 0;
    const auto status = [](const std::string& path) {
        struct stat found {};
        EXPECT_EQ(stat(path.c_str(), &found), 0) << path;
        return found;
    };
    const std::vector<detail> details = {
        {"a file's mode, kept, and a new file's, 0666 less the umask",
         [&](std::string&) {
             save(out, old_charset);
             chmod(out.c_str(), 0604);
             umask_before = umask(027);
             return out;
         },
         true,
         [&](const std::string& path) {
             EXPECT_EQ(write(dir.file("new.bin"), moment::none), write_outcome::written);
             umask(umask_before);
             EXPECT_EQ(status(path).st_mode & 07777, 0604U);
             EXPECT_EQ(status(dir.file("new.bin")).st_mode & 07777, 0640U);
         }},
        {"a second hard link, both names one file, emptied by a failed write",
         [&](std::string&) {
             save(out, old_charset);
             fs::create_hard_link(out, dir.file("link.bin"));
             return out;
         },
         false,
         [&](const std::string& path) {
             EXPECT_EQ(test::read_file(dir.file("link.bin")), new_charset);
             EXPECT_EQ(write(path, moment::fsync), write_outcome::write_failed);
             EXPECT_EQ(inode(path), inode(dir.file("link.bin")));
             EXPECT_EQ(test::read_file(dir.file("link.bin")), bytes{});
             EXPECT_EQ(names(), (std::vector<std::string>{"link.bin", "out.bin"}));
         }},
#if !defined(GLYPHOR_PORTABLE)
        {"a file system that lists no attributes (ENOTSUP)",
         [&](std::string&) {
             save(out, old_charset);
             listing_unsupported = true;
             return out;
         },
         true, [&](const std::string&) { EXPECT_EQ(listings, 2); }},
#endif
        {"another user's file, replaced by root with its owner, group and mode",
         [&](std::string& lacking) {
             save(out, old_charset);
             if (geteuid() != 0 || chown(out.c_str(), 1234, 1235) != 0) lacking = "root";
             chmod(out.c_str(), 0640);
             return out;
         },
         true,
         [&](const std::string& path) {
             const struct stat found = status(path);
             EXPECT_EQ(found.st_uid, 1234U);
             EXPECT_EQ(found.st_gid, 1235U);
             EXPECT_EQ(found.st_mode & 07777, 0640U);
         }},
        {"a hidden name already taken, drawn again",
         [&](std::string&) {
             save(out, old_charset);
             save(dir.file(taken_name), someone_elses);
             draw_taken_name = true;
             return out;
         },
         true,
         [&](const std::string&) {
             EXPECT_FALSE(draw_taken_name) << "the name was never drawn";
             EXPECT_EQ(test::read_file(dir.file(taken_name)), someone_elses);
             EXPECT_EQ(names(), (std::vector<std::string>{taken_name, "out.bin"}));
         }},
        {"no random numbers to draw the hidden name with",
         [&](std::string&) {
             save(out, old_charset);
             no_random = true;
             return out;
         },
         true,
         [&](const std::string&) {
             EXPECT_EQ(write(dir.file("new.bin"), moment::none), write_outcome::written);
             EXPECT_EQ(names(), (std::vector<std::string>{"new.bin", "out.bin"}));
         }},
    };
    std::string left_out;
    for (const detail& row : details) {
        SCOPED_TRACE(row.what);
        fs::remove_all(dir.path());
        fs::create_directory(dir.path());
        std::string lacking;
        const std::string path = row.make(lacking);
        if (!lacking.empty()) {
            left_out += std::string{left_out.empty() ? "" : "; "} + row.what + ": " + lacking;
        } else {
            const ino_t before = inode(path);
            listings = 0;
            EXPECT_EQ(write(path, moment::none), write_outcome::written);
            EXPECT_EQ(inode(path) != before, row.replaced);
            EXPECT_EQ(test::read_file(path), new_charset);
            if (row.check) row.check(path);
        }
        listing_unsupported = draw_taken_name = no_random = false;
    }
    if (!left_out.empty()) LEAVE_OUT("needs " + left_out);
}

}  // namespace
}  // namespace glyphor
