#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "shared_services/private_socket.hpp"
#include "support/process_state.hpp"

namespace lumirex {

namespace {

void MarkCloseOnExec(int fd) noexcept {
  const int flags = fcntl(fd, F_GETFD);
  if (flags >= 0 && (flags & FD_CLOEXEC) == 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// The inode of the socket at the other end of the local socket `inode`, as
// the kernel's socket diagnostics give it; 0 when they cannot.
std::uint32_t PeerInode(std::uint32_t inode) noexcept {
  const int diag = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diag < 0) return 0;
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST;
  ask.request.sdiag_family = AF_UNIX;
  ask.request.udiag_states = ~0U;
  ask.request.udiag_ino = inode;
  ask.request.udiag_show = UDIAG_SHOW_PEER;
  ask.request.udiag_cookie[0] = INET_DIAG_NOCOOKIE;
  ask.request.udiag_cookie[1] = INET_DIAG_NOCOOKIE;
  alignas(nlmsghdr) char answer[512];
  std::uint32_t peer = 0;
  const ssize_t got =
      ::send(diag, &ask, sizeof ask, 0) == sizeof ask ? ::recv(diag, answer, sizeof answer, 0) : -1;
  ::close(diag);
  if (got < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(unix_diag_msg)))) return 0;
  const auto* header = reinterpret_cast<const nlmsghdr*>(answer);
  if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY || header->nlmsg_len > got) return 0;
  const auto* message = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
  if (message->udiag_ino != inode) return 0;
  int left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof(unix_diag_msg)));
  for (const auto* attribute = reinterpret_cast<const rtattr*>(message + 1);
       RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
    if (attribute->rta_type == UNIX_DIAG_PEER && RTA_PAYLOAD(attribute) >= sizeof peer) {
      peer = *static_cast<const std::uint32_t*>(RTA_DATA(attribute));
    }
  }
  return peer;
}

// The process's descriptor for the socket `inode`; -1 when it has none. The
// links in /proc name each descriptor's socket, so nothing is asked of the
// descriptors themselves: other threads open and close theirs meanwhile.
int DescriptorOfSocket(std::uint32_t inode) noexcept {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "socket:[%u]", inode);
  DIR* folder = opendir("/proc/self/fd");
  if (folder == nullptr) return -1;
  int found = -1;
  while (const dirent* entry = readdir(folder)) {
    char link[64];
    const ssize_t size = readlinkat(dirfd(folder), entry->d_name, link, sizeof link - 1);
    if (size <= 0) continue;
    link[size] = '\0';
    if (std::strcmp(link, wanted) == 0) {
      found = std::atoi(entry->d_name);
      break;
    }
  }
  closedir(folder);
  return found;
}

// The sockets open now, so a fork's child can close its copies: they carry
// the parent's connections, which the child's calls never use, and a copy
// left open would hold a connection the parent closed.
struct OpenSockets {
  std::mutex mutex;
  std::set<int> fds;
};

void CloseCopiesInChild() {
  OpenSockets& open = ProcessState<OpenSockets>();
  // The prepare step took the lock; this runs before the step that frees it.
  for (const int fd : open.fds) ::close(fd);
  open.fds.clear();
}

OpenSockets& Sockets() {
  static const int forkHandler =
      AtFork(ForkOrder::Runtime, {nullptr, nullptr, &CloseCopiesInChild});
  (void)forkHandler;
  return ProcessState<OpenSockets>();
}
const BuiltAtLoad<&Sockets> socketsBuiltAtLoad;

}  // namespace

curl_socket_t OpenPrivateSocket(const curl_sockaddr& address) noexcept {
  OpenSockets& open = Sockets();
  const int fd = ::socket(address.family, address.socktype | SOCK_CLOEXEC, address.protocol);
  if (fd < 0) return CURL_SOCKET_BAD;
  try {
    std::lock_guard lock(open.mutex);
    open.fds.insert(fd);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    return CURL_SOCKET_BAD;
  }
  return fd;
}

int ClosePrivateSocket(curl_socket_t socket) noexcept {
  OpenSockets& open = Sockets();
  {
    std::lock_guard lock(open.mutex);
    open.fds.erase(socket);
  }
  return ::close(socket);
}

void MarkCurlPairCloseOnExec(curl_socket_t socket) noexcept {
  MarkCloseOnExec(socket);
  struct stat status {};
  if (fstat(socket, &status) != 0 || !S_ISSOCK(status.st_mode)) return;
  const std::uint32_t peer = PeerInode(static_cast<std::uint32_t>(status.st_ino));
  if (peer == 0) return;
  if (const int other = DescriptorOfSocket(peer); other >= 0) MarkCloseOnExec(other);
}

}  // namespace lumirex
