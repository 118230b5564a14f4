// The platform base types: descriptors, results and socket addresses.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"

namespace plat {
namespace {

TEST(UniqueFdTest, ClosesOnResetAndDestructionButNotAfterRelease) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    UniqueFd a(fds[0]);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.get(), fds[0]);
  }
  EXPECT_EQ(::fcntl(fds[0], F_GETFD), -1);  // closed
  int kept;
  {
    UniqueFd c(fds[1]);
    kept = c.release();
  }
  EXPECT_NE(::fcntl(kept, F_GETFD), -1);
  ::close(kept);
}

TEST(ResultTest, ValueOrErrorWithMessage) {
  Result<int> good = 7;
  Result<int> bad = Error{5, "five"};
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(*good, 7);
  EXPECT_FALSE(bad.ok());
  EXPECT_EQ(bad.code(), 5);
  EXPECT_EQ(bad.message(), "five");
  EXPECT_EQ(bad.valueOr(3), 3);
  Result<void> v = success();
  EXPECT_TRUE(v.ok());
  Result<void> e = errnoError("open x", ENOENT);
  EXPECT_EQ(e.code(), ENOENT);
  EXPECT_NE(e.message().find("open x: "), std::string::npos);
}

TEST(UnixAddressTest, RefusesPathsThatDoNotFit) {
  EXPECT_TRUE(unixAddress("/tmp/a.sock").ok());
  EXPECT_FALSE(unixAddress("").ok());
  EXPECT_FALSE(unixAddress(std::string(200, 'a')).ok());
  EXPECT_FALSE(unixAddress(std::string("a\0b", 3)).ok());
}

}  // namespace
}  // namespace plat
