// The file seam of sel/, as both platforms must behave: positions past 4 GiB, binary
// bytes, replacing a file that exists, and names outside ASCII. Built into the Linux tests and the
// Windows ones (run under Wine), so the same expectations hold on each.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sel/format.h"
#include "sel/files.h"
#include "sel/large_cache.h"
#include "portable.h"

namespace {
namespace fs = std::filesystem;

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tessarin-files-" + std::to_string(testing_support::ProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        // a run that stopped half-way may have left it (Wine gives the same process ids run after run)
        std::error_code ec;
        fs::remove_all(dir_, ec);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    // a UTF-8 name inside the test's folder
    std::string Path(const std::string& name) const {
        auto u8 = dir_.u8string();
        return std::string(u8.begin(), u8.end()) + "/" + name;
    }
    static void Put(const std::string& path, const std::string& bytes) {
        FILE* f = sel::OpenFile(path, "wb");
        ASSERT_NE(f, nullptr) << path;
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        ASSERT_EQ(std::fclose(f), 0);
    }
    static std::string Get(const std::string& path) {
        FILE* f = sel::OpenFile(path, "rb");
        if (!f) return "(cannot open)";
        std::string out;
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            out.append(buf, n);
        std::fclose(f);
        return out;
    }
    fs::path dir_;
};

// sel/ reads the last sample of a sparse cache past 4 GiB exactly (large_cache.h).
TEST_F(Files, ACacheOver4GiBPlaysItsLastSampleExactly) {
    using testing_support::LargeCache;
    constexpr int32_t kPerSample = LargeCache::kPerSample, kSamples = LargeCache::kSamples;
    std::string path = Path("large.sel");
    LargeCache large;
    ASSERT_NO_FATAL_FAILURE(testing_support::WriteLargeCache(path, large));

    FILE* in = sel::OpenFile(path, "rb");
    ASSERT_NE(in, nullptr);
    std::unique_ptr<FILE, int (*)(FILE*)> closer(in, std::fclose);
    sel::FileSource src(in);
    EXPECT_EQ(src.Size(), large.bytes);
    sel::Layout layout;
    ASSERT_TRUE(sel::ReadLayout(src, layout).ok);
    ASSERT_EQ(layout.samples, kSamples);
    std::vector<sel::SampleRecord> got(kPerSample);
    ASSERT_EQ(sel::ReadSample(src, layout, kSamples - 1, got.data(), kPerSample), kPerSample);
    for (int32_t i = 0; i < kPerSample; ++i) {
        ASSERT_EQ(got[size_t(i)].weight, large.last[size_t(i)].weight) << "record " << i;
        ASSERT_EQ(got[size_t(i)].time, i) << "record " << i;
    }
}

// Every byte value, and line ends in particular, comes back as written: a text-mode stream on
// Windows turns "\n" into "\r\n" and stops reading at 0x1a.
TEST_F(Files, EveryByteValueComesBackUnchanged) {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(char(i));
    bytes += "\r\n\n\x1a\r";
    Put(Path("bytes.sel"), bytes);
    EXPECT_EQ(Get(Path("bytes.sel")), bytes);
    EXPECT_EQ(sel::SizeOf(Path("bytes.sel")), int64_t(bytes.size()));
}

