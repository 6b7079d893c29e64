#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace http {

// A file that receives a request body as it arrives, so that a large upload
// never sits in memory. It is created under a unique temporary name and
// removed again unless kept under a final name once whole.
class BodyFile {
public:
    // Room shared by the files of one area while their bytes arrive: a write
    // that would take `used` beyond `limit` fails with EFBIG.
    struct SharedRoom {
        std::atomic<std::uint64_t> used{0};
        std::atomic<std::uint64_t> limit{0};
    };

    // A new empty file "<directory>/<prefix>XXXXXX" that accepts at most
    // `limit` bytes, and no more than `room` has left when one is given.
    // Null when it cannot be created (errno tells why).
    static std::shared_ptr<BodyFile> create(const std::string& directory, const std::string& prefix,
                                            std::uint64_t limit, std::shared_ptr<SharedRoom> room = nullptr);
    ~BodyFile();
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    // Appends bytes. After the first failure (or beyond the limit: EFBIG)
    // nothing more is written and error() tells the cause.
    void write(std::string_view bytes);
    // Appends `range` a window at a time (see eachWindow).
    void writeFrom(BodyFile* source, std::string_view range);
    // Hands `range` to `use` a window at a time; when it lies in `source`'s
    // view(), each window is released once used. `source` may be null.
    static void eachWindow(std::string_view range, BodyFile* source, const std::function<void(std::string_view)>& use);
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
    // Lets go of the mapped pages of `range` (a stretch of view()), so that
    // reading a large body once keeps little of it resident; they are read
    // again from the file if touched. Nothing happens for other memory.
    void release(std::string_view range);

private:
    BodyFile(int fd, std::string path, std::uint64_t limit, std::shared_ptr<SharedRoom> room)
        : fd_(fd), path_(std::move(path)), limit_(limit), room_(std::move(room)) {}
    bool takeRoom(std::uint64_t bytes);

    int fd_;
    std::string path_;
    std::uint64_t limit_;
    std::shared_ptr<SharedRoom> room_;
    std::uint64_t size_ = 0;
    int error_ = 0;
    bool kept_ = false;
    void* map_ = nullptr;
};

}  // namespace http
