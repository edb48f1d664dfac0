// Runs the whole program with one of its two buffers refused by the heap. The
// heap is glibc's, reached through its internal entry points, with malloc and
// calloc replaced here so that a chosen request size fails.

#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bmp_writer.h"
#include "driver.h"
#include "file_bytes.h"
#include "messages.h"
#include "support.h"

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);

namespace {
std::size_t refused_size = 0;  // 0: every request is served
}  // namespace

extern "C" void* malloc(std::size_t size) noexcept {
    return refused_size != 0 && size == refused_size ? nullptr : __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
    return refused_size != 0 && count * size == refused_size ? nullptr : __libc_calloc(count, size);
}

namespace glyphor {
namespace {

// The whole conversion in this process, standard output sent to a file, with
// each of the two buffers refused in turn: the message, status 1, no output.
TEST(allocation_failure, is_reported_and_leaves_no_output) {
    test::temp_dir dir;
    const std::string input = dir.file("in.bmp");
    const std::string output = dir.file("out.bin");
    const char* const args[] = {"glyphor", input.c_str(), output.c_str()};
    ASSERT_TRUE(write_file_bytes(input.c_str(), bmp::encode(test::random_tileset(30))));

    for (const std::size_t size : {std::size_t{49152}, std::size_t{2048}}) {
        SCOPED_TRACE(size);
        std::fflush(stdout);
        const int saved = dup(1);
        EXPECT_NE(std::freopen(dir.file("stdout").c_str(), "w", stdout), nullptr);
        refused_size = size;
        const int status = run(3, args, args);
        refused_size = 0;
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        const std::vector<std::uint8_t> text = test::read_file(dir.file("stdout"));
        EXPECT_EQ(status, 1);
        EXPECT_EQ(std::string(text.begin(), text.end()), banner + test::said<out_of_memory>());
        EXPECT_FALSE(test::file_exists(output));
    }
}

}  // namespace
}  // namespace glyphor
