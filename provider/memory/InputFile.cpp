#include "InputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace memory {

namespace {

// Closes the descriptor on every way out.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

TOVAString readInputFile(const std::string& path, size_t limit, const char* what, std::string& bytes) {
  bytes.clear();
  // Without O_NONBLOCK opening a FIFO waits for a writer; the type is checked on the open
  // descriptor so that the file cannot be swapped between the check and the read.
  Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  if (file.fd < 0) return TOVAString().build("cannot open the file (%s)", std::strerror(errno));
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) return TOVAString().build("cannot read the file (%s)", std::strerror(errno));
  if (!S_ISREG(status.st_mode))
    return TOVAString().build("%s must be a regular file; this is %s", what, kind_of(status.st_mode));
  const auto tooLarge = [&] {
    return TOVAString().build("the file is larger than %u bytes, the limit for %s", limit, what);
  };
  if (static_cast<unsigned long long>(status.st_size) > limit) return tooLarge();
  bytes.resize(static_cast<size_t>(status.st_size));
  size_t got = 0;
  // The file may grow or shrink while it is read: read to its end, but never past the limit.
  for (;;) {
    if (got == bytes.size()) {
      if (bytes.size() > limit) return tooLarge();
      bytes.resize(std::min(limit + 1, std::max<size_t>(got * 2, 4096)));
    }
    const ssize_t n = ::read(file.fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      bytes.clear();
      return TOVAString().build("cannot read the file (%s)", std::strerror(error));
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  if (got > limit) {
    bytes.clear();
    return tooLarge();
  }
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
