#include "platform/singleinstance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A name no other test run or real instance uses.
std::string UniqueName(const char* pszTag)
{
    return std::string("VistrelTest") + pszTag + std::to_string(getpid());
}

// In a child process: try to lock the file; exit 0 if we got it, 1 if it was held.
// Only async-signal-safe calls after fork.
int ChildTryLock(const std::string& strPath)
{
    const char* pszPath = strPath.c_str();
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(pszPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            _exit(2);
        _exit(flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SingleInstance, SecondProcessSeesTheMutexUntilItIsClosed)
{
    const std::string strName = UniqueName("A");
    DWORD dwError = 12345;
    HMUTEX hMutex = CreateNamedMutex(strName, &dwError);
    ASSERT_NE(hMutex, nullptr);
    EXPECT_EQ(dwError, 0u);

    const std::string strPath = GetNamedMutexPath(strName);
    EXPECT_EQ(ChildTryLock(strPath), 1);
    // Within the process a second creation also finds it existing, as on Windows.
    HMUTEX hSecond = CreateNamedMutex(strName, &dwError);
    EXPECT_EQ(dwError, ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(CloseNamedMutex(hSecond));
    // Closing the non-owning handle did not release the owner's lock.
    EXPECT_EQ(ChildTryLock(strPath), 1);

    EXPECT_TRUE(CloseNamedMutex(hMutex));
    EXPECT_EQ(ChildTryLock(strPath), 0);
    unlink(strPath.c_str());
}

TEST(SingleInstance, HeldByAnotherProcessReportsAlreadyExistsAndIsFreedAtItsExit)
{
    const std::string strName = UniqueName("B");
    const std::string strPath = GetNamedMutexPath(strName);
    const char* pszPath = strPath.c_str();
    int toParent[2];
    int toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(toParent[0]);
        close(toChild[1]);
        const int fd = open(pszPath, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        (void)!write(toParent[1], &ok, 1);
        char ch;
        (void)!read(toChild[0], &ch, 1); // hold until the parent closes its end
        _exit(0);
    }
    close(toParent[1]);
    close(toChild[0]);
    char ok = 0;
    ASSERT_EQ(read(toParent[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');

    DWORD dwError = 0;
    HMUTEX hMutex = CreateNamedMutex(strName, &dwError);
    EXPECT_NE(hMutex, nullptr);
    EXPECT_EQ(dwError, ERROR_ALREADY_EXISTS);
    CloseNamedMutex(hMutex);

    close(toChild[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    close(toParent[0]);

    hMutex = CreateNamedMutex(strName, &dwError);
    ASSERT_NE(hMutex, nullptr);
    EXPECT_EQ(dwError, 0u);
    CloseNamedMutex(hMutex);
    unlink(pszPath);
}

TEST(SingleInstance, LockFilePlacementAndFailures)
{
    setenv("XDG_RUNTIME_DIR", "/run/user/4242/", 1);
    EXPECT_EQ(GetNamedMutexPath("Local\\Name/x"), "/run/user/4242/Local_Name_x.lock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(GetNamedMutexPath("Name"), "/tmp/Name." + std::to_string(getuid()) + ".lock");

    // A runtime directory that does not exist: creation fails and says why.
    setenv("XDG_RUNTIME_DIR", "/nonexistent-vistrel-dir", 1);
    DWORD dwError = 0;
    EXPECT_EQ(CreateNamedMutex("Name", &dwError), nullptr);
    EXPECT_NE(dwError, 0u);
    EXPECT_NE(dwError, ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CloseNamedMutex(nullptr));
}

} // namespace
