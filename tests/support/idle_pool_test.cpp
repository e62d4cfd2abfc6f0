// The pool rule: the most recent first, a cap, and spares closed once idle
// for their age even when nothing else happens.
#include "support/idle_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "support/no_destructor.hpp"
#include "support/runtime.hpp"

using namespace std::chrono_literals;

namespace lumirex {
namespace {

// Closed spares, per test: the pools of earlier tests live on.
std::atomic<int> closed{0};
std::atomic<int> generation{0};

struct Spare {
  explicit Spare(int id) : id(id) {}
  ~Spare() {
    if (made == generation) ++closed;
  }
  int id;
  int made = generation;
};

class IdlePoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ++generation;
    closed = 0;
  }
  void TearDown() override { SetSpareIdleAge(30s); }
  // A pool is never destroyed while its janitor may sweep it, as a runtime's
  // parts never are.
  static IdlePool<Spare>& NewPool() {
    static NoDestructor<std::vector<std::unique_ptr<IdlePool<Spare>>>> pools;
    pools->push_back(std::make_unique<IdlePool<Spare>>(CurrentRuntime().TheJanitor()));
    return *pools->back();
  }
};

TEST_F(IdlePoolTest, LendsTheMostRecentFirstAndClosesWhatIsOverTheCap) {
  IdlePool<Spare>& pool = NewPool();
  EXPECT_EQ(pool.Take(), nullptr);
  EXPECT_EQ(pool.Take(), nullptr);
  EXPECT_EQ(pool.Take(), nullptr);
  pool.Give(std::make_unique<Spare>(1), 2);
  pool.Give(std::make_unique<Spare>(2), 2);
  pool.Give(std::make_unique<Spare>(3), 2);
  EXPECT_EQ(closed.load(), 1);
  auto spare = pool.Take();
  ASSERT_NE(spare, nullptr);
  EXPECT_EQ(spare->id, 2);
  pool.Give(std::move(spare), 2);
  EXPECT_EQ(pool.Take()->id, 2);
}

TEST_F(IdlePoolTest, SparesIdleForTheirAgeCloseWithNoFurtherTraffic) {
  SetSpareIdleAge(20ms);
  IdlePool<Spare>& pool = NewPool();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pool.Take(), nullptr);
  for (int i = 0; i < 3; ++i) pool.Give(std::make_unique<Spare>(i), 8);
  // Nothing else touches the pool: the janitor alone closes them. Bounded,
  // so a janitor that never comes fails the test instead of hanging it.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (closed.load() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(closed.load(), 3);
  EXPECT_EQ(pool.IdleCount(), 0u);
}

// The threads of this process, as Linux lists them.
std::size_t ThreadCount() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST_F(IdlePoolTest, StoppingTheJanitorEndsItsThreadAtOnce) {
  // A janitor and pool of the test's own, left to live on like a runtime's.
  static NoDestructor<Janitor> janitor;
  static NoDestructor<IdlePool<Spare>> pool(*janitor);
  EXPECT_EQ(pool->Take(), nullptr);
  const std::size_t before = ThreadCount();
  pool->Give(std::make_unique<Spare>(1), 2);  // idle for 30 s: the janitor waits
  ASSERT_EQ(ThreadCount(), before + 1);
  while (pool->Take() != nullptr) {
  }
  janitor->Stop();
  // It has left its loop; its thread ends a moment later.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (ThreadCount() > before && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(ThreadCount(), before);
}

}  // namespace
}  // namespace lumirex
