#include "shared_services/curl_handle_pool.hpp"

#include <array>

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

}  // namespace

CURLSH* SharedCurlData() noexcept {
  static NoDestructor<ShareLocks> locks;
  // Never cleaned up: an exchange may use it while the host exits.
  static CURLSH* const share = MakeShare(*locks);
  // A lock another thread held at a fork is free in the child.
  static const int forkHandler = AtForkInChild([] {
    for (std::mutex& lock : locks->locks) std::construct_at(&lock);
  });
  (void)forkHandler;
  return share;
}

}  // namespace lumirex
