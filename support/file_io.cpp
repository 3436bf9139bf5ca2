#include "file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "utf8.h"

namespace vona {
namespace {

// Closes the descriptor on every way out.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

Result<std::string> read_text_file(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return IoError::invalid_input("file name contained an unexpected NUL byte");

    int raw;
    do {
        raw = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (raw < 0 && errno == EINTR);
    if (raw < 0) return IoError::os(errno);
    Fd fd(raw);

    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return IoError::os(errno);

    // One buffer sized from the length we see now, plus one byte so that a
    // file that has not grown is known to be complete after a single read
    // that returns 0. A file that grows meanwhile makes the buffer grow; one
    // that shrinks just ends early.
    size_t expected = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    std::string data;
    data.resize(expected + 1);
    size_t used = 0;
    for (;;) {
        if (used == data.size()) data.resize(data.size() < 4096 ? 8192 : data.size() * 2);
        ssize_t got = ::read(fd.get(), data.data() + used, data.size() - used);
        if (got < 0) {
            if (errno == EINTR) continue;
            return IoError::os(errno);  // EISDIR for a directory lands here
        }
        if (got == 0) break;
        used += static_cast<size_t>(got);
    }
    data.resize(used);
    if (data.capacity() > used + used / 8 + 64) data.shrink_to_fit();

    if (!utf8::valid(data)) return IoError::invalid_data("stream did not contain valid UTF-8");
    return data;
}

}  // namespace vona
