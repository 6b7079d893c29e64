#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace http {

// A file that receives a request body as it arrives, so that a large upload
// never sits in memory. It is created under a unique temporary name and
// removed again unless kept under a final name once whole.
class BodyFile {
public:
    // A new empty file "<directory>/<prefix>XXXXXX" that accepts at most
    // `limit` bytes. Null when it cannot be created (errno tells why).
    static std::shared_ptr<BodyFile> create(const std::string& directory, const std::string& prefix,
                                            std::uint64_t limit);
    ~BodyFile();
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    // Appends bytes. After the first failure (or beyond the limit: EFBIG)
    // nothing more is written and error() tells the cause.
    void write(std::string_view bytes);
    // Flushes and closes; false (with error() set) when anything failed.
    bool finish();
    // Moves the whole file to `path`; from then on it is the caller's.
    bool keepAs(const std::string& path);
    // Removes the file now rather than when this object goes.
    void discard();

    const std::string& path() const { return path_; }
    std::uint64_t size() const { return size_; }
    int error() const { return error_; }
    // A mapped read-only view of the finished file's bytes (empty when it is
    // empty or cannot be mapped), valid while this object lives.
    std::string_view view();

private:
    BodyFile(int fd, std::string path, std::uint64_t limit) : fd_(fd), path_(std::move(path)), limit_(limit) {}

    int fd_;
    std::string path_;
    std::uint64_t limit_;
    std::uint64_t size_ = 0;
    int error_ = 0;
    bool kept_ = false;
    void* map_ = nullptr;
};

}  // namespace http
