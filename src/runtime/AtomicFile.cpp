#include "runtime/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/Error.h"
#include "model/TextUtil.h"

namespace velkor {
namespace {

// Permissions a new file would get: those of the file it replaces, else 0666 less the
// umask (read from /proc, since umask() cannot be read without changing it).
mode_t ModeFor(const std::string& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, status))
      if (std::strncmp(line, "Umask:", 6) == 0) mask = mode_t(std::strtoul(line + 6, nullptr, 8));
    std::fclose(status);
  }
  return 0666 & ~mask;
}

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view text) {
  AtomicFile file(path);
  file.Write(text.data(), text.size());
  file.Commit();
}

AtomicFile::AtomicFile(const std::string& path) : m_path(path), m_target(path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* resolved = realpath(path.c_str(), nullptr)) {
      m_target = resolved;
      std::free(resolved);
    }
  }
  const size_t slash = m_target.rfind('/');
  m_dir = slash == std::string::npos ? "." : slash == 0 ? "/" : m_target.substr(0, slash);
  m_temp = m_dir + "/.velkor-save-XXXXXX";
  m_fd = mkostemp(m_temp.data(), O_CLOEXEC);
  if (m_fd < 0) {
    m_temp.clear();
    Fail(errno);
  }
  if (fchmod(m_fd, ModeFor(m_target)) != 0) Fail(errno);
}

AtomicFile::~AtomicFile() { Discard(); }

void AtomicFile::Write(const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0 && m_error == 0) {
    const ssize_t n = write(m_fd, at, size);
    if (n < 0) {
      if (errno != EINTR) m_error = errno;
      continue;
    }
    at += n;
    size -= size_t(n);
  }
}

void AtomicFile::Commit() {
  if (m_fd < 0) Fail(EBADF);  // committed already
  if (m_error) Fail(m_error);
  if (fsync(m_fd) != 0) Fail(errno);
  const int fd = m_fd;
  m_fd = -1;
  if (close(fd) != 0) Fail(errno);
  if (rename(m_temp.c_str(), m_target.c_str()) != 0) Fail(errno);
  m_temp.clear();
  if (const int dirFd = open(m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
}

void AtomicFile::Discard() {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
  if (!m_temp.empty()) unlink(m_temp.c_str());
  m_temp.clear();
}

void AtomicFile::Fail(int error) {
  Discard();
  throw VelkorError("Не удалось записать файл " + m_path + ": " + SystemErrorText(error));
}

}  // namespace velkor
