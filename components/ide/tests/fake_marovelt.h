#pragma once
// A scripted Marovelt driver for unit tests, served in-process on a SCSI port: it keeps the
// driver's tables as plain bytes, answers each miniport request, and records every request.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "components/ide/srb.h"
#include "platform/devio/device.h"

namespace tirrow::testing {

using Bytes = std::vector<std::uint8_t>;

struct Request {
  int port;
  std::uint32_t code;
  Bytes bytes;  // as sent: header and data
};

class FakeMarovelt {
 public:
  explicit FakeMarovelt(int port = 0, std::uint32_t version = 2) { Serve(port, version); }

  // Serves another port; version 0xFFFFFFFF leaves the return code untouched (not the driver).
  void Serve(int port, std::uint32_t version) {
    devices_.push_back(std::make_unique<plat::devio::InProcessDevice>(
        "\\\\.\\Scsi" + std::to_string(port) + ":",
        [this, port, version](std::uint32_t code, std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
          return Answer(port, version, code, in, out);
        }));
  }

  // Builders of the model.
  void SetController(int index, int channels = 2) {
    std::lock_guard lock(mutex);
    if (controllers.size() <= static_cast<std::size_t>(index)) controllers.resize(index + 1);
    auto& r = controllers[index];
    r.fill(0);
    Put32(&r[8], 0xD800 + index);     // bus master base
    Put32(&r[12], 10 + index);        // IRQ
    Put32(&r[20], 0xC8000 + index);   // ROM base
    Put32(&r[24], 0x1F0), Put32(&r[28], 0x170), Put32(&r[32], 0x3F6), Put32(&r[36], 0x376);
    Put32(&r[48], channels);
  }
  // A drive in a controller's slot (channel 0/1, device 0/1), in the disk table at diskIndex.
  void SetDrive(int controller, int channel, int device, int diskIndex, const std::string& model,
                std::uint8_t status = 0x07, int cylinders = 1000, int heads = 16, int sectors = 63) {
    std::lock_guard lock(mutex);
    auto& r = controllers.at(controller);
    std::uint8_t* w = &r[52 + (channel * 2 + device) * 178];
    std::memset(w, 0, 178);
    Put16(w + 2, static_cast<std::uint16_t>(cylinders));
    Put16(w + 6, static_cast<std::uint16_t>(heads));
    Put16(w + 12, static_cast<std::uint16_t>(sectors));
    std::string m = model;
    m.resize(40, ' ');
    for (int i = 0; i < 20; ++i) {
      w[54 + 2 * i] = static_cast<std::uint8_t>(m[2 * i + 1]);
      w[54 + 2 * i + 1] = static_cast<std::uint8_t>(m[2 * i]);
    }
    Put16(w + 98, 0x100);   // word 49: DMA
    Put16(w + 106, 0x4);    // word 53: word 88 valid
    Put16(w + 176, 0x2000); // word 88: UDMA mode 5 selected
    r[764 + channel * 2 + device] = 1;
    std::uint8_t* d = &disks[diskIndex * kDiskRecordSize];
    d[0] = status;
    d[2] = static_cast<std::uint8_t>(controller * 2 + channel);
    d[3] = static_cast<std::uint8_t>(device);
  }
  // An array in a slot with members given as disk indexes (all present and online).
  void SetArray(int slot, int typeCode, const std::vector<int>& members, std::uint8_t flags = 0x0F) {
    std::lock_guard lock(mutex);
    std::uint8_t* a = &arrays[slot * kArrayRecordSize];
    std::memset(a, 0, kArrayRecordSize);
    a[2] = flags;
    a[3] = static_cast<std::uint8_t>(typeCode);
    a[4] = static_cast<std::uint8_t>(members.size());
    Put16(a + 12, 999);  // cylinders - 1
    a[14] = 15;          // heads - 1
    a[15] = 63;
    Put16(a + 28, 128);
    for (std::size_t m = 0; m < members.size(); ++m) {
      a[32 + 4 * m] = 0x03;
      a[33 + 4 * m] = static_cast<std::uint8_t>(members[m]);
    }
  }
  void AddEvent(std::uint32_t code, std::uint32_t category, std::vector<std::uint32_t> words) {
    std::lock_guard lock(mutex);
    std::array<std::uint8_t, kEventRecordSize> e{};
    Put32(&e[0], code);
    Put32(&e[16], category);
    const int at[] = {20, 24, 28, 36, 40};
    for (std::size_t i = 0; i < words.size() && i < 5; ++i) Put32(&e[at[i]], words[i]);
    events.push_back(e);
  }

  std::vector<Request> Requests() {
    std::lock_guard lock(mutex);
    return requests;
  }
  int CountOf(std::uint32_t code) {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const auto& r : requests) n += r.code == code;
    return n;
  }
  void ClearRequests() {
    std::lock_guard lock(mutex);
    requests.clear();
  }
  // Holds rebuild and synchronise requests until Release().
  void HoldTasks() {
    std::lock_guard lock(mutex);
    hold = true;
  }
  void Release() {
    {
      std::lock_guard lock(mutex);
      hold = false;
    }
    released.notify_all();
  }
  int HeldTasks() {
    std::lock_guard lock(mutex);
    return held;
  }

