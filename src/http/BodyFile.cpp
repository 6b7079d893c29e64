#include "http/BodyFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace http {

std::shared_ptr<BodyFile> BodyFile::create(const std::string& directory, const std::string& prefix,
                                           std::uint64_t limit, std::shared_ptr<SharedRoom> room) {
    std::string name = directory + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::shared_ptr<BodyFile>(new BodyFile(fd, buffer.data(), limit, std::move(room)));
}

BodyFile::~BodyFile() { discard(); }

void BodyFile::discard() {
    if (map_) ::munmap(map_, size_);
    map_ = nullptr;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!kept_) ::unlink(path_.c_str());
    kept_ = true;  // nothing left to remove
}

bool BodyFile::takeRoom(std::uint64_t bytes) {
    if (!room_) return true;
    if (room_->used.fetch_add(bytes) + bytes <= room_->limit.load()) return true;
    room_->used.fetch_sub(bytes);
    return false;
}

void BodyFile::write(std::string_view bytes) {
    if (error_ != 0) return;
    if (bytes.size() > limit_ - size_ || !takeRoom(bytes.size())) {
        error_ = EFBIG;
        return;
    }
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            error_ = written < 0 ? errno : ENOSPC;
            if (room_) room_->used.fetch_sub(bytes.size());
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
        size_ += static_cast<std::uint64_t>(written);
    }
}

void BodyFile::writeFrom(BodyFile* source, std::string_view range) {
    eachWindow(range, source, [this](std::string_view piece) { write(piece); });
}

void BodyFile::eachWindow(std::string_view range, BodyFile* source, const std::function<void(std::string_view)>& use) {
    constexpr std::size_t window = 8 << 20;
    for (std::size_t at = 0; at < range.size(); at += window) {
        const std::string_view piece = range.substr(at, window);
        use(piece);
        if (source) source->release(piece);
    }
}

// close() reports delayed write errors (quota, network file systems).
bool BodyFile::finish() {
    if (fd_ >= 0 && ::close(fd_) != 0 && error_ == 0) error_ = errno;
    fd_ = -1;
    return error_ == 0;
}

bool BodyFile::keepAs(const std::string& path) {
    if (!finish()) return false;
    if (std::rename(path_.c_str(), path.c_str()) != 0) {
        error_ = errno;
        return false;
    }
    path_ = path;
    kept_ = true;
    return true;
}

std::string_view BodyFile::view() {
    if (size_ == 0) return {};
    if (!map_) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return {};
        void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (map == MAP_FAILED) return {};
        map_ = map;
    }
    return {static_cast<const char*>(map_), size_};
}

void BodyFile::release(std::string_view range) {
    const auto start = reinterpret_cast<std::uintptr_t>(map_);
    const auto first = reinterpret_cast<std::uintptr_t>(range.data());
    if (!map_ || range.empty() || first < start || first + range.size() > start + size_) return;
    // The mapping is read-only and file-backed: dropped pages come back unchanged.
    static const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t page = first / pageSize * pageSize;  // the mapping starts on a page
    ::madvise(reinterpret_cast<void*>(page), first + range.size() - page, MADV_DONTNEED);
}

}  // namespace http
