#include "platform/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <random>

namespace vx {

namespace {

std::string DirOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a write to `path` lands in: a symbolic link is followed to its target (which
// need not exist yet), so that the link stays a link. Answers 0 or an errno.
int ResolveLinks(const std::string& path, std::string* target) {
  std::string p = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno != ENOENT) return errno;
      break;  // a new file, or a link to one
    }
    if (!S_ISLNK(st.st_mode)) break;
    if (hops == 40) return ELOOP;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return n < 0 ? errno : ENOENT;
    const std::string link(buf, static_cast<std::size_t>(n));
    p = link.front() == '/' ? link : DirOf(p) + "/" + link;
  }
  *target = p;
  return 0;
}

// Creates a temporary file beside `path`. It is created with mode 0666, so that the
// process's umask shapes it as it would any new file, without the umask being touched.
int CreateTemporary(const std::string& path, std::string* name) {
  static thread_local std::minstd_rand random(static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ ::getpid()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
    *name = path + suffix;
    const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

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
  step = "create";
  std::string target;
  if (const int err = ResolveLinks(path, &target); err != 0) return err;
  // A file that is replaced keeps its permissions. One its owner made read-only is kept as
  // it is: the rename would replace it all the same, since only the folder's permissions
  // count for a rename.
  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (replacing && IsReadOnlyFile(target)) {
    step = "read-only";
    return EACCES;
  }

  std::string tmp;
  const int fd = CreateTemporary(target, &tmp);
  if (fd < 0) return errno;
  auto fail = [&](const char* what, int err) {
    ::close(fd);
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
  if (replacing && ::fchmod(fd, old.st_mode & 07777) != 0) return fail("write", errno);
  if (::fsync(fd) != 0) return fail("write", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    step = "write";
    return err;
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    ::unlink(tmp.c_str());
    step = "replace";
    return err;
  }
  // Make the rename itself durable; a folder that cannot be synced does not undo the write.
  const int dfd = ::open(DirOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

}  // namespace vx
