#include "sim/ide/ide_simulator.h"

#include "platform/base/format.h"
#include "platform/base/paths.h"
#include "sim/core/device_ports.h"
#include "platform/kernel/version_block.h"
#include "sim/core/text_args.h"

namespace sim::ide {
namespace {

constexpr int kOwnName = kScsiPorts;

std::string deviceName(int server) {
  return server == kOwnName ? std::string("Quellix") : "Scsi" + std::to_string(server) + ":";
}

struct FaultName {
  const char* name;
  ProtocolFault kind;
};
constexpr FaultName kProtocolFaults[] = {
    {"wrong-length", ProtocolFault::WrongLength},
    {"short-reply", ProtocolFault::ShortReply},
    {"return-code-left", ProtocolFault::ReturnCodeLeft},
    {"fail-requests", ProtocolFault::Fail},
};

}  // namespace

std::filesystem::path driverFilePath() { return plat::paths::windowsDir() / "system32/drivers/marovelt.sys"; }

std::optional<std::pair<std::uint16_t, std::uint16_t>> parseDriverVersion(const std::string& text) {
  auto dot = text.find('.');
  if (dot == std::string::npos) return std::nullopt;
  auto major = parseInt(text.substr(0, dot), 0, 0xFFFF);
  auto minor = parseInt(text.substr(dot + 1), 0, 0xFF);
  if (!major || !minor) return std::nullopt;
  return std::pair{static_cast<std::uint16_t>(*major), static_cast<std::uint16_t>(*minor)};
}

IdeSimulator::IdeSimulator() = default;

IdeSimulator::~IdeSimulator() { stop(); }

std::unique_ptr<Simulator> makeIdeSimulator() { return std::make_unique<IdeSimulator>(); }

plat::Result<void> IdeSimulator::start() {
  started_ = true;
  return install();
}

plat::Result<void> IdeSimulator::install() {
  if (auto written = writeDriverFile(); !written) return written;
  return publish();
}

void IdeSimulator::stop() {
  if (!started_) return;
  started_ = false;
  miniport_.forgetIf([](Ticket) { return true; });
  for (auto& s : servers_) s.reset();
  std::error_code ec;
  std::filesystem::remove(driverFilePath(), ec);
}

plat::Result<void> IdeSimulator::writeDriverFile() {
  auto file = driverFilePath();
  std::error_code ec;
  if (!model_.present()) {
    std::filesystem::remove(file, ec);
    return plat::success();
  }
  if (auto made = plat::paths::ensureDir(file.parent_path()); !made) return made;
  plat::kernel::VersionInfo info;
  std::string version = std::to_string(model_.versionMajor()) + "." + std::to_string(model_.versionMinor()) + ".0.0";
  auto words = plat::kernel::parseVersionWords(version);
  info.fixed.fileVersionMS = info.fixed.productVersionMS = words->first;
  info.fixed.fileVersionLS = info.fixed.productVersionLS = words->second;
  info.fixed.fileType = plat::kernel::kFileTypeDriver;
  info.translations.push_back({0x0409, 0x04B0});
  info.tables.push_back({{0x0409, 0x04B0},
                         {{"CompanyName", "Marovelt"},
                          {"FileDescription", "Marovelt IDE RAID miniport driver"},
                          {"FileVersion", version},
                          {"InternalName", "marovelt.sys"},
                          {"OriginalFilename", "marovelt.sys"},
                          {"ProductVersion", version}}});
  if (auto written = plat::kernel::writeVersionFile(file, info); !written)
    return plat::Error{written.code(), "cannot write the driver file " + file.string() + ": " + written.message()};
  return plat::success();
}

plat::Result<void> IdeSimulator::publish() {
  if (!started_) return plat::success();
  for (int s = 0; s <= kOwnName; ++s) {
    bool wanted = model_.present() && (s == kOwnName || s <= model_.port());
    auto& server = servers_[static_cast<std::size_t>(s)];
    if (!wanted) {
      // Requests it held can no longer be answered; a later server there numbers its own afresh.
      if (server) miniport_.forgetIf([s](Ticket t) { return static_cast<int>(t >> 48) == s; });
      server.reset();
      continue;
    }
    if (server) continue;
    if (auto served = serveDevice(server, deviceName(s)); !served) return served;
    server->onRequest([this, s](plat::devio::DeviceServer::Request r) { onRequest(s, std::move(r)); });
    server->onAbandoned([this, s](plat::devio::DeviceServer::RequestId id) { miniport_.forget(ticketOf(s, id)); });
  }
  return plat::success();
}

void IdeSimulator::onRequest(int server, plat::devio::DeviceServer::Request r) {
  auto& srv = servers_[static_cast<std::size_t>(server)];
  Answer a;
  if (server != kOwnName && server != model_.port()) {
    a = foreignAnswer(r.input, r.outputCapacity);
  } else {
    auto now = miniport_.request(ticketOf(server, r.id), r.code, r.input, r.outputCapacity, lastModelMs_);
    if (!now) return;  // answered when its task ends
    a = std::move(*now);
  }
  srv->answer(r.id, static_cast<std::uint32_t>(a.status), a.out);
}

void IdeSimulator::deliver() {
  for (auto& [ticket, a] : miniport_.takeAnswers()) {
    auto server = static_cast<std::size_t>(ticket >> 48);
    if (server < servers_.size() && servers_[server])
      servers_[server]->answer(ticket & ((Ticket{1} << 48) - 1), static_cast<std::uint32_t>(a.status), a.out);
  }
}

void IdeSimulator::watches(std::vector<Watch>& out) { deviceWatches(servers_, out); }

void IdeSimulator::ready(int fd, short revents, std::int64_t nowMs) {
  lastModelMs_ = nowMs;
  if (fd < 0) return;
  model_.advance(nowMs);
  deviceReady(servers_, fd, revents);
  deliver();
}

std::int64_t IdeSimulator::advance(std::int64_t nowMs) {
  lastModelMs_ = nowMs;
  std::int64_t next = model_.advance(nowMs);
  deliver();
  return next;
}

std::string IdeSimulator::status() const {
  std::string s = model_.status(lastModelMs_);
  if (model_.present()) {
    s += "devices:";
    for (int i = 0; i <= kOwnName; ++i)
      if (servers_[static_cast<std::size_t>(i)])
        s += " " + deviceName(i) + (i == kOwnName || i == model_.port() ? "" : " (other adapter)");
    s += "\ndriver file: " + driverFilePath().string() + "\n";
  }
  return s + miniport_.status();
}

bool IdeSimulator::fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) {
  std::int64_t now = lastModelMs_;
  auto arg = [&](std::size_t i, std::int64_t min, std::int64_t max) -> std::optional<std::int64_t> {
    return i < args.size() ? parseInt(args[i], min, max) : std::nullopt;
  };
  auto usage = [&](const char* text) {
    *reply = std::string("error: usage: ") + text + "\n";
    return true;
  };

  if (name == "disk-fail") {
    auto disk = arg(0, 0, kMaxDisks - 1);
    if (!disk || args.size() != 1) return usage("disk-fail DISK");
    *reply = faultReply(model_.failDisk(static_cast<int>(*disk), now));
    deliver();
    return true;
  }
  if (name == "disk-insert") {
    auto disk = arg(0, 0, kMaxDisks - 1);
    auto size = args.size() > 1 ? arg(1, 1, 8LL * 1024 * 1024) : std::optional<std::int64_t>(0);
    if (!disk || !size || args.size() > 2) return usage("disk-insert DISK [SIZE_MB]");
    *reply = faultReply(model_.insertDisk(static_cast<int>(*disk), static_cast<std::uint64_t>(*size), now));
    return true;
  }
  if (name == "media-error") {
    auto disk = arg(0, 0, kMaxDisks - 1);
    auto lba = args.size() > 1 ? arg(1, 0, 0xFFFFFFFF) : std::optional<std::int64_t>(0x1000);
    if (!disk || !lba || args.size() > 2) return usage("media-error DISK [LBA]");
    *reply = faultReply(model_.mediaError(static_cast<int>(*disk), static_cast<std::uint32_t>(*lba), now));
    return true;
  }
  if (name == "enclosure") {
    const char* text = "enclosure CHANNEL fan RPM | temperature C | 5v VOLTS | 12v VOLTS";
    auto channel = arg(0, 0, kMaxChannels - 1);
    if (!channel || args.size() != 3) return usage(text);
    int ch = static_cast<int>(*channel);
    const std::string& what = args[1];
    if (what == "fan") {
      auto rpm = arg(2, 0, 20000);
      if (!rpm) return usage(text);
      *reply = faultReply(model_.enclosureFan(ch, static_cast<int>(*rpm), now));
    } else if (what == "temperature") {
      auto c = arg(2, 0, 150);
      if (!c) return usage(text);
      *reply = faultReply(model_.enclosureTemperature(ch, static_cast<int>(*c), now));
    } else if (what == "5v" || what == "12v") {
      // Volts with at most one decimal; the driver reports millivolts.
      const std::string& v = args[2];
      auto dot = v.find('.');
      auto whole = parseInt(v.substr(0, dot), 0, 30);
      std::optional<std::int64_t> tenth = dot == std::string::npos ? 0 : parseInt(v.substr(dot + 1), 0, 9);
      if (!whole || !tenth || (dot != std::string::npos && v.size() != dot + 2)) return usage(text);
      *reply = faultReply(
          model_.enclosureVoltage(ch, what == "5v" ? 5 : 12, static_cast<int>(*whole * 1000 + *tenth * 100), now));
    } else {
      return usage(text);
    }
    return true;
  }
  if (name == "driver-event") {
    auto code = arg(0, 0, 0xFFFFFFFF);
    if (!code || args.size() > 7) return usage("driver-event CODE [CATEGORY [W20 [W24 [W28 [W36 [W40]]]]]]");
    DriverEvent e;
    e.code = static_cast<std::uint32_t>(*code);
    for (std::size_t i = 1; i < args.size(); ++i) {
      auto v = arg(i, 0, 0xFFFFFFFF);
      if (!v) return usage("driver-event CODE [CATEGORY [W20 [W24 [W28 [W36 [W40]]]]]] (words 0 to 0xFFFFFFFF)");
      (i == 1 ? e.category : e.args[i - 2]) = static_cast<std::uint32_t>(*v);
    }
    model_.pushEvent(e, now);
    *reply = plat::format("ok: driver event 0x%08X queued\n", e.code);
    return true;
  }
  for (const auto& f : kProtocolFaults) {
    if (name != f.name) continue;
    auto count = args.empty() ? std::optional<std::int64_t>(1) : arg(0, 1, 1000000);
    auto code = args.size() > 1 ? arg(1, 1, 24) : std::optional<std::int64_t>(-1);
    if (!count || !code || args.size() > 2 || (*code > 0 && !dataLength(static_cast<std::uint32_t>(*code)))) {
      *reply = std::string("error: usage: ") + f.name + " [COUNT [CODE]] (a request code the driver knows)\n";
      return true;
    }
    miniport_.addFault(f.kind, static_cast<int>(*count), static_cast<int>(*code));
    *reply = "ok: " + std::string(f.name) + " for the next " + std::to_string(*count) +
             (*code < 0 ? " requests\n" : " requests of code " + std::to_string(*code) + "\n");
    return true;
  }
  if (name == "protocol-clear") {
    miniport_.clearFaults();
    *reply = "ok: requests are answered as they should be\n";
    return true;
  }
  if (name == "driver-version") {
    auto v = args.size() == 1 ? parseDriverVersion(args[0]) : std::nullopt;
    if (!v) return usage("driver-version MAJOR.MINOR");
    model_.setVersion(v->first, v->second);
    if (auto written = started_ ? writeDriverFile() : plat::success(); !written) {
      *reply = "error: " + written.message() + "\n";
      return true;
    }
    *reply = "ok: the driver reports version " + args[0] + "\n";
    return true;
  }
  if (name == "driver-port" || name == "no-driver") {
    if (name == "no-driver" ? !args.empty() : args.size() != 1) return usage("driver-port 0-9 | no-driver");
    if (name == "driver-port") {
      auto p = arg(0, 0, kScsiPorts - 1);
      if (!p) return usage("driver-port 0-9");
      model_.setPort(static_cast<int>(*p));
    }
    model_.setPresent(name == "driver-port");
    if (auto installed = started_ ? install() : plat::success(); !installed) {
      *reply = "error: " + installed.message() + "\n";
      return true;
    }
    *reply = model_.present() ? "ok: the driver answers on Scsi" + std::to_string(model_.port()) + ":\n"
                              : "ok: no driver answers\n";
    return true;
  }
  return false;
}

}  // namespace sim::ide
