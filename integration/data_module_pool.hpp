// A data module for each call in flight: its own database connection, with
// the statements prepared on it, and its own datasets. A lone caller always
// gets the first instance (rdmIntegraLumirex), as before; calls beside it
// borrow spares, kept by the pool rule of support/idle_pool.hpp (closed once
// idle for SpareIdleAge(), even when no call comes).
#pragma once

#include <memory>

#include "integration/data_module.hpp"
#include "support/runtime.hpp"

namespace lumirex {

class BorrowedModule {
 public:
  // Creating an instance connects to nothing; a failure other than memory is
  // raised as the database's (CallFailure, LUMIREX_E_DATABASE).
  BorrowedModule();
  ~BorrowedModule();
  BorrowedModule(const BorrowedModule&) = delete;
  BorrowedModule& operator=(const BorrowedModule&) = delete;

  TrdmIntegraLumirex& operator*() const { return *module_; }

 private:
  Runtime* runtime_;
  TrdmIntegraLumirex* module_ = nullptr;
  std::unique_ptr<TrdmIntegraLumirex> spare_;  // null when module_ is the first instance
};

}  // namespace lumirex
