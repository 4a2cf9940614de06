#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <filesystem>

#include "generator/generators.h"
#include "meshio/atomic_file.h"
#include "meshio/obj.h"
#include "support/format_checks.h"
#include "support/mesh_checks.h"

namespace korvan {
namespace {

// "%f" where it reads back as the same float (simple files do not change), the shortest text
// that does where it would not (1e-7 is no "0.000000"), and the C locale's full stop always.
TEST(ObjWriter, PrintsFixedWhereItRoundTripsAndTheShortestTextElsewhere) {
    test::TempDir dir;
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const Solid s = test::makeSolid(
        {{-0.5f, 1e-7f, 123456.789f}, {-1e-7f, 3e38f, 0.0000005f}, {-0.0f, 0.1f, 1.0f / 3.0f}},
        {0, 1, 2});
    const Status status = writeObj(s, dir.path("n.obj"));
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(test::readFile(dir.path("n.obj")),
              "# 3d tijelo u .obj formatu\n"
              "v -0.500000 1e-07 123456.789062\n"
              "v -1e-07 300000000549775575777803994281145270272.000000 5e-07\n"
              "v -0.000000 0.100000 0.33333334\n"
              "f 1 2 3\n");
}

TEST(ObjWriter, ReplacesAnExistingFileAndKeepsItsPermissions) {
    test::TempDir dir;
    const std::string path = dir.path("old.obj");
    test::writeFile(path, "old content\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const Solid s = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    ASSERT_TRUE(writeObj(s, path).ok());
    EXPECT_EQ(test::readFile(path).rfind("# 3d tijelo", 0), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(test::entryCount(dir.dir()), 1);
}

// The target a folder (the rename fails after the data was written), and a write that fails
// part way under a file-size limit, as on a full disk: reported, the old file kept, no temporary
// left.
TEST(ObjWriter, FailuresLeaveTheOldFileAndNoTemporary) {
    test::TempDir dir;
    const Solid s = test::makeSolid({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 2});
    std::filesystem::create_directory(dir.path("folder.obj"));
    test::writeFile(dir.path("folder.obj/keep"), "x");
    EXPECT_EQ(writeObj(s, dir.path("folder.obj")).message(), "Greska kod spremanja!");
    EXPECT_EQ(test::readFile(dir.path("folder.obj/keep")), "x");

    const std::string path = dir.path("keep.obj");
    test::writeFile(path, "precious\n");
    Solid big;
    MakeSphere(big, 200, 200, 1.0f);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Status status = writeObj(big, path);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(status.message(), "Greska kod spremanja!");
    EXPECT_EQ(test::readFile(path), "precious\n");
    EXPECT_EQ(test::entryCount(dir.dir()), 2);
}

// Ctrl+C or SIGTERM while a file is written: the old file stays, no temporary is left, and the
// signal reaches its handler once the write is over. A signal that waits on the thread: a file
// opened then makes no temporary, and one being written loses its temporary at the next write,
// before any commit.
TEST(AtomicFile, AnInterruptDuringTheWriteKeepsTheOldFileAndNoTemporary) {
    test::TempDir dir;
    const std::string path = dir.path("keep.obj");
    test::writeFile(path, "precious\n");
    const auto files = [&] { return test::entryCount(dir.dir()); };
    static volatile sig_atomic_t delivered = 0;
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = [](int) { delivered = 1; };
    ASSERT_EQ(::sigaction(SIGTERM, &action, &previous), 0);
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.write("new\n", 4));
        ::raise(SIGTERM);
        EXPECT_EQ(delivered, 0) << "held back while the file is open";
        EXPECT_FALSE(file.commit(true));
        EXPECT_NE(file.error().find("prekinuto"), std::string::npos) << file.error();
    }
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(files(), 1);

    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigset_t oldMask;
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &term, &oldMask), 0);
    {
        AtomicFile writing(path);
        ASSERT_TRUE(writing.write("new\n", 4));
        EXPECT_EQ(files(), 2);
        ::raise(SIGTERM);
        EXPECT_FALSE(writing.write("more\n", 5));
        EXPECT_EQ(files(), 1) << "the temporary goes at once";
        AtomicFile late(path);
        EXPECT_FALSE(late.ok());
        EXPECT_EQ(files(), 1);
    }
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGTERM, &previous, nullptr);
    EXPECT_EQ(test::readFile(path), "precious\n");
}

}  // namespace
}  // namespace korvan
