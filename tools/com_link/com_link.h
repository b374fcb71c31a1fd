// A virtual device's COM name: the link <ports folder>/COM<n> to its
// pseudo-terminal, and the proof that a live device serves it.
//
// A device holds an exclusive lock on <ports folder>/.COM<n>.lock for as long
// as it runs; the kernel drops the lock when the process ends, however it
// ends. So a link that no lock holder stands behind was left by a device that
// was killed hard (or by a terminal that took the number of its
// pseudo-terminal since), and is replaced; a name a live device holds is
// refused. A link to anything but a pseudo-terminal (a technician's adapter)
// is left alone and refused.
#pragma once

#include <string>

namespace kl::comlink {

class ComLink {
 public:
  ComLink() = default;
  ~ComLink();
  ComLink(const ComLink&) = delete;
  ComLink& operator=(const ComLink&) = delete;

  // Links folder/name (name as "COM5") to the pseudo-terminal `slave`. False
  // with the reason when the name is taken; nothing changes then.
  bool Claim(const std::string& folder, const std::string& name, const std::string& slave,
             std::string* error);
  // Removes the link if it is still ours, and lets the name go.
  void Release();
  const std::string& Path() const { return link_; }

 private:
  int lock_ = -1;
  std::string link_;
  std::string slave_;
};

// The lock file of a COM name in a ports folder.
std::string LockPath(const std::string& folder, const std::string& name);

}  // namespace kl::comlink