// Saving over an existing file goes through a temporary name; rename alone refuses to replace on
// Windows, which would leave the old file and a stray temporary one.
TEST_F(Files, ATemporaryFileReplacesTheTargetAndLeavesNothingBehind) {
    std::string target = Path("scene.vms");
    Put(target, "old contents, longer than the new");
    std::string temp, error;
    FILE* f = sel::CreateBeside(target, temp, error);
    ASSERT_NE(f, nullptr) << error;
    std::string other;
    FILE* g = sel::CreateBeside(target, other, error);
    ASSERT_NE(g, nullptr) << error;
    EXPECT_NE(temp, other) << "two writers were given one temporary file";
    std::fclose(g);
    EXPECT_TRUE(sel::RemoveFile(other));
    ASSERT_EQ(std::fwrite("new", 1, 3, f), 3u);
    EXPECT_TRUE(sel::FlushToDisk(f));
    ASSERT_EQ(std::fclose(f), 0);
    EXPECT_EQ(sel::ReplaceWith(temp, target), "");
    EXPECT_EQ(Get(target), "new");
    EXPECT_EQ(sel::KindOf(temp), sel::FileKind::Missing);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(Files, ReplacingFromAMissingFileFailsAndKeepsTheTarget) {
    Put(Path("kept.sel"), "kept");
    EXPECT_NE(sel::ReplaceWith(Path("missing.tmp"), Path("kept.sel")), "");
    EXPECT_EQ(Get(Path("kept.sel")), "kept");
}

// Names outside ASCII are UTF-8 throughout; on Windows a narrow name would go through the ANSI code
// page and open another file or none.
TEST_F(Files, NamesOutsideAsciiOpenTheFileOfThatName) {
    fs::create_directories(sel::PathOf(Path("Szene-\xc3\x9c")));
    std::string name = Path("Szene-\xc3\x9c/cach\xc3\xa9.sel");
    Put(name, "bytes");
    EXPECT_EQ(Get(name), "bytes");
    EXPECT_EQ(sel::KindOf(name), sel::FileKind::Plain);
    EXPECT_EQ(sel::KindOf(Path("Szene-\xc3\x9c")), sel::FileKind::Folder);
    EXPECT_EQ(sel::SizeOf(name), 5);
    EXPECT_TRUE(fs::exists(sel::PathOf(name))) << "the file was made under another name";
    FILE* f = sel::OpenFile(name, "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(sel::IsPlainFile(f));
    std::fclose(f);
}

// A read by position neither uses nor moves the stream's position: processes sharing one open file
// after a fork would otherwise read each other's samples. Short at the end, nothing past it.
TEST_F(Files, AReadByPositionLeavesTheStreamPositionAlone) {
    std::string bytes;
    for (int i = 0; i < 300; ++i)
        bytes.push_back(char(i * 7));
    Put(Path("at.sel"), bytes);
    FILE* f = sel::OpenFile(Path("at.sel"), "rb");
    ASSERT_NE(f, nullptr);
    std::unique_ptr<FILE, int (*)(FILE*)> closer(f, std::fclose);
    ASSERT_TRUE(sel::SeekTo(f, 10));
    char buf[64];
    struct Case {
        int64_t at;
        size_t n, want;
    } cases[] = {{0, 5, 5}, {200, 64, 64}, {290, 64, 10}, {300, 8, 0}, {5000, 8, 0}, {-1, 8, 0}};
    for (const Case& c : cases) {
        ASSERT_EQ(sel::ReadAtOffset(f, c.at, buf, c.n), c.want) << "at " << c.at;
        if (c.want) {
            EXPECT_EQ(std::string(buf, c.want), bytes.substr(size_t(c.at), c.want)) << "at " << c.at;
        }
        EXPECT_EQ(sel::Position(f), 10) << "a read at " << c.at << " moved the stream";
    }
    ASSERT_EQ(std::fread(buf, 1, 4, f), 4u);
    EXPECT_EQ(std::string(buf, 4), bytes.substr(10, 4));
}

TEST_F(Files, SameFileMeansOneFileNotOneSpelling) {
    Put(Path("a.sel"), "a");
    Put(Path("b.sel"), "a");
    fs::create_directories(dir_ / "sub");
    EXPECT_TRUE(sel::SameFile(Path("a.sel"), Path("sub/../a.sel")));
    EXPECT_FALSE(sel::SameFile(Path("a.sel"), Path("b.sel")));
    EXPECT_FALSE(sel::SameFile(Path("a.sel"), Path("missing.sel")));
    EXPECT_EQ(sel::KindOf(Path("missing.sel")), sel::FileKind::Missing);
    EXPECT_EQ(sel::SizeOf(Path("missing.sel")), -1);
    EXPECT_EQ(sel::SizeOf(Path("sub")), -1);
}

} // namespace
