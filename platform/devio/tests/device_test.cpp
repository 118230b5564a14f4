#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "platform/base/unix_address.h"
#include "platform/devio/device.h"
#include "platform/devio/device_server.h"
#include "platform/devio/wire.h"

namespace plat::devio {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A device server polled on a thread of its own; the handler runs there.
class ServedDevice {
 public:
  ServedDevice(const std::string& name, std::function<void(DeviceServer&, DeviceServer::Request)> handler) {
    auto s = DeviceServer::listen(name);
    EXPECT_TRUE(s.ok()) << s.message();
    server_ = std::move(*s);
    server_->onRequest([this, handler](DeviceServer::Request r) { handler(*server_, std::move(r)); });
    server_->onAbandoned([this](DeviceServer::RequestId id) { abandoned_ = id; });
    thread_ = std::thread([this] {
      while (!stop_) {
        server_->pollOnce(20);
        std::function<void(DeviceServer&)> task;
        {
          std::lock_guard lock(mutex_);
          task.swap(task_);
        }
        if (task) task(*server_);
      }
    });
  }
  ~ServedDevice() {
    stop_ = true;
    thread_.join();
  }
  // Runs fn on the server's thread at its next turn.
  void onServer(std::function<void(DeviceServer&)> fn) {
    std::lock_guard lock(mutex_);
    task_ = std::move(fn);
  }
  std::atomic<DeviceServer::RequestId> held{0};
  std::atomic<DeviceServer::RequestId> abandoned_{0};

 private:
  std::unique_ptr<DeviceServer> server_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::function<void(DeviceServer&)> task_;
};

// Answers the input reversed; code 2 fails with EINVAL; code 3 answers more than asked; code 9 is held.
void echoReversed(ServedDevice* self, DeviceServer& s, DeviceServer::Request r) {
  if (r.code == 2) {
    s.answer(r.id, EINVAL);
  } else if (r.code == 3) {
    Bytes big(r.outputCapacity + 1, 7);
    s.answer(r.id, 0, big);
  } else if (r.code == 9) {
    self->held = r.id;
  } else {
    Bytes out(r.input.rbegin(), r.input.rend());
    if (out.size() > r.outputCapacity) out.resize(r.outputCapacity);
    s.answer(r.id, 0, out);
  }
}

// Waits for another thread's progress; the ceiling only keeps a broken build from hanging.
bool waitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 100000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return done();
}

class DevioTest : public ::testing::Test {
 protected:
  testing::TempRoot root;
};

TEST_F(DevioTest, OpenFailsWhenNothingServesTheName) {
  auto h = open("\\\\.\\Scsi0:");
  ASSERT_FALSE(h.ok());
  EXPECT_EQ(h.code(), ENOENT);

  // A node left behind by a simulator that died is no device either.
  ASSERT_TRUE(paths::ensureDir(paths::deviceNode("Scsi1:").parent_path()));
  {
    UniqueFd s(::socket(AF_UNIX, SOCK_STREAM, 0));
    auto a = unixAddress(paths::deviceNode("Scsi1:").string());
    ASSERT_EQ(::bind(s.get(), a->get(), a->length), 0);
  }
  h = open("\\\\.\\Scsi1:");
  ASSERT_FALSE(h.ok());
  EXPECT_EQ(h.code(), ENOENT);
}

TEST_F(DevioTest, RequestAndAnswerThroughTheSocket) {
  ServedDevice dev("Scsi3:", [&](DeviceServer& s, DeviceServer::Request r) { echoReversed(nullptr, s, std::move(r)); });
  auto h = open("\\\\.\\Scsi3:");
  ASSERT_TRUE(h.ok()) << h.message();

  // One buffer as input and output, the way the miniport requests use it.
  Bytes buf = {1, 2, 3, 4, 5};
  auto returned = ioctl(*h, 1, buf, buf);
  ASSERT_TRUE(returned.ok()) << returned.message();
  EXPECT_EQ(*returned, 5u);
  EXPECT_EQ(buf, (Bytes{5, 4, 3, 2, 1}));

  // A shorter output buffer bounds the answer.
  Bytes in = {1, 2, 3, 4}, out(2);
  returned = ioctl(*h, 1, in, out);
  ASSERT_TRUE(returned.ok()) << returned.message();
  EXPECT_EQ(*returned, 2u);
  EXPECT_EQ(out, (Bytes{4, 3}));

  // A device's failure is the request's failure; the handle stays usable.
  EXPECT_EQ(ioctl(*h, 2, in, out).code(), EINVAL);
  // The server never sends more than the client can take.
  EXPECT_EQ(ioctl(*h, 3, in, out).code(), EOVERFLOW);
  EXPECT_TRUE(ioctl(*h, 1, in, out).ok());

  // Buffers beyond the framing's bounds are refused before anything is sent.
  Bytes huge(wire::kMaxInput + 1);
  EXPECT_EQ(ioctl(*h, 1, huge, out).code(), EMSGSIZE);
}

