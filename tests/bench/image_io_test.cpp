// The written files: the raw image byte for byte, the PNG decoded again and compared with the
// frame pixel by pixel in the window's orientation, and no partial file when a write fails or the
// target stops being a regular file before the commit.
#include <cmath>
#include <csignal>
#include <cstring>

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bench_test_util.h"
#include "image_io.h"

namespace {

bool saveRaw(const std::string& path, const float4* frame, std::string* error) {
    OutputFile f;
    return f.open(path, error) && writeRaw(f, frame, error) && f.commit(error);
}

bool savePng(const std::string& path, const float4* frame, std::string* error) {
    OutputFile f;
    return f.open(path, error) && writePng(f, frame, error) && f.commit(error);
}

// The PNG decoded as 8-bit RGB, top row first; empty when it is not a 1024x768 PNG.
std::vector<uint8_t> decodePng(const std::string& path) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    const bool ok = image.width == WIDTH && image.height == HEIGHT &&
                    png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr);
    png_image_free(&image);
    return ok ? rgb : std::vector<uint8_t>{};
}

TEST(RawFile, IsThePixelImageRowZeroFirst) {
    ScratchDir dir;
    const std::vector<float4> frame = cpuFrame(-0.8f, 0.156f, 50);
    std::string error;
    ASSERT_TRUE(saveRaw(dir / "f.raw", frame.data(), &error)) << error;
    const std::string bytes = readFile(dir / "f.raw");
    ASSERT_EQ(bytes.size(), 12582912u);
    EXPECT_EQ(std::memcmp(bytes.data(), frame.data(), bytes.size()), 0);
    // Pixel (row 1, column 2) lies at byte 16 * (1024 + 2).
    float4 p;
    std::memcpy(&p, bytes.data() + 16 * (1024 + 2), sizeof p);
    EXPECT_EQ(std::memcmp(&p, &frame[1024 + 2], sizeof p), 0);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"f.raw"}) << "no temporary left behind";
}

// Planted in the bottom row, the PNG's last: ties and values no frame holds.
TEST(PngFile, ChannelConversion) {
    std::vector<float4> frame(PIXEL_COUNT, float4{0, 0, 0, 1});
    frame[0] = {0.5f, 0.7f, 0.9f, 1};  // 127.5 rounds to even; 178.5 and 229.5 in float, too
    frame[1] = {-0.5f, 7.0f, NAN, 0};
    frame[2] = {0.0f, 1.0f, 1.0f - 1.0f / 6.0f, -1};  // 212.5 in float
    ScratchDir dir;
    std::string error;
    ASSERT_TRUE(savePng(dir / "c.png", frame.data(), &error)) << error;
    const std::vector<uint8_t> rgb = decodePng(dir / "c.png");
    ASSERT_FALSE(rgb.empty());
    const size_t bottom = size_t(HEIGHT - 1) * WIDTH * 3;
    EXPECT_EQ(std::vector<int>(rgb.begin() + bottom, rgb.begin() + bottom + 12),
              (std::vector<int>{128, 178, 230, 0, 255, 0, 0, 255, 212, 0, 0, 0}));
}

