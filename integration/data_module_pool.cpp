#include "integration/data_module_pool.hpp"

#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "integration/call_gate.hpp"
#include "integration/call_outcome.hpp"
#include "support/idle_pool.hpp"
#include "support/runtime.hpp"

namespace lumirex {

namespace {

struct DataModulePool final : RuntimePart {
  static constexpr RuntimeSlot kSlot = RuntimeSlot::DataModules;

  DataModulePool() : spares(CurrentRuntime().TheJanitor()) {
    // In a fork's child, an instance left in the global is the parent's: it
    // shares the parent's connection, so it is set aside, never closed.
    AbandonDataModule();
  }

  void Release() noexcept override {
    spares.CloseIdle();
    std::unique_ptr<TrdmIntegraLumirex> first;
    {
      std::lock_guard lock(mutex);
      if (!firstLent) first = std::move(rdmIntegraLumirex);
    }
  }

  std::mutex mutex;
  bool firstLent = false;
  IdlePool<TrdmIntegraLumirex> spares;
};

std::unique_ptr<TrdmIntegraLumirex> NewModule() {
  try {
    return std::make_unique<TrdmIntegraLumirex>();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& error) {
    throw CallFailure(LUMIREX_E_DATABASE, error.what());
  }
}

}  // namespace

BorrowedModule::BorrowedModule() : runtime_(&CurrentRuntime()) {
  auto& pool = runtime_->Get<DataModulePool>();
  {
    std::unique_lock lock(pool.mutex);
    if (!pool.firstLent) {
      pool.firstLent = true;
      lock.unlock();
      try {
        if (!rdmIntegraLumirex) rdmIntegraLumirex = NewModule();
      } catch (...) {
        lock.lock();
        pool.firstLent = false;
        throw;
      }
      module_ = rdmIntegraLumirex.get();
      return;
    }
  }
  spare_ = pool.spares.Take();
  if (!spare_) {
    try {
      spare_ = NewModule();
    } catch (...) {
      pool.spares.Lost();
      throw;
    }
  }
  module_ = spare_.get();
}

BorrowedModule::~BorrowedModule() {
  // Begun before a fork, in the child: the parent's pool is left alone, and
  // so is the instance, whose connection is the parent's.
  if (!runtime_->IsCurrent()) {
    AbandonDataModule(std::move(spare_));
    return;
  }
  auto& pool = runtime_->Get<DataModulePool>();
  if (!spare_) {
    std::lock_guard lock(pool.mutex);
    pool.firstLent = false;
    return;
  }
  pool.spares.Give(std::move(spare_), static_cast<std::size_t>(CallBound()));
}
}  // namespace lumirex
