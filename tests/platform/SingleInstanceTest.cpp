#include "platform/SingleInstance.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace vandrel {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vandrel-instance-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = std::string(pattern) + "/";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Pumps the dispatcher until a request has arrived.
  bool WaitForRequest(MainDispatcher& dispatcher, std::vector<TForwardedRequest>& got, size_t count) {
    return dispatcher.RunUntil([&] { return got.size() >= count; }, 3000ms, 5ms);
  }
  std::string dir_;
};

TEST_F(SingleInstanceTest, SecondClaimForwardsItsCommandLineToTheFirst) {
  MainDispatcher dispatcher;
  std::vector<TForwardedRequest> got;
  TSingleInstance first(dir_);
  ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);
  ASSERT_TRUE(first.Listen([&](const TForwardedRequest& r) { got.push_back(r); }, dispatcher));
  struct stat st {};
  ASSERT_EQ(stat(first.SocketPath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);

  TSingleInstance second(dir_);
  ASSERT_EQ(second.Claim(), TInstanceRole::irOther);
  auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(second.Forward({false, "shop:prices cameras"}, 900ms)) << second.Error();
  EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
  ASSERT_TRUE(second.Forward({true, ""}, 900ms));

  ASSERT_TRUE(WaitForRequest(dispatcher, got, 2));
  EXPECT_FALSE(got[0].Restore);
  EXPECT_EQ(got[0].CommandLine, "shop:prices cameras");
  EXPECT_TRUE(got[1].Restore);
}

TEST_F(SingleInstanceTest, LockIsReleasedAndSocketRemovedWhenTheFirstEnds) {
  MainDispatcher dispatcher;
  {
    TSingleInstance first(dir_);
    ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);
    ASSERT_TRUE(first.Listen([](const TForwardedRequest&) {}, dispatcher));
  }
  EXPECT_FALSE(fs::exists(dir_ + "VandrelShopper.sock"));
  TSingleInstance next(dir_);
  EXPECT_EQ(next.Claim(), TInstanceRole::irFirst);
  // A stale socket file from a crashed program does not stop the next one from listening.
  EXPECT_TRUE(next.Listen([](const TForwardedRequest&) {}, dispatcher));
}

TEST_F(SingleInstanceTest, ForwardFailsInTimeWhenNobodyListens) {
  TSingleInstance first(dir_);
  ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);  // holds the lock but never listens
  TSingleInstance second(dir_);
  ASSERT_EQ(second.Claim(), TInstanceRole::irOther);
  auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(second.Forward({false, "prices"}, 200ms));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 600ms);
}

TEST_F(SingleInstanceTest, MalformedOrOversizedRequestsAreRefused) {
  MainDispatcher dispatcher;
  std::vector<TForwardedRequest> got;
  TSingleInstance first(dir_);
  ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);
  ASSERT_TRUE(first.Listen([&](const TForwardedRequest& r) { got.push_back(r); }, dispatcher));

  auto deliver = [&](const std::string& bytes) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, first.SocketPath().c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    char receipt = 0;
    ssize_t n = recv(fd, &receipt, 1, 0);  // the server closes without a receipt
    close(fd);
    return n == 1;
  };
  EXPECT_FALSE(deliver("HELLO\0\0\0\0"));
  EXPECT_FALSE(deliver(std::string("VSI1C\x7f\xff\xff\xff", 9)));      // claims 2 GB
  EXPECT_FALSE(deliver(std::string("VSI1C\0\0\0\x10", 9) + "short"));  // then goes silent
  // A NUL ends the line, as it did when the line was handed over as a C string.
  EXPECT_TRUE(deliver(std::string("VSI1C\0\0\0\x0b", 9) + std::string("home\0junk!!", 11)));

  TSingleInstance second(dir_);
  ASSERT_EQ(second.Claim(), TInstanceRole::irOther);
  EXPECT_FALSE(second.Forward({false, std::string(TSingleInstance::kMaxCommandLine + 1, 'x')}, 500ms));
  ASSERT_TRUE(second.Forward({false, "prices"}, 900ms));
  ASSERT_TRUE(WaitForRequest(dispatcher, got, 2));
  EXPECT_EQ(got[0].CommandLine, "home");
  EXPECT_EQ(got[1].CommandLine, "prices");
}

TEST_F(SingleInstanceTest, RequestFromAnotherUserIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  MainDispatcher dispatcher;
  std::vector<TForwardedRequest> got;
  chmod(dir_.c_str(), 0711);  // let the other user reach the socket, so only the peer check stands
  TSingleInstance first(dir_);
  ASSERT_EQ(first.Claim(), TInstanceRole::irFirst);
  ASSERT_TRUE(first.Listen([&](const TForwardedRequest& r) { got.push_back(r); }, dispatcher));
  chmod(first.SocketPath().c_str(), 0666);
  pid_t child = fork();
  if (child == 0) {
    if (setuid(65534) != 0) _exit(3);
    TSingleInstance intruder(dir_);
    _exit(intruder.Forward({false, "prices"}, 500ms) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  dispatcher.ProcessPending();
  EXPECT_TRUE(got.empty());
}

TEST_F(SingleInstanceTest, RuntimeFolderOpenToOthersIsNotUsed) {
  const char* saved = getenv("XDG_RUNTIME_DIR");
  std::string restore = saved ? saved : "";
  chmod(dir_.c_str(), 0755);
  setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  std::string error;
  std::string folder = TSingleInstance::ResolveFolder(&error);
  EXPECT_NE(folder, dir_);
  if (!folder.empty()) {
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, getuid());
    EXPECT_EQ(st.st_mode & 077, 0u);
  }
  chmod(dir_.c_str(), 0700);
  EXPECT_EQ(TSingleInstance::ResolveFolder(&error), dir_);
  if (saved) {
    setenv("XDG_RUNTIME_DIR", restore.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

}  // namespace
}  // namespace vandrel
