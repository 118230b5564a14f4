#pragma once
// The driver's miniport requests: one control request (the miniport control code and a buffer that
// starts with the 28-byte control header "MAROVELT") in, its answer out. Rebuild and synchronise
// starts block: their answer comes when the model's task ends, completed or aborted from another
// caller. Protocol faults bend the next answers.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/ide/driver_model.h"

namespace sim::ide {

constexpr std::uint32_t kIoctlScsiMiniport = 0x4D008;
constexpr std::size_t kControlHeader = 28;
constexpr std::uint32_t kAbortWord = 0x3000000;
constexpr std::size_t kMaxEventsPerRead = 20;
constexpr std::size_t kEventRecord = 44;

// ReturnCode values of the answers.
enum : std::uint32_t { kReturnOk = 0, kReturnRefused = 1, kReturnAborted = 2 };

struct Answer {
  int status = 0;  // 0, or the errno the request fails with
  std::vector<std::uint8_t> out;
};

using Ticket = std::uint64_t;

enum class ProtocolFault { WrongLength, ShortReply, ReturnCodeLeft, Fail };

// The data length each request code carries, or nothing for a code the driver does not know.
std::optional<std::size_t> dataLength(std::uint32_t code);

class Miniport {
 public:
  explicit Miniport(DriverModel& model) : model_(model) {}

  // One request from caller `ticket` at model time `nowMs`. Nothing when it blocks; its answer
  // then comes from takeAnswers() once the task ends.
  std::optional<Answer> request(Ticket ticket, std::uint32_t ioctl, std::span<const std::uint8_t> in,
                                std::size_t capacity, std::int64_t nowMs);
  // The answers of blocked requests whose task ended (call after advancing the model).
  std::vector<std::pair<Ticket, Answer>> takeAnswers();
  // The caller went away: its blocked request is answered to nobody.
  void forget(Ticket ticket);
  // Every caller whose ticket matches went away (their device was taken down).
  void forgetIf(const std::function<bool(Ticket)>& gone);
  bool blocked(Ticket ticket) const;

  // The next `count` answers (to requests of `code`, or any when it is -1) carry the fault.
  void addFault(ProtocolFault kind, int count, int code);
  void clearFaults() { faults_.clear(); }
  std::string status() const;

 private:
  struct Waiter {
    Ticket ticket;
    std::uint32_t code;
    TaskKind kind;
    int slot;
    std::vector<std::uint8_t> buffer;  // header and data, answered back
  };
  struct Pending {
    ProtocolFault kind;
    int count;
    int code;
  };
  std::optional<Answer> serve(Ticket ticket, std::uint32_t code, std::vector<std::uint8_t>& buf, std::int64_t nowMs);
  bool takeFault(ProtocolFault kind, std::uint32_t code);
  void bend(std::uint32_t code, std::uint32_t preset, Answer& a);

  DriverModel& model_;
  std::vector<Waiter> waiters_;
  std::vector<Pending> faults_;
};

// What a SCSI port of another adapter answers: the buffer, untouched (no Marovelt driver behind it).
Answer foreignAnswer(std::span<const std::uint8_t> in, std::size_t capacity);

}  // namespace sim::ide
