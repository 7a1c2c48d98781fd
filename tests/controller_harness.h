// ControllerHarness: a RunController on a headless message loop with a
// RecordingHost, as a test fixture base. Loops are bounded in time.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "core/run_controller.h"
#include "tests/recording_host.h"

namespace quimbel::testing {

class ControllerHarness : public ::testing::Test {
 protected:
  ControllerHarness()
      : host_(loop_),
        poster_(loop_, [this](const WorkerMessage& m) { controller_->HandleMessage(m); }) {
    controller_ = std::make_unique<RunController>(host_, poster_);
    host_.on_timer = [this](int id) { controller_->OnTimer(id); };
    controller_->SetUp();
  }

  // Dispatches until `done` holds; false when the limit ran out first.
  template <typename Done>
  bool RunUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = MessageLoop::Clock::now() + limit;
    while (!done()) {
      if (MessageLoop::Clock::now() >= deadline) return false;
      loop_.Run(std::min(deadline, MessageLoop::Clock::now() + std::chrono::milliseconds(10)));
    }
    return true;
  }
  bool RunToEnd() {
    return RunUntil([this] { return !controller_->running(); });
  }

  MessageLoop loop_;
  RecordingHost host_;
  LoopPoster poster_;
  std::unique_ptr<RunController> controller_;
};

}  // namespace quimbel::testing
