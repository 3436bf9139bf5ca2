#include "gzip_reader.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <unistd.h>

namespace vona::shard {

namespace {

// FTEXT (0x01) only hints at text content and changes nothing here.
constexpr unsigned FHCRC = 0x02, FEXTRA = 0x04, FNAME = 0x08, FCOMMENT = 0x10;
constexpr unsigned FRESERVED = 0xE0;

IoError bad_header() { return IoError::invalid_data("invalid gzip header"); }
IoError truncated() { return IoError::invalid_data("unexpected end of file"); }

}  // namespace

GzipReader::GzipReader(int fd) : fd_(fd) {
    // Negative window bits: raw deflate, the gzip framing is handled here.
    int rc = inflateInit2(&zs_, -15);
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (rc != Z_OK) VONA_FAIL("inflateInit2 failed");
    zs_ready_ = true;
    zs_.next_in = in_;
    zs_.avail_in = 0;
}

GzipReader::~GzipReader() {
    if (zs_ready_) inflateEnd(&zs_);
}

bool GzipReader::fail(IoError e) {
    failed_ = true;
    error_ = std::move(e);
    return false;
}

bool GzipReader::fill() {
    for (;;) {
        ssize_t n = ::read(fd_, in_, sizeof in_);
        if (n >= 0) {
            zs_.next_in = in_;
            zs_.avail_in = static_cast<uInt>(n);
            if (n == 0) eof_ = true;
            return true;
        }
        if (errno != EINTR) return fail(IoError::os(errno));
    }
}

int GzipReader::next_byte() {
    if (zs_.avail_in == 0) {
        if (eof_) return -1;
        if (!fill()) return -2;
        if (zs_.avail_in == 0) return -1;
    }
    --zs_.avail_in;
    return *zs_.next_in++;
}

bool GzipReader::parse_header() {
    uint32_t hcrc = crc32(0, nullptr, 0);
    // One header byte; false (with error_ set) when there is none.
    auto byte = [&](unsigned& out) -> bool {
        int b = next_byte();
        if (b == -2) return false;
        if (b == -1) return fail(truncated());
        out = static_cast<unsigned>(b);
        unsigned char c = static_cast<unsigned char>(b);
        hcrc = crc32(hcrc, &c, 1);
        return true;
    };
    unsigned b0, b1, method, flags, ignored;
    if (!byte(b0)) return false;
    if (b0 != 0x1f) return fail(bad_header());
    if (!byte(b1)) return false;
    if (b1 != 0x8b) return fail(bad_header());
    if (!byte(method)) return false;
    if (method != 8) return fail(bad_header());
    if (!byte(flags)) return false;
    if (flags & FRESERVED) return fail(bad_header());
    for (int i = 0; i < 6; ++i)  // MTIME, XFL, OS
        if (!byte(ignored)) return false;
    if (flags & FEXTRA) {
        unsigned lo, hi;
        if (!byte(lo) || !byte(hi)) return false;
        for (unsigned n = lo | (hi << 8); n > 0; --n)
            if (!byte(ignored)) return false;
    }
    for (unsigned field : {FNAME, FCOMMENT}) {
        if (!(flags & field)) continue;
        for (size_t len = 0;; ++len) {
            unsigned c;
            if (!byte(c)) return false;
            if (c == 0) break;
            if (len == MAX_HEADER_FIELD) return fail(IoError::invalid_data("gzip header field too long"));
        }
    }
    if (flags & FHCRC) {
        uint32_t expect = hcrc & 0xFFFF;
        unsigned lo, hi;
        if (!byte(lo) || !byte(hi)) return false;
        // A damaged header is a header fault, not a fault of the data.
        if ((lo | (hi << 8)) != expect) return fail(bad_header());
    }
    header_done_ = true;
    return true;
}

bool GzipReader::check_trailer() {
    uint32_t v[2] = {0, 0};
    for (int w = 0; w < 2; ++w) {
        for (int i = 0; i < 4; ++i) {
            int b = next_byte();
            if (b == -2) return false;
            if (b == -1) return fail(truncated());
            v[w] |= static_cast<uint32_t>(b) << (8 * i);
        }
    }
    if (v[0] != crc_ || v[1] != static_cast<uint32_t>(total_out_))
        return fail(IoError::invalid_data("corrupt gzip stream does not have a matching checksum"));
    return true;
}

Result<size_t> GzipReader::read(unsigned char* out, size_t cap) {
    if (failed_) return error_;
    if (finished_ || cap == 0) return size_t{0};
    if (!header_done_ && !parse_header()) return error_;
    zs_.next_out = out;
    zs_.avail_out = static_cast<uInt>(cap);
    for (;;) {
        if (zs_.avail_in == 0 && !eof_ && !fill()) return error_;
        int rc = inflate(&zs_, Z_NO_FLUSH);
        size_t produced = cap - zs_.avail_out;
        if (produced) {
            crc_ = crc32(crc_, out, static_cast<uInt>(produced));
            total_out_ += produced;
        }
        switch (rc) {
            case Z_STREAM_END:
                // Anything after this member's trailer is not read.
                if (!check_trailer()) return error_;
                finished_ = true;
                return produced;
            case Z_OK:
            case Z_BUF_ERROR:
                if (produced) return produced;
                if (zs_.avail_in == 0 && eof_) {
                    fail(truncated());
                    return error_;
                }
                break;  // input consumed without output yet: go on
            case Z_DATA_ERROR:
                fail(IoError::invalid_data("corrupt deflate stream"));
                return error_;
            case Z_MEM_ERROR:
                throw std::bad_alloc();
            default:
                VONA_FAIL("inflate failed with code " + std::to_string(rc));
        }
    }
}

LineReader::Status LineReader::next(std::string_view& line, bool& ended_by_lf) {
    // After a very long line, give its memory back instead of keeping it for
    // the rest of the shard.
    if (line_.capacity() > KEEP_CAPACITY) std::string().swap(line_);
    line_.clear();
    bool assembling = false;
    for (;;) {
        if (pos_ == len_) {
            if (done_) {
                if (!assembling) return Status::End;
                line = line_;
                ended_by_lf = false;
                return Status::Line;
            }
            auto r = gz_.read(buf_, sizeof buf_);
            if (!r) {
                error_ = std::move(r.error());
                return Status::Error;
            }
            pos_ = 0;
            len_ = r.value();
            if (len_ == 0) done_ = true;
            continue;
        }
        const char* start = reinterpret_cast<const char*>(buf_) + pos_;
        size_t avail = len_ - pos_;
        const void* lf = std::memchr(start, '\n', avail);
        if (lf) {
            size_t n = static_cast<size_t>(static_cast<const char*>(lf) - start);
            pos_ += n + 1;
            ended_by_lf = true;
            if (assembling) {
                line_.append(start, n);
                line = line_;
            } else {
                line = std::string_view(start, n);
            }
            return Status::Line;
        }
        line_.append(start, avail);
        assembling = true;
        pos_ = len_;
    }
}

}  // namespace vona::shard
