#include "com_link.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kl::comlink {

namespace {

std::string ReadLink(const std::string& path) {
  char to[512] = {};
  const ssize_t n = ::readlink(path.c_str(), to, sizeof to - 1);
  return n > 0 ? std::string(to, static_cast<size_t>(n)) : std::string();
}

// The pid the holder of a lock wrote into it, for the message.
std::string HolderOf(int fd) {
  char buf[32] = {};
  const ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
  std::string pid = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
  return pid.empty() ? "?" : pid;
}

}  // namespace

std::string LockPath(const std::string& folder, const std::string& name) {
  return folder + "/." + name + ".lock";
}

ComLink::~ComLink() { Release(); }

bool ComLink::Claim(const std::string& folder, const std::string& name, const std::string& slave,
                    std::string* error) {
  Release();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    if (lock_ >= 0) ::close(lock_);
    lock_ = -1;
    return false;
  };
  const std::string link = folder + "/" + name;
  // The lock file stays in the folder: removing it would let two devices
  // lock two different files of the same name.
  lock_ = ::open(LockPath(folder, name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_ < 0) return fail("cannot lock " + name + ": " + std::strerror(errno));
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    if (err != EWOULDBLOCK) return fail("cannot lock " + name + ": " + std::strerror(err));
    const std::string target = ReadLink(link);
    return fail(name + " is in use by a running virtual device (pid " + HolderOf(lock_) + ", " + link +
                " -> " + (target.empty() ? "?" : target) + ")");
  }
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) return fail(link + " exists and is not a link");
    const std::string target = ReadLink(link);
    struct stat to {};
    const bool there = ::stat(link.c_str(), &to) == 0;
    // No live device stands behind this link: a pseudo-terminal link (its
    // device killed hard) or one to nothing is stale. Anything else is a
    // real port somebody linked on purpose.
    if (there && target.rfind("/dev/pts/", 0) != 0)
      return fail(name + " is in use (" + link + " -> " + target +
                  ", not a virtual device's); remove the link to use this name");
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(lock_, 0) != 0 || ::pwrite(lock_, pid.data(), pid.size(), 0) < 0) {
    // Only the message of a refused device would miss the pid.
  }
  const std::string temp = link + ".new" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(slave.c_str(), temp.c_str()) != 0 || ::rename(temp.c_str(), link.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temp.c_str());
    return fail("cannot link " + link + ": " + why);
  }
  link_ = link;
  slave_ = slave;
  return true;
}

void ComLink::Release() {
  // Only our own link: a device started since with the name owns its own.
  if (!link_.empty() && ReadLink(link_) == slave_) ::unlink(link_.c_str());
  link_.clear();
  slave_.clear();
  if (lock_ >= 0) ::close(lock_);
  lock_ = -1;
}

}  // namespace kl::comlink