TEST(PngFile, ShowsTheFrameAsTheWindowDoes) {
    ScratchDir dir;
    const std::vector<float4> frame = cpuFrame(-0.8f, 0.156f, 100);
    std::string error;
    ASSERT_TRUE(savePng(dir / "f.png", frame.data(), &error)) << error;
    const std::vector<uint8_t> rgb = decodePng(dir / "f.png");
    ASSERT_EQ(rgb.size(), size_t(WIDTH) * HEIGHT * 3) << "not a readable 1024x768 PNG";
    int mismatches = 0;
    for (int r = 0; r < HEIGHT; r++) {
        for (int j = 0; j < WIDTH; j++) {
            const float4& px = frame[(HEIGHT - 1 - r) * WIDTH + j];  // top row is image row 767
            const uint8_t* got = &rgb[(size_t(r) * WIDTH + j) * 3];
            const long want[3] = {std::lrintf(px.x * 255.0f), std::lrintf(px.y * 255.0f),
                                  std::lrintf(px.z * 255.0f)};
            for (int c = 0; c < 3; c++) {
                if (got[c] != want[c] && ++mismatches <= 3) {
                    ADD_FAILURE() << "PNG row " << r << ", column " << j << ", channel " << c
                                  << ": " << int(got[c]) << " instead of " << want[c];
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(PngFile, MarkerNearTheTopLandsNearTheTop) {
    // Limit 0: all blue but for the magenta marker on the sample point of row 700, column 100.
    ScratchDir dir;
    const std::vector<float4> frame = cpuFrame(VIEW_SCALE * (100 - 512), VIEW_SCALE * (700 - 384), 0);
    std::string error;
    ASSERT_TRUE(savePng(dir / "m.png", frame.data(), &error)) << error;
    const std::vector<uint8_t> rgb = decodePng(dir / "m.png");
    ASSERT_FALSE(rgb.empty());
    auto at = [&](int r, int j) {
        const uint8_t* p = &rgb[(r * WIDTH + j) * 3];
        return std::vector<int>(p, p + 3);
    };
    EXPECT_EQ(at(767 - 700, 100), (std::vector<int>{255, 0, 255}));
    EXPECT_EQ(at(700, 100), (std::vector<int>{0, 0, 255}));
}

// Lowers the file-size limit for the test's lifetime, so that writes fail part-way (EFBIG).
struct FileSizeLimit {
    rlimit saved;
    void (*savedHandler)(int);
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved);
        savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = saved;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
    }
};

TEST(NoPartialFile, FailedWritesLeaveNothingAndKeepWhatWasThere) {
    ScratchDir dir;
    const std::vector<float4> frame = cpuFrame(-0.8f, 0.156f, 100);
    {
        std::ofstream(dir / "old.raw") << "previous contents";
        FileSizeLimit limit(4096);
        std::string error;
        EXPECT_FALSE(saveRaw(dir / "new.raw", frame.data(), &error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(saveRaw(dir / "old.raw", frame.data(), &error));
        EXPECT_FALSE(savePng(dir / "new.png", frame.data(), &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"old.raw"}) << "only the untouched file";
    EXPECT_EQ(readFile(dir / "old.raw"), "previous contents");
}

TEST(NoPartialFile, UnwritablePathsAreRefusedAtOpen) {
    ScratchDir dir;
    OutputFile f;
    std::string error;
    EXPECT_FALSE(f.open(dir / "missing/f.raw", &error));
    EXPECT_NE(error.find("missing/f.raw"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(f.open(dir.path.string(), &error)) << "a folder is no file";
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_TRUE(dir.entries().empty());
}

TEST(NoPartialFile, FailureAtCommitOrDropLeavesNothing) {
    ScratchDir dir;
    {
        OutputFile f;
        std::string error;
        ASSERT_TRUE(f.open(dir / "dropped.raw", &error)) << error;
        std::fputs("half", f.stream());
    }
    {
        // Small enough to sit in the stream's buffer: the write fails only when commit flushes it.
        OutputFile f;
        std::string error;
        ASSERT_TRUE(f.open(dir / "flushed.raw", &error)) << error;
        std::fputs("more than sixteen bytes", f.stream());
        FileSizeLimit limit(16);
        EXPECT_FALSE(f.commit(&error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_TRUE(dir.entries().empty());
}

// Between open and commit the target may become something a rename must not replace: the commit
// refuses, and what the name holds then stays as it is.
TEST(NoPartialFile, TargetThatStoppedBeingARegularFileIsNotReplaced) {
    const struct {
        const char* what;
        int (*make)(const char* path);
    } replacements[] = {
        {"a FIFO", [](const char* path) { return ::mkfifo(path, 0600); }},
        {"a link to a device", [](const char* path) { return ::symlink("/dev/null", path); }},
    };
    for (const auto& r : replacements) {
        ScratchDir dir;
        const std::string path = dir / "f.raw";
        std::ofstream(path) << "previous contents";
        OutputFile f;
        std::string error;
        ASSERT_TRUE(f.open(path, &error)) << error;
        std::fputs("new contents", f.stream());
        ASSERT_EQ(::unlink(path.c_str()), 0);
        ASSERT_EQ(r.make(path.c_str()), 0) << r.what;
        struct stat before;
        ASSERT_EQ(::lstat(path.c_str(), &before), 0);
        EXPECT_FALSE(f.commit(&error)) << r.what << " was replaced";
        EXPECT_NE(error.find("no longer a regular file"), std::string::npos) << error;
        struct stat after;
        ASSERT_EQ(::lstat(path.c_str(), &after), 0) << r.what;
        EXPECT_EQ(after.st_ino, before.st_ino) << r.what << " is no longer there";
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"f.raw"}) << "no temporary left behind";
    }
}

}  // namespace