  std::mutex mutex;
  std::vector<std::array<std::uint8_t, kControllerRecordSize>> controllers;
  std::array<std::uint8_t, kArrayTableSize> arrays{};
  std::array<std::uint8_t, kDiskTableSize> disks{};
  std::array<std::uint8_t, kActivitySize> activity{};
  std::vector<std::array<std::uint8_t, kEventRecordSize>> events;
  std::uint32_t hardwareModel = 3, pciDevice = 0x4d38;
  int pciMaximum = 8, pciThreshold = 4, maintenanceRate = 6, smartEnable = 1, diskSmart = 1;
  // The return codes of setting requests and of rebuild and synchronise requests (0: carried out).
  std::uint32_t settingReturn = 0, taskReturn = 0;
  std::map<int, int> enclosureType;                       // by channel
  std::map<std::pair<int, int>, int> enclosureValue;      // (channel, sub-function) -> value
  // Faults: a reply Length to report for a code, or a returned byte count to cut to.
  std::map<std::uint32_t, std::uint32_t> replyLength;
  std::map<std::uint32_t, std::size_t> cutTo;
  std::map<std::uint32_t, int> failNext;  // code -> how many requests fail
  std::vector<Request> requests;
  bool hold = false;
  int held = 0;
  std::condition_variable released;

 private:
  plat::Result<std::size_t> Answer(int port, std::uint32_t version, std::uint32_t ioctl,
                                   std::span<const std::uint8_t> in, std::span<std::uint8_t> out) {
    std::unique_lock lock(mutex);
    if (ioctl != IOCTL_SCSI_MINIPORT || in.size() < kSrbHeaderLength || out.size() < in.size()) {
      return plat::Error{EINVAL, "bad request"};
    }
    const std::uint32_t code = Get32(&in[16]);
    requests.push_back({port, code, Bytes(in.begin(), in.end())});
    std::copy(in.begin(), in.end(), out.begin());
    if (version == 0xFFFFFFFFu) return in.size();  // another adapter: the request comes back untouched
    if (auto f = failNext.find(code); f != failNext.end() && f->second > 0) {
      --f->second;
      return plat::Error{EIO, "failed"};
    }
    std::uint8_t* data = out.data() + kSrbHeaderLength;
    const std::uint8_t* req = in.data() + kSrbHeaderLength;
    auto setReturn = [&](std::uint32_t v) { Put32(out.data() + 20, v); };
    auto copyTable = [&](const std::uint8_t* table, std::size_t n) { std::memcpy(data, table, std::min(n, in.size() - kSrbHeaderLength)); };
    switch (code) {
      case kMpVersion: setReturn(version); break;
      case kMpControllerCount: setReturn(static_cast<std::uint32_t>(controllers.size())); break;
      case kMpArrayTable: copyTable(arrays.data(), arrays.size()); break;
      case kMpController: {
        const std::uint32_t c = Get32(req);
        if (c < controllers.size()) copyTable(controllers[c].data(), kControllerRecordSize);
        break;
      }
      case kMpDiskTable: copyTable(disks.data(), disks.size()); break;
      case kMpActivity: copyTable(activity.data(), activity.size()); break;
      case kMpGetPciThreshold: setReturn(static_cast<std::uint32_t>(pciThreshold)); break;
      case kMpSetPciThreshold:
        setReturn(settingReturn);
        if (settingReturn == 0) pciThreshold = req[0];
        break;
      case kMpGetPciMaximum: setReturn(static_cast<std::uint32_t>(pciMaximum)); break;
      case kMpSetMaintenanceRate:
        setReturn(settingReturn);
        if (settingReturn == 0) maintenanceRate = req[0];
        break;
      case kMpGetMaintenanceRate: setReturn(static_cast<std::uint32_t>(maintenanceRate)); break;
      case kMpEventCount: Put32(data, static_cast<std::uint32_t>(events.size())); break;
      case kMpReadEvents: {
        const std::uint32_t n = std::min<std::uint32_t>(Get32(req), static_cast<std::uint32_t>(events.size()));
        for (std::uint32_t i = 0; i < n; ++i) std::memcpy(data + 4 + i * kEventRecordSize, events[i].data(), kEventRecordSize);
        events.erase(events.begin(), events.begin() + n);
        break;
      }
      case kMpDiskSmart: data[3] = static_cast<std::uint8_t>(diskSmart); break;
      case kMpHardwareId: Put32(data, hardwareModel), Put32(data + 8, pciDevice); break;
      case kMpGetSmartEnable: Put32(data, static_cast<std::uint32_t>(smartEnable)); break;
      case kMpSetSmartEnable:
        setReturn(settingReturn);
        if (settingReturn == 0) smartEnable = static_cast<int>(Get32(req));
        break;
      case kMpEnclosure: {
        const int sub = req[0], channel = req[1];
        int v = 0;
        if (sub == 0) {
          v = enclosureType.count(channel) ? enclosureType[channel] : 0;
        } else if (auto it = enclosureValue.find({channel, sub}); it != enclosureValue.end()) {
          v = it->second;
        }
        Put32(data + 4, static_cast<std::uint32_t>(v));
        break;
      }
      case kMpSynchronise:
      case kMpRebuild:
        ++held;
        released.wait(lock, [this] { return !hold; });
        --held;
        setReturn(taskReturn);
        break;
      default: break;
    }
    if (auto l = replyLength.find(code); l != replyLength.end()) Put32(out.data() + 24, l->second);
    if (auto c = cutTo.find(code); c != cutTo.end()) return std::min(c->second, in.size());
    return in.size();
  }

  std::vector<std::unique_ptr<plat::devio::InProcessDevice>> devices_;
};

}  // namespace tirrow::testing
