// probe_limits: how long the probe worker takes where a time limit or a
// named wait governs, against servers on 127.0.0.1 (the unit suite checks
// only the outcomes). Prints each measure beside what it should be and
// exits 1 when one is out of bounds.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "probe/probe_worker.h"
#include "tests/scripted_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using quimbel::testing::Behaviour;

class Poster : public quimbel::MessagePoster {
 public:
  void Post(quimbel::WorkerMessage message) override {
    std::lock_guard lock(mutex_);
    done_.push_back(message.job);
    changed_.notify_all();
  }
  void Wait(std::uint64_t job) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 60s, [&] {
      for (const auto done : done_)
        if (done == job) return true;
      return false;
    });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::uint64_t> done_;
};

int failures = 0;

// Runs `act` and prints how long it took against [low, high].
void Measure(const char* what, std::chrono::milliseconds low, std::chrono::milliseconds high,
             const std::function<void()>& act) {
  const auto start = Clock::now();
  act();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  const bool good = took >= low && took <= high;
  failures += !good;
  std::printf("%-52s %6lld ms  (%lld to %lld)%s\n", what, static_cast<long long>(took.count()),
              static_cast<long long>(low.count()), static_cast<long long>(high.count()),
              good ? "" : "  OUT OF BOUNDS");
}

}  // namespace

int main() {
  quimbel::testing::ScriptedServer server;
  server.On("/silent/", {Behaviour::kSilence, ""});
  server.On("/ok/", {Behaviour::kReply, "HTTP/1.0 200 OK\r\n\r\n"});
  server.On("/busy/", {Behaviour::kReply, "HTTP/1.1 429 Busy\r\nRetry-After: 1\r\n\r\n"});
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  Poster poster;
  quimbel::ProbeWorker worker(poster);
  worker.Start();
  const auto probe = [&](const std::string& url, std::chrono::milliseconds limit) {
    poster.Wait(worker.Kick({url, limit, "probe_limits"}));
  };
  Measure("a silent host, limit 500 ms", 450ms, 1500ms, [&] { probe(base + "/silent/", 500ms); });
  {
    quimbel::testing::StalledListener stalled;
    const std::string url = "http://127.0.0.1:" + std::to_string(stalled.port()) + "/";
    Measure("a connect that never completes, limit 500 ms", 0ms, 1500ms,
            [&] { probe(url, 500ms); });
  }
  Measure("Retry-After: 1, waited for", 900ms, 2500ms, [&] { probe(base + "/busy/", 5s); });
  Measure("Retry-After: 1 with 800 ms left, not waited for", 0ms, 700ms,
          [&] { probe(base + "/busy/", 800ms); });
  for (int i = 0; i < 200; ++i)
    worker.Kick({base + "/silent/", 30s, "probe_limits"});
  std::this_thread::sleep_for(200ms);
  worker.CancelProbe();
  Measure("the next probe after cancelling 200", 0ms, 2000ms, [&] { probe(base + "/ok/", 5s); });
  quimbel::testing::StalledListener stalled;
  worker.Kick({"http://127.0.0.1:" + std::to_string(stalled.port()) + "/", 30s, "probe_limits"});
  std::this_thread::sleep_for(100ms);
  Measure("a stop during a connect attempt", 0ms, 2000ms, [&] { worker.Stop(); });
  return failures == 0 ? 0 : 1;
}
