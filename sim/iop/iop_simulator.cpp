#include "sim/iop/iop_simulator.h"

#include "platform/base/format.h"
#include "platform/base/paths.h"
#include "sim/core/device_ports.h"
#include "sim/core/driver_file.h"
#include "sim/core/text_args.h"

namespace sim::iop {
namespace {

constexpr int kOwnDevice = kScsiPorts;
constexpr std::size_t kMaxLongText = 2000;
constexpr std::size_t kMaxExtraMembers = 64;

std::string deviceName(int server) {
  return server == kOwnDevice ? std::string("i2oexec") : "Scsi" + std::to_string(server) + ":";
}

constexpr const char* kDriverVersion = "2.10.0.0";

}  // namespace

std::filesystem::path driverFilePath() { return plat::paths::windowsDir() / "system32/drivers/quorvan.sys"; }

IopSimulator::~IopSimulator() { stop(); }

std::unique_ptr<Simulator> makeIopSimulator() { return std::make_unique<IopSimulator>(); }

void IopSimulator::configureDefault() {
  model_.loadDefault();
  serving_ = Serving{};
}

plat::Result<void> IopSimulator::parsePath(const std::vector<std::string>& w) {
  if (w[0] == "path") {
    if (w.size() == 2 && w[1] == "direct") {
      serving_.direct = true;
      serving_.tunnelPort = -1;
      return plat::success();
    }
    if (w.size() == 2 && w[1] == "none") {
      serving_.direct = false;
      serving_.tunnelPort = -1;
      return plat::success();
    }
    auto port = w.size() == 3 && w[1] == "tunnel" ? parseInt(w[2], 0, kScsiPorts - 2) : std::nullopt;
    if (port) {
      serving_.direct = false;
      serving_.tunnelPort = static_cast<int>(*port);
      if (serving_.foreignPort == serving_.tunnelPort || serving_.foreignPort == serving_.tunnelPort + 1)
        serving_.foreignPort = -1;
      return plat::success();
    }
    return plat::Error{EINVAL, "usage: path direct | tunnel PORT (0 to 8; the second card takes PORT+1) | none"};
  }
  // foreign-port
  if (w.size() == 2 && w[1] == "off") {
    serving_.foreignPort = -1;
    return plat::success();
  }
  auto port = w.size() == 2 ? parseInt(w[1], 0, kScsiPorts - 1) : std::nullopt;
  if (!port || (serving_.tunnelPort >= 0 && (*port == serving_.tunnelPort || *port == serving_.tunnelPort + 1)))
    return plat::Error{EINVAL, "usage: foreign-port PORT|off (0 to 9, not a port of the tunnel path)"};
  serving_.foreignPort = static_cast<int>(*port);
  return plat::success();
}

plat::Result<void> IopSimulator::configure(const std::vector<std::string>& lines) {
  model_.loadDefault();
  serving_ = Serving{};
  std::vector<std::string> rest;
  for (const auto& line : lines) {
    auto w = splitWords(line);
    if (w && !w->empty() && ((*w)[0] == "path" || (*w)[0] == "foreign-port")) {
      if (auto parsed = parsePath(*w); !parsed) return parsed;
      continue;
    }
    rest.push_back(line);
  }
  return model_.configure(rest);
}

plat::Result<void> IopSimulator::start() {
  started_ = true;
  return publish();
}

void IopSimulator::stop() {
  if (!started_) return;
  started_ = false;
  for (auto& s : servers_) s.reset();
  driver_.forgetAll();
  std::error_code ec;
  std::filesystem::remove(driverFilePath(), ec);
}

plat::Result<void> IopSimulator::installDriverFile() {
  const auto file = driverFilePath();
  std::error_code ec;
  if (!serving_.direct && serving_.tunnelPort < 0) {
    std::filesystem::remove(file, ec);
    return plat::success();
  }
  if (std::filesystem::exists(file, ec)) return plat::success();
  return writeDriverFile(file, {"Palindrex", "Palindrex I2O RAID driver", kDriverVersion});
}

bool IopSimulator::wanted(int s) const {
  if (s == kOwnDevice) return serving_.direct;
  if (s == serving_.foreignPort) return true;
  if (serving_.tunnelPort < 0) return false;
  return s == serving_.tunnelPort || (s == serving_.tunnelPort + 1 && model_.cardCount() > 1);
}

plat::Result<void> IopSimulator::publish() {
  if (!started_) return plat::success();
  if (auto installed = installDriverFile(); !installed) return installed;
  for (int s = 0; s <= kOwnDevice; ++s) {
    auto& server = servers_[static_cast<std::size_t>(s)];
    if (!wanted(s)) {
      server.reset();
      continue;
    }
    if (server) continue;
    if (auto served = serveDevice(server, deviceName(s)); !served) return served;
    server->onRequest([this, s](plat::devio::DeviceServer::Request r) { onRequest(s, std::move(r)); });
    server->onClosed([this, s](plat::devio::DeviceServer::ConnectionId c) { driver_.closed(key(s, c)); });
  }
  return plat::success();
}

void IopSimulator::onRequest(int server, plat::devio::DeviceServer::Request r) {
  auto& srv = servers_[static_cast<std::size_t>(server)];
  Answer a;
  if (server == serving_.foreignPort) {
    a = Driver::foreignAnswer(r.input, r.outputCapacity);
  } else {
    a = driver_.request(key(server, r.connection), server == kOwnDevice ? Path::Direct : Path::Tunnel, r.code,
                        r.input, r.outputCapacity);
  }
  srv->answer(r.id, static_cast<std::uint32_t>(a.status), a.out);
}

void IopSimulator::watches(std::vector<Watch>& out) { deviceWatches(servers_, out); }

void IopSimulator::ready(int fd, short revents, std::int64_t nowMs) {
  if (fd < 0) return;
  model_.advance(nowMs);
  deviceReady(servers_, fd, revents);
}

std::int64_t IopSimulator::advance(std::int64_t nowMs) { return model_.advance(nowMs); }

std::string IopSimulator::status() const {
  std::string s = model_.status();
  s += "devices:";
  bool any = false;
  for (int i = 0; i <= kOwnDevice; ++i)
    if (servers_[static_cast<std::size_t>(i)]) {
      s += " " + deviceName(i) + (i == serving_.foreignPort ? " (other adapter)" : "");
      any = true;
    }
  s += any ? "\n" : " none\n";
  s += plat::format("task: %lld ms; handles bound: %zu\n", static_cast<long long>(model_.taskMs()), driver_.boundHandles());
  // Faults waiting, so that an administrator sees why answers differ.
  const ModelFaults& mf = model_.faults();
  const TransportFaults& tf = driver_.faults();
  std::string f;
  for (const auto& [code, st] : mf.status) f += plat::format(" command 0x%04X status %u;", code, st);
  if (mf.longText) f += plat::format(" names %zu long;", mf.longText);
  if (mf.extraMembers) f += plat::format(" %zu extra members;", mf.extraMembers);
  if (tf.fail) f += plat::format(" %d transport failures;", tf.fail);
  if (tf.identifyFail) f += plat::format(" %d identify failures;", tf.identifyFail);
  if (tf.shortReply) f += plat::format(" %d short replies;", tf.shortReply);
  if (!f.empty()) s += "faults:" + f + "\n";
  return s;
}

bool IopSimulator::fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) {
  auto arg = [&](std::size_t i, std::int64_t min, std::int64_t max) -> std::optional<std::int64_t> {
    return i < args.size() ? parseInt(args[i], min, max) : std::nullopt;
  };
  auto usage = [&](const char* text) {
    *reply = std::string("error: usage: ") + text + "\n";
    return true;
  };
  ModelFaults& mf = model_.faults();
  TransportFaults& tf = driver_.faults();

  if (name == "disk-fail" || name == "disk-insert") {
    auto card = arg(0, 0, kMaxCards - 1), ch = arg(1, 0, kMaxChannels - 1), pos = arg(2, 0, kMaxPositions - 1);
    if (name == "disk-fail") {
      if (!card || !ch || !pos || args.size() != 3) return usage("disk-fail CARD CHANNEL POSITION");
      *reply = faultReply(model_.failDisk(static_cast<int>(*card), static_cast<int>(*ch), static_cast<int>(*pos)));
      return true;
    }
    auto mb = args.size() > 3 ? arg(3, 1, 2 * 1024 * 1024) : std::optional<std::int64_t>(36 * 1024);
    if (!card || !ch || !pos || !mb || args.size() > 4) return usage("disk-insert CARD CHANNEL POSITION [SIZE_MB]");
    *reply = faultReply(model_.insertDisk(static_cast<int>(*card), static_cast<int>(*ch), static_cast<int>(*pos),
                                          static_cast<std::uint32_t>(*mb)));
    return true;
  }
  if (name == "sensor") {
    auto card = arg(0, 0, kMaxCards - 1), ch = arg(1, 0, kMaxChannels - 1), v = arg(3, 0, 100000);
    if (!card || !ch || !v || args.size() != 4)
      return usage("sensor CARD CHANNEL fan RPM | temperature HALF_C | 5v MILLIVOLTS | 12v MILLIVOLTS");
    *reply = faultReply(
        model_.setSensor(static_cast<int>(*card), static_cast<int>(*ch), args[2], static_cast<std::uint32_t>(*v)));
    return true;
  }
  if (name == "event") {
    auto card = arg(0, 0, kMaxCards - 1), type = arg(1, 0, 0xFFFFFFFF), sev = arg(2, 0, 0xFFFFFFFF);
    if (!card || !type || !sev || args.size() > 3 + 16) return usage("event CARD TYPE SEVERITY [ARG...] (at most 16)");
    Event e{static_cast<std::uint32_t>(*type), static_cast<std::uint32_t>(*sev), {}};
    for (std::size_t i = 3; i < args.size(); ++i) {
      auto v = arg(i, 0, 0xFFFFFFFF);
      if (!v) return usage("event CARD TYPE SEVERITY [ARG...] (words 0 to 0xFFFFFFFF)");
      e.args.push_back(static_cast<std::uint32_t>(*v));
    }
    model_.pushEvent(static_cast<int>(*card), std::move(e));
    *reply = plat::format("ok: event %lld queued with %zu arguments\n", static_cast<long long>(*type), args.size() - 3);
    return true;
  }
  if (name == "command-status") {
    auto code = arg(0, 0, 0xFFFF), status = arg(1, 0, 0xFFFFFFFF);
    if (!code || !status || args.size() != 2 || !findCommand(static_cast<std::uint16_t>(*code)))
      return usage("command-status COMMAND STATUS (a command of the API; status 0 answers normally again)");
    if (*status == 0)
      mf.status.erase(static_cast<std::uint16_t>(*code));
    else
      mf.status[static_cast<std::uint16_t>(*code)] = static_cast<std::uint32_t>(*status);
    *reply = plat::format("ok: command 0x%04llX answers status %lld\n", static_cast<long long>(*code),
                          static_cast<long long>(*status));
    return true;
  }
  if (name == "transport-fail" || name == "identify-fail" || name == "short-reply") {
    auto count = args.empty() ? std::optional<std::int64_t>(1) : arg(0, 0, 1000000);
    if (name == "identify-fail") {
      if (!count || args.size() > 1) return usage("identify-fail [COUNT]");
      tf.identifyFail = static_cast<int>(*count);
    } else if (name == "transport-fail") {
      auto code = args.size() > 1 ? arg(1, 1, 0xFFFFFFFF) : std::optional<std::int64_t>(0);
      if (!count || !code || args.size() > 2) return usage("transport-fail [COUNT [CONTROL_CODE]]");
      tf.fail = static_cast<int>(*count);
      tf.failCode = static_cast<std::uint32_t>(*code);
    } else {
      auto command = args.size() > 1 ? arg(1, 0, 0xFFFF) : std::optional<std::int64_t>(0xFFFF);
      if (!count || !command || args.size() > 2 ||
          (*command != 0xFFFF && !findCommand(static_cast<std::uint16_t>(*command))))
        return usage("short-reply [COUNT [COMMAND]]");
      tf.shortReply = static_cast<int>(*count);
      tf.shortCommand = static_cast<std::uint16_t>(*command);
    }
    *reply = "ok: " + name + " for the next " + std::to_string(*count) + " requests\n";
    return true;
  }
  if (name == "long-text") {
    auto n = arg(0, 0, kMaxLongText);
    if (!n || args.size() != 1) return usage("long-text LENGTH (0 to 2000; 0 answers the real names)");
    mf.longText = static_cast<std::size_t>(*n);
    *reply = "ok: names are " + (*n ? std::to_string(*n) + " characters long\n" : std::string("real again\n"));
    return true;
  }
  if (name == "long-members") {
    auto n = arg(0, 0, kMaxExtraMembers);
    if (!n || args.size() != 1) return usage("long-members EXTRA (0 to 64 handles more in every member list)");
    mf.extraMembers = static_cast<std::size_t>(*n);
    *reply = "ok: member lists carry " + std::to_string(*n) + " handles more\n";
    return true;
  }
  if (name == "second-absent" || name == "second-present") {
    if (!args.empty() || !model_.card(1)) return usage("second-absent | second-present (with a second card)");
    model_.card(1)->present = name == "second-present";
    *reply = "ok: IOP2 " + std::string(name == "second-present" ? "answers\n" : "does not answer\n");
    return true;
  }
  if (name == "path" || name == "foreign-port") {
    std::vector<std::string> w{name};
    w.insert(w.end(), args.begin(), args.end());
    Serving before = serving_;
    if (auto parsed = parsePath(w); !parsed) {
      *reply = "error: " + parsed.message() + "\n";
      return true;
    }
    if (auto published = started_ ? publish() : plat::success(); !published) {
      // What stood before keeps being served; it stood a moment ago, so serving it again is not checked.
      serving_ = before;
      (void)publish();
      *reply = "error: " + published.message() + "\n";
      return true;
    }
    *reply = "ok: " + name + " set\n";
    return true;
  }
  if (name == "clear") {
    if (!args.empty()) return usage("clear");
    mf = {};
    tf = {};
    *reply = "ok: requests are answered as they should be\n";
    return true;
  }
  return false;
}

}  // namespace sim::iop
