#include "InputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace memory {

namespace {

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

InputFile::~InputFile() {
  if (m_Descriptor >= 0) ::close(m_Descriptor);
}

TOVAString InputFile::too_large() const {
  return TOVAString().build("the file is larger than %u bytes, the limit for %s", m_Limit, m_What);
}

TOVAString InputFile::open(const std::string& path, size_t limit, const char* what) {
  if (m_Descriptor >= 0) ::close(m_Descriptor);
  m_Limit = limit;
  m_What = what;
  m_Read = 0;
  // Without O_NONBLOCK opening a FIFO waits for a writer; the type is checked on the open
  // descriptor so that the file cannot be swapped between the check and the read.
  m_Descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (m_Descriptor < 0) return TOVAString().build("cannot open the file (%s)", std::strerror(errno));
  struct stat status {};
  if (::fstat(m_Descriptor, &status) != 0) return TOVAString().build("cannot read the file (%s)", std::strerror(errno));
  if (!S_ISREG(status.st_mode))
    return TOVAString().build("%s must be a regular file; this is %s", what, kind_of(status.st_mode));
  if (static_cast<unsigned long long>(status.st_size) > limit) return too_large();
  m_Size = static_cast<size_t>(status.st_size);
  return TOVAString();
}

TOVAString InputFile::read(char* buffer, size_t capacity, size_t& count) {
  count = 0;
  if (m_Descriptor < 0) return "cannot read the file (it is not open)";
  // The file may grow while it is read: one byte past the limit is enough to refuse it.
  capacity = std::min(capacity, m_Limit + 1 - m_Read);
  for (;;) {
    const ssize_t n = ::read(m_Descriptor, buffer, capacity);
    if (n < 0) {
      if (errno == EINTR) continue;
      return TOVAString().build("cannot read the file (%s)", std::strerror(errno));
    }
    count = static_cast<size_t>(n);
    break;
  }
  m_Read += count;
  if (m_Read > m_Limit) {
    count = 0;
    return too_large();
  }
  return TOVAString();
}

TOVAString readInputFile(const std::string& path, size_t limit, const char* what, std::string& bytes) {
  bytes.clear();
  InputFile file;
  TOVAString problem = file.open(path, limit, what);
  if (!problem.empty()) return problem;
  bytes.resize(file.size());
  size_t got = 0;
  // The file may grow or shrink while it is read: read to its end.
  for (;;) {
    if (got == bytes.size()) bytes.resize(std::min(limit + 1, std::max<size_t>(got * 2, 4096)));
    size_t n = 0;
    problem = file.read(bytes.data() + got, bytes.size() - got, n);
    if (!problem.empty()) {
      bytes.clear();
      return problem;
    }
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  return TOVAString();
}

TOVAString utf16Problem(std::string_view bytes) {
  const bool bom = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
  const bool interleaved = bytes.size() >= 2 && ((bytes[0] == 0) != (bytes[1] == 0));
  if (bom || interleaved) return "UTF-16 is not supported, save as UTF-8";
  return TOVAString();
}

int lineOfOffset(std::string_view text, size_t offset) {
  int line = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i)
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) ++line;
  return line;
}

}  // namespace memory
