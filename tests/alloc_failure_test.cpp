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

// Runs the driver with standard output sent to a file; returns the status and the text.
int run_captured(std::vector<std::string> args, const std::string& capture, std::string& text) {
    std::vector<char*> argv;
    argv.reserve(args.size());
    for (std::string& arg : args) argv.push_back(arg.data());
    std::fflush(stdout);
    const int saved = dup(1);
    EXPECT_NE(std::freopen(capture.c_str(), "w", stdout), nullptr);
    const int status = run(static_cast<int>(argv.size()), argv.data());
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    const std::optional<std::vector<std::uint8_t>> bytes = read_file_bytes(capture.c_str());
    text = bytes ? std::string(bytes->begin(), bytes->end()) : "";
    return status;
}

TEST(allocation_failure, is_reported_and_leaves_no_output) {
    test::temp_dir dir;
    const std::string input = dir.file("in.bmp");
    const std::string output = dir.file("out.bin");
    ASSERT_TRUE(write_file_bytes(input.c_str(), bmp::encode(test::random_tileset(30))));

    for (const std::size_t size : {std::size_t{49152}, std::size_t{2048}}) {
        SCOPED_TRACE(size);
        std::string text;
        refused_size = size;
        const int status = run_captured({"glyphor", input, output}, dir.file("stdout"), text);
        refused_size = 0;
        EXPECT_EQ(status, 1);
        const std::string message = "Erreur: Memoire insuffisante.\n";
        ASSERT_GE(text.size(), message.size());
        EXPECT_EQ(text.substr(text.size() - message.size()), message);
        EXPECT_FALSE(test::file_exists(output));
    }
}

}  // namespace
}  // namespace glyphor
