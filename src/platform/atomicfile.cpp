#include "platform/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vx {

bool IsReadOnlyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // The mode bits as well as access(): the superuser may write anything, but a file
  // without write permission, or one its owner denied himself, is meant to stay as it is
  // whoever runs the program.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  if (st.st_uid == ::geteuid() && (st.st_mode & S_IWUSR) == 0) return true;
  return ::access(path.c_str(), W_OK) != 0;
}

int WriteFileAtomically(const std::string& path, std::string_view data, const char** failedStep) {
  const char* unused = nullptr;
  const char*& step = failedStep ? *failedStep : unused;
  // A file its owner made read-only is kept as it is: the rename would replace it all the
  // same, since only the folder's permissions count for a rename.
  struct stat old {};
  const bool exists = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (exists && IsReadOnlyFile(path)) {
    step = "read-only";
    return EACCES;
  }
  step = "create";
  // A unique name, so that two writers of the same file never share a temporary file.
  std::string tmpl = path + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  const std::string tmp(name.data());
  auto fail = [&](const char* what, int err) {
    if (fd >= 0) ::close(fd);
    ::unlink(tmp.c_str());
    step = what;
    return err;
  };
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("write", n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
  // mkostemp creates the file private; a replaced file keeps its permissions, a new one is
  // readable like any other.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  const mode_t mode = exists ? (old.st_mode & 07777) : (0666 & ~mask);
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) return fail("write", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    step = "write";
    return err;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    step = "replace";
    return err;
  }
  // Make the rename itself durable; a folder that cannot be synced does not undo the write.
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

}  // namespace vx