TEST_F(DevioTest, BlockingRequestBlocksOnlyItsCaller) {
  ServedDevice* self = nullptr;
  ServedDevice dev("Scsi0:", [&](DeviceServer& s, DeviceServer::Request r) { echoReversed(self, s, std::move(r)); });
  self = &dev;
  auto a = open("Scsi0:");
  auto b = open("\\\\.\\Scsi0:");
  ASSERT_TRUE(a.ok() && b.ok());

  Result<std::size_t> blocked = Error{-1, "not done"};
  Bytes blockedOut(4);
  std::thread worker([&] {
    Bytes in = {9, 8, 7, 6};
    blocked = ioctl(*a, 9, in, blockedOut);
  });
  ASSERT_TRUE(waitUntil([&] { return dev.held != 0; }));

  // The held request does not stop another handle.
  Bytes buf = {1, 2};
  ASSERT_TRUE(ioctl(*b, 1, buf, buf).ok());
  EXPECT_EQ(buf, (Bytes{2, 1}));

  const auto id = dev.held.load();
  dev.onServer([id](DeviceServer& s) {
    Bytes done = {0xAA};
    EXPECT_TRUE(s.answer(id, 0, done));
    EXPECT_FALSE(s.answer(id, 0, done));  // answered once only
  });
  worker.join();
  ASSERT_TRUE(blocked.ok()) << blocked.message();
  EXPECT_EQ(*blocked, 1u);
  EXPECT_EQ(blockedOut[0], 0xAA);
}

TEST_F(DevioTest, InterruptEndsABlockedRequest) {
  ServedDevice* self = nullptr;
  ServedDevice dev("Scsi8:", [&](DeviceServer& s, DeviceServer::Request r) { echoReversed(self, s, std::move(r)); });
  self = &dev;
  auto h = open("Scsi8:");
  ASSERT_TRUE(h.ok());
  const Interrupter stop = h->interrupter();
  Result<std::size_t> blocked = Error{-1, "not done"};
  std::thread worker([&] {
    Bytes buf = {1};
    blocked = ioctl(*h, 9, buf, buf);
  });
  ASSERT_TRUE(waitUntil([&] { return dev.held != 0; }));
  stop.interrupt();
  worker.join();
  EXPECT_EQ(blocked.code(), ECANCELED);
  EXPECT_FALSE(h->valid());
  h->close();
  stop.interrupt();  // harmless after the handle closed
}

TEST_F(DevioTest, TimeOutClosesTheHandle) {
  ServedDevice* self = nullptr;
  ServedDevice dev("Quellix", [&](DeviceServer& s, DeviceServer::Request r) { echoReversed(self, s, std::move(r)); });
  self = &dev;
  auto h = open("\\\\.\\Quellix");
  ASSERT_TRUE(h.ok());
  h->setTimeout(std::chrono::milliseconds(1));
  Bytes in = {1}, out(1);
  EXPECT_EQ(ioctl(*h, 9, in, out).code(), ETIMEDOUT);
  EXPECT_FALSE(h->valid());  // a late answer would no longer line up with requests
  EXPECT_EQ(ioctl(*h, 1, in, out).code(), EBADF);
}

