#include "RingTestSupport.h"

#include "ring/RemoveRingFiles.h"

#include <gmock/gmock.h>

namespace {

namespace fs = std::filesystem;

TEST(RemoveRingFiles, RemovesWhateverRingFilesExist) {
    TempDirectory folder;
    {
        RingFile ring;
        ASSERT_TRUE(ring.OpenForWrite(folder.Wide("clip.bin"), 10));
    }
    WriteBytes(folder.Path("clip.bin"), Bytes{1});
    EXPECT_TRUE(RemoveRingFiles(folder.Wide("clip.bin")));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path("")), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(folder.Path("clip.bin")));

    // Some or none present, or a parent that is not a folder: nothing to do.
    WriteBytes(folder.Path("clip1.idx"), Bytes{});
    EXPECT_TRUE(RemoveRingFiles(folder.Wide("clip.bin")));
    EXPECT_FALSE(fs::exists(folder.Path("clip1.idx")));
    EXPECT_TRUE(RemoveRingFiles(folder.Wide("clip.bin")));
    EXPECT_TRUE(RemoveRingFiles(folder.Wide("clip.bin/inner")));
}

TEST(RemoveRingFiles, RemovesASymbolicLinkButNotItsTarget) {
    TempDirectory folder;
    WriteBytes(folder.Path("target"), Bytes{5});
    fs::create_symlink(folder.Path("target"), folder.Path("ring0"));
    fs::create_symlink(folder.Path("nowhere"), folder.Path("ring1"));
    EXPECT_TRUE(RemoveRingFiles(folder.Wide("ring")));
    EXPECT_FALSE(fs::is_symlink(folder.Path("ring0")));
    EXPECT_FALSE(fs::is_symlink(folder.Path("ring1")));
    EXPECT_EQ(ReadBytes(folder.Path("target")), Bytes{5});
}

TEST(RemoveRingFiles, AnEntryThatCannotBeRemovedRaisesRemove) {
    TempDirectory folder;
    WriteBytes(folder.Path("ring0"), Bytes{1});
    fs::create_directories(folder.Path("ring1") / "inside");
    try {
        RemoveRingFiles(folder.Wide("ring"));
        FAIL() << "no error raised";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::directory_not_empty);
        EXPECT_THAT(error.what(), testing::HasSubstr("remove"));
        EXPECT_EQ(error.path1(), folder.Path("ring1"));
    }
    // The files before it in the order are gone already.
    EXPECT_FALSE(fs::exists(folder.Path("ring0")));
    EXPECT_TRUE(fs::exists(folder.Path("ring1")));
}

TEST(RemoveRingFiles, AStatusQueryThatFailsRaisesExists) {
    TempDirectory folder;
    fs::create_symlink(folder.Path("loop"), folder.Path("loop"));
    try {
        RemoveRingFiles(folder.Wide("loop/ring"));
        FAIL() << "no error raised";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::too_many_symbolic_link_levels);
        EXPECT_THAT(error.what(), testing::HasSubstr("exists"));
    }
}

} // namespace
