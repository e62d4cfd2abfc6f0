#include "shared_services/curl_handle_pool.hpp"

#include <array>
#include <mutex>

#include "support/runtime.hpp"

namespace lumirex {

namespace {

// One lock for each kind of data libcurl shares, as it asks.
struct ShareLocks {
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks;
};

void Lock(CURL* /*handle*/, curl_lock_data data, curl_lock_access /*access*/,
          void* context) noexcept {
  static_cast<ShareLocks*>(context)->locks.at(data).lock();
}

void Unlock(CURL* /*handle*/, curl_lock_data data, void* context) noexcept {
  static_cast<ShareLocks*>(context)->locks.at(data).unlock();
}

CURLSH* MakeShare(ShareLocks& locks) noexcept {
  CURLSH* share = curl_share_init();
  if (share == nullptr) return nullptr;
  const bool made =
      curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Lock) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Unlock) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_USERDATA, &locks) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
      curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
  if (made) return share;
  curl_share_cleanup(share);
  return nullptr;
}

// A part of the runtime: a fork's child makes a share of its own, as its
// locks may be held by the parent's threads and its TLS sessions are the
// parent's. Never cleaned up: an exchange may use it while the host exits.
struct CurlShare final : RuntimePart {
  static constexpr RuntimeSlot kSlot = RuntimeSlot::CurlShare;
  ShareLocks locks;
  CURLSH* const share = MakeShare(locks);
};

}  // namespace

CURLSH* SharedCurlData() noexcept {
  try {
    return CurrentRuntime().Get<CurlShare>().share;
  } catch (...) {
    // Out of memory: this exchange keeps its own.
    return nullptr;
  }
}

}  // namespace lumirex
