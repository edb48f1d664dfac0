// The write path at the moments a failure can strike it. The program's calls
// to write, close and renameat are wrapped at link time (-Wl,--wrap): once
// armed, the chosen call fails, and another program's doing can be run at
// that very moment, as a second process could.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "file_io.h"
#include "support.h"

namespace {

// The call to fail, and what happens in the world just before it fails.
enum class moment { none, write, close_after_write, rename };
moment armed = moment::none;
bool written = false;  // a write has gone through since arming
std::function<void()> meanwhile;

// True when this call is the armed one: it then runs the doing, disarmed.
bool strikes(moment now) {
    if (armed != now) return false;
    armed = moment::none;
    if (meanwhile) meanwhile();
    errno = EIO;
    return true;
}

}  // namespace

// The linker's names for the wrapped calls and the real ones behind them.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
extern "C" {
ssize_t __real_write(int file, const void* bytes, std::size_t size);
int __real_close(int file);
int __real_renameat(int from_folder, const char* from, int to_folder, const char* to);
ssize_t __wrap_write(int file, const void* bytes, std::size_t size);
int __wrap_close(int file);
int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to);

ssize_t __wrap_write(int file, const void* bytes, std::size_t size) {
    if (strikes(moment::write)) return -1;
    const ssize_t wrote = __real_write(file, bytes, size);
    written = written || wrote > 0;
    return wrote;
}

int __wrap_close(int file) {
    if (written && strikes(moment::close_after_write)) {
        __real_close(file);  // released all the same, as Linux does
        return -1;
    }
    return __real_close(file);
}

int __wrap_renameat(int from_folder, const char* from, int to_folder, const char* to) {
    if (strikes(moment::rename)) return -1;
    return __real_renameat(from_folder, from, to_folder, to);
}
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)

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

    // write_file with the call at when failing, what meanwhile says done then.
    write_outcome write(const std::string& path, moment when, std::function<void()> doing = {}) {
        armed = when;
        written = false;
        meanwhile = std::move(doing);
        const write_outcome outcome =
            write_file(path.c_str(), new_charset.data(), new_charset.size(), nullptr);
        EXPECT_EQ(armed, moment::none) << "the armed call was never made";
        armed = moment::none;
        meanwhile = {};
        return outcome;
    }
    void save(const std::string& path, const bytes& content) const {
        ASSERT_TRUE(write_file_bytes(path.c_str(), content));
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
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
    for (const moment when : {moment::write, moment::close_after_write, moment::rename}) {
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

// A replaced file keeps its permission bits; a new one gets 0666 less the umask.
TEST_F(write_path, the_new_file_keeps_the_old_mode_or_takes_the_umask) {
    save(out, old_charset);
    ASSERT_EQ(chmod(out.c_str(), 0604), 0);
    const ino_t old_inode = inode(out);
    const mode_t umask_before = umask(027);
    EXPECT_EQ(write(out, moment::none), write_outcome::written);
    EXPECT_EQ(write(dir.file("new.bin"), moment::none), write_outcome::written);
    umask(umask_before);
    struct stat found {};
    ASSERT_EQ(stat(out.c_str(), &found), 0);
    EXPECT_EQ(found.st_mode & 07777, 0604U);
    EXPECT_NE(found.st_ino, old_inode) << "replaced by a new file, not written in place";
    ASSERT_EQ(stat(dir.file("new.bin").c_str(), &found), 0);
    EXPECT_EQ(found.st_mode & 07777, 0640U);
    EXPECT_EQ(test::read_file(out), new_charset);
}

// A file with another hard link is written in place, so both names keep
// showing one file: the new bytes, or after a failed close none.
TEST_F(write_path, a_hard_linked_file_is_written_in_place_and_emptied_by_a_failed_close) {
    save(out, old_charset);
    fs::create_hard_link(out, dir.file("link.bin"));
    EXPECT_EQ(write(out, moment::none), write_outcome::written);
    EXPECT_EQ(test::read_file(dir.file("link.bin")), new_charset);
    EXPECT_EQ(write(out, moment::close_after_write), write_outcome::write_failed);
    EXPECT_EQ(inode(out), inode(dir.file("link.bin")));
    EXPECT_EQ(test::read_file(dir.file("link.bin")), bytes{});
    EXPECT_EQ(names(), (std::vector<std::string>{"link.bin", "out.bin"}));
}

// Where a new file would change whose the file is, the file is written in
// place, and emptied when that fails: a writable file of another user's in a
// folder where no file can be made, or in a folder open to all (another
// user's file can be written, not given to its owner). The writer is a
// user other than root, who could do either.
TEST_F(write_path, another_users_writable_file_is_written_in_place) {
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
            std::fflush(nullptr);
            const pid_t child = fork();
            if (child == 0) {
                // In the folder before giving up root's rights: the test's folder is root's.
                if (chdir(folder.c_str()) != 0) _exit(99);
                if (root && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
                _exit(static_cast<int>(write("out.bin", when)));
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status),
                      static_cast<int>(when == moment::none ? write_outcome::written
                                                            : write_outcome::write_failed));
            EXPECT_EQ(test::read_file(file), when == moment::none ? new_charset : bytes{});
            EXPECT_EQ(inode(file), old_inode);
        }
        chmod(folder.c_str(), 0755);
        fs::remove_all(folder);
    }
}

}  // namespace
}  // namespace glyphor
