#pragma once
// An agent's document that runs on a worker's loop and a manual clock, moved on by a test.
#include <future>

#include "agent/core/halvorn_doc.h"
#include "platform/testing/manual_clock.h"

namespace kelm::systest {

// Seconds of the document's life, one at a time: the clock moves, then the worker runs the timers
// that came due (the components' polls) and the document's tick; each second waits for the last.
inline void StepDocument(plat::ManualClock& clock, plat::EventLoop& loop, agent::CHalvornDoc& doc, int seconds) {
  for (int i = 0; i < seconds; ++i) {
    clock.advanceSeconds(1);
    std::promise<void> done;
    loop.post([&doc, &done] {
      doc.OnTick();
      done.set_value();
    });
    done.get_future().wait();
  }
}

}  // namespace kelm::systest
