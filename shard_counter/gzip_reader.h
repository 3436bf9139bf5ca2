// Streaming reader of the first gzip member of a file, and a line reader on top.
//
// zlib does the raw inflate; the member framing (header, CRC-32 and length
// trailer) is ours so that every fault gets its own message:
//   "invalid gzip header"        wrong magic, method other than deflate, reserved
//                                flag bits, or a header CRC that does not match
//   "gzip header field too long" a file name or comment over MAX_HEADER_FIELD bytes
//   "unexpected end of file"     data ends inside the header, the deflate data or
//                                the trailer (an empty file included)
//   "corrupt deflate stream"     the compressed data is damaged
//   "corrupt gzip stream does not have a matching checksum"
//                                CRC-32 or length in the trailer do not match
// and read errors are the system's "<strerror> (os error N)".
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "error.h"

namespace vona::shard {

// Longest file name or comment accepted in a gzip header, terminator not
// counted. Real names are a path component; the bound only stops a damaged
// header from being skipped through to the end of a large file.
inline constexpr size_t MAX_HEADER_FIELD = 65535;

class GzipReader {
public:
    static constexpr size_t INPUT_BUFFER = 32768;

    explicit GzipReader(int fd);  // reads fd, does not own it
    ~GzipReader();
    GzipReader(const GzipReader&) = delete;
    GzipReader& operator=(const GzipReader&) = delete;

    // Decompresses up to cap bytes into out. Returns the number of bytes
    // written, which is 0 only at the end of the member (after its trailer
    // was verified). After an error, every later call repeats it.
    Result<size_t> read(unsigned char* out, size_t cap);

private:
    bool fill();                  // refills the input buffer; false on a read error (error_ set)
    int next_byte();              // next input byte, -1 at end of file, -2 on a read error
    bool parse_header();          // false with error_ set
    bool check_trailer();         // false with error_ set
    bool fail(IoError e);         // records e, returns false

    int fd_;
    z_stream zs_{};
    bool zs_ready_ = false;
    bool header_done_ = false;
    bool finished_ = false;
    bool eof_ = false;  // the file has no more bytes
    bool failed_ = false;
    IoError error_{};
    uint32_t crc_ = 0;
    uint64_t total_out_ = 0;
    unsigned char in_[INPUT_BUFFER];
};

// Splits the decompressed data into lines at LF, through an 8 KiB buffer.
// A line that lies inside the buffer is returned as a view of it; one that
// crosses buffer ends is assembled in a reused string, so memory is bounded
// by the longest line, however much data there is.
class LineReader {
public:
    static constexpr size_t OUTPUT_BUFFER = 8192;
    static constexpr size_t KEEP_CAPACITY = size_t{1} << 20;  // longest line buffer kept between lines

    enum class Status { Line, End, Error };

    explicit LineReader(GzipReader& gz) : gz_(gz) {}
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Next line without its LF; ended_by_lf tells whether an LF ended it (the
    // last line of the data may have none). The view is valid until the next
    // call. On Status::Error, error() holds the fault.
    Status next(std::string_view& line, bool& ended_by_lf);
    IoError& error() { return error_; }

private:
    GzipReader& gz_;
    size_t pos_ = 0, len_ = 0;
    bool done_ = false;
    IoError error_{};
    std::string line_;
    unsigned char buf_[OUTPUT_BUFFER];
};

}  // namespace vona::shard
