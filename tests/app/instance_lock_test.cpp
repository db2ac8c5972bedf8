#include "app/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "temp_folder.h"

namespace qc {
namespace {

using Result = InstanceLock::Result;

TEST(InstanceLock, OneHolderPerFolder) {
  test::TempFolder dir, other;
  InstanceLock first, second, elsewhere;
  EXPECT_EQ(first.TryAcquire(dir.path()), Result::Acquired);
  EXPECT_EQ(second.TryAcquire(dir.path()), Result::HeldElsewhere);
  EXPECT_FALSE(second.Held());
  EXPECT_EQ(elsewhere.TryAcquire(other.path()), Result::Acquired);
  first.Release();
  EXPECT_EQ(second.TryAcquire(dir.path()), Result::Acquired);
  EXPECT_EQ(first.TryAcquire(dir.path()), Result::HeldElsewhere);
}

TEST(InstanceLock, AKilledHolderDoesNotBlockTheNextStart) {
  test::TempFolder dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstanceLock lock;
    char ok = lock.TryAcquire(dir.path()) == Result::Acquired ? 'y' : 'n';
    if (::write(ready[1], &ok, 1) != 1) ::_exit(2);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(ok, 'y');
  InstanceLock mine;
  EXPECT_EQ(mine.TryAcquire(dir.path()), Result::HeldElsewhere);
  ::kill(child, SIGKILL);  // no chance to clean up
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "quillcast.lock"));  // the file stays behind
  EXPECT_EQ(mine.TryAcquire(dir.path()), Result::Acquired);
}

TEST(InstanceLock, FailsWhenNoLockFileCanBeMade) {
  test::TempFolder dir;
  InstanceLock lock;
  EXPECT_EQ(lock.TryAcquire(dir / "missing/"), Result::Failed);
  EXPECT_NE(lock.SystemError(), 0);
}

TEST(InstanceServerName, OneNamePerFolder) {
  test::TempFolder dir, other;
  std::filesystem::create_directory_symlink(dir.path(), other / "link");
  const std::string name = InstanceServerName(dir.path());
  EXPECT_EQ(InstanceServerName(dir.path().substr(0, dir.path().size() - 1)), name);
  EXPECT_EQ(InstanceServerName(other / "link"), name);  // the same folder by another path
  EXPECT_NE(InstanceServerName(other.path()), name);
  EXPECT_EQ(name.rfind("quillcast-" + std::to_string(::getuid()) + "-", 0), 0u);
  EXPECT_LT(name.size(), 64u);
}

}  // namespace
}  // namespace qc