TEST_F(DevioTest, ClientThatLeavesAbandonsItsRequest) {
  ServedDevice* self = nullptr;
  ServedDevice dev("Scsi7:", [&](DeviceServer& s, DeviceServer::Request r) { echoReversed(self, s, std::move(r)); });
  self = &dev;
  auto a = unixAddress(paths::deviceNode("Scsi7:").string());
  {
    UniqueFd s(::socket(AF_UNIX, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(s.get(), a->get(), a->length), 0);
    std::uint8_t frame[wire::kRequestHeader + 1] = {};
    wire::put32(frame, wire::kRequestMagic);
    wire::put32(frame + 4, 9);
    wire::put32(frame + 8, 1);
    ASSERT_EQ(::send(s.get(), frame, sizeof frame, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof frame));
    ASSERT_TRUE(waitUntil([&] { return dev.held != 0; }));
  }
  ASSERT_TRUE(waitUntil([&] { return dev.abandoned_ != 0; }));
  EXPECT_EQ(dev.abandoned_.load(), dev.held.load());
}

// A raw server that answers every request with the bytes given, for framing faults.
class RawDevice {
 public:
  RawDevice(const std::string& name, Bytes answer) {
    node_ = paths::deviceNode(name);
    EXPECT_TRUE(paths::ensureDir(node_.parent_path()));
    listener_.reset(::socket(AF_UNIX, SOCK_STREAM, 0));
    auto a = unixAddress(node_.string());
    EXPECT_EQ(::bind(listener_.get(), a->get(), a->length), 0);
    EXPECT_EQ(::listen(listener_.get(), 4), 0);
    thread_ = std::thread([this, answer] {
      UniqueFd c(::accept(listener_.get(), nullptr, nullptr));
      std::uint8_t head[wire::kRequestHeader];
      if (::recv(c.get(), head, sizeof head, MSG_WAITALL) != static_cast<ssize_t>(sizeof head)) return;
      Bytes rest(wire::get32(head + 8));
      if (!rest.empty()) ::recv(c.get(), rest.data(), rest.size(), MSG_WAITALL);
      ::send(c.get(), answer.data(), answer.size(), MSG_NOSIGNAL);
    });
  }
  ~RawDevice() {
    thread_.join();
    ::unlink(node_.c_str());
  }

 private:
  std::filesystem::path node_;
  UniqueFd listener_;
  std::thread thread_;
};

Bytes answerFrame(std::uint32_t magic, std::uint32_t status, std::uint32_t length, std::size_t payload) {
  Bytes f(wire::kAnswerHeader + payload);
  wire::put32(f.data(), magic);
  wire::put32(f.data() + 4, status);
  wire::put32(f.data() + 8, length);
  return f;
}

TEST_F(DevioTest, MalformedAnswersFailAndCloseTheHandle) {
  struct Case {
    const char* what;
    Bytes answer;
  };
  const Case cases[] = {
      {"wrong magic", answerFrame(0x12345678, 0, 0, 0)},
      {"longer than the buffer", answerFrame(wire::kAnswerMagic, 0, 5, 5)},
      {"failure with output", answerFrame(wire::kAnswerMagic, EIO, 1, 1)},
      {"cut short", Bytes{0x4B, 0x44}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawDevice dev("Scsi5:", c.answer);
    auto h = open("Scsi5:");
    ASSERT_TRUE(h.ok());
    Bytes in = {1}, out(4);
    EXPECT_FALSE(ioctl(*h, 1, in, out).ok());
    EXPECT_FALSE(h->valid());
  }
}

TEST_F(DevioTest, ServerDropsMalformedRequests) {
  std::atomic<int> served{0};
  ServedDevice dev("Scsi6:", [&](DeviceServer& s, DeviceServer::Request r) {
    ++served;
    s.answer(r.id, 0);
  });
  auto node = paths::deviceNode("Scsi6:");
  auto a = unixAddress(node.string());
  struct Case {
    const char* what;
    std::uint32_t magic, inLength, capacity;
  };
  const Case cases[] = {
      {"wrong magic", 0x11111111, 0, 0},
      {"input too long", wire::kRequestMagic, wire::kMaxInput + 1, 0},
      {"capacity too large", wire::kRequestMagic, 0, wire::kMaxOutput + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UniqueFd s(::socket(AF_UNIX, SOCK_STREAM, 0));
    ASSERT_EQ(::connect(s.get(), a->get(), a->length), 0);
    std::uint8_t head[wire::kRequestHeader];
    wire::put32(head, c.magic);
    wire::put32(head + 4, 1);
    wire::put32(head + 8, c.inLength);
    wire::put32(head + 12, c.capacity);
    ASSERT_EQ(::send(s.get(), head, sizeof head, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof head));
    std::uint8_t b;
    EXPECT_EQ(::recv(s.get(), &b, 1, 0), 0);  // closed without an answer
  }
  EXPECT_EQ(served.load(), 0);
}

TEST_F(DevioTest, ListenRefusesALiveNodeAndRemovesItsOwn) {
  auto first = DeviceServer::listen("Scsi2:");
  ASSERT_TRUE(first.ok());
  auto second = DeviceServer::listen("\\\\.\\Scsi2:");
  EXPECT_EQ(second.code(), EADDRINUSE);
  first->reset();
  EXPECT_FALSE(std::filesystem::exists(paths::deviceNode("Scsi2:")));
  EXPECT_EQ(open("Scsi2:").code(), ENOENT);
}

TEST_F(DevioTest, InProcessDeviceServesUnitTests) {
  std::vector<std::uint32_t> codes;
  {
    InProcessDevice dev("\\\\.\\Scsi4:", [&](std::uint32_t code, std::span<const std::uint8_t> in,
                                              std::span<std::uint8_t> out) -> Result<std::size_t> {
      codes.push_back(code);
      if (code == 2) return Error{EIO, "failed"};
      // Writes its output before reading all its input: the copy keeps one buffer safe.
      for (std::size_t i = 0; i < in.size() && i < out.size(); ++i) out[i] = in[in.size() - 1 - i];
      return std::min(in.size(), out.size());
    });
    auto h = open("Scsi4:");
    ASSERT_TRUE(h.ok());
    Bytes buf = {1, 2, 3};
    auto returned = ioctl(*h, 1, buf, buf);
    ASSERT_TRUE(returned.ok()) << returned.message();
    EXPECT_EQ(buf, (Bytes{3, 2, 1}));
    EXPECT_EQ(*returned, 3u);
    EXPECT_EQ(ioctl(*h, 2, buf, buf).code(), EIO);
  }
  EXPECT_EQ(codes, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(open("Scsi4:").code(), ENOENT);
}

}  // namespace
}  // namespace plat::devio
