#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <unordered_map>

#include "platform/Text.h"

namespace nb::fs {

namespace {

bool statPath(const std::string& p, struct stat& st) { return ::stat(p.c_str(), &st) == 0; }

// Case-insensitive comparison key of a UTF-8 file name: Windows-1251 upper case,
// so Cyrillic names match too.
std::string nameKey(std::string_view name) { return cp1251Upper(utf8ToCp1251(name)); }

// Folder listings by folder path, keyed by each entry's comparison key, so
// that a name written in another letter case costs one lookup instead of a
// scan of the folder (pictures, ".an" files and mask companions are looked
// for this way many times per screen). A listing is used only while the
// folder's identity and status-change time are what they were when it was
// read: every entry added, removed or renamed sets that time, and unlike the
// modification time no program can set it back. A listing read within
// kRacyNs of the folder's last change is not kept, since a change in the
// same clock tick would leave the time as it was (file systems stamp
// folders with a coarse clock).
class ListingCache {
public:
    std::optional<std::string> find(const std::string& dir, std::string_view name) {
        const std::string path = dir.empty() ? std::string(".") : dir;
        struct stat st;
        if (!statPath(path, st) || !S_ISDIR(st.st_mode)) return std::nullopt;
        const std::string key = nameKey(name);
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = listings_.find(path);
        if (it != listings_.end() && it->second.sameAs(st)) return it->second.lookup(dir, key);
        if (it != listings_.end()) listings_.erase(it);
        Listing fresh;
        if (!read(path, st, fresh)) return std::nullopt;
        std::optional<std::string> found = fresh.lookup(dir, key);
        if (!fresh.racy) {
            if (listings_.size() >= kMaxListings) listings_.clear();
            listings_.emplace(path, std::move(fresh));
        }
        return found;
    }

private:
    struct Listing {
        dev_t dev = 0;
        ino_t ino = 0;
        struct timespec ctime {};
        bool racy = false;
        std::unordered_map<std::string, std::string> byKey;  // key -> name as stored

        std::optional<std::string> lookup(const std::string& dir, const std::string& key) const {
            auto e = byKey.find(key);
            if (e == byKey.end()) return std::nullopt;
            return dir + e->second;
        }
        bool sameAs(const struct stat& st) const {
            return dev == st.st_dev && ino == st.st_ino && ctime.tv_sec == st.st_ctim.tv_sec &&
                   ctime.tv_nsec == st.st_ctim.tv_nsec;
        }
    };

    static constexpr int64_t kRacyNs = 100'000'000;  // 0.1 s, well above any file-system clock tick
    static constexpr size_t kMaxListings = 256;

    static bool read(const std::string& path, const struct stat& st, Listing& out) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        DIR* d = ::opendir(path.c_str());
        if (!d) return false;
        while (dirent* e = ::readdir(d)) {
            std::string_view n(e->d_name);
            if (n == "." || n == "..") continue;
            out.byKey.emplace(nameKey(n), std::string(n));  // the first of equal keys wins
        }
        ::closedir(d);
        out.dev = st.st_dev;
        out.ino = st.st_ino;
        out.ctime = st.st_ctim;
        const int64_t age = (int64_t(now.tv_sec) - int64_t(st.st_ctim.tv_sec)) * 1'000'000'000 +
                            (int64_t(now.tv_nsec) - int64_t(st.st_ctim.tv_nsec));
        out.racy = age < kRacyNs;
        return true;
    }

    std::mutex mutex_;
    std::unordered_map<std::string, Listing> listings_;
};

ListingCache& listingCache() {
    static ListingCache cache;
    return cache;
}

// Finds `name` inside the existing folder `dir` ("" = current folder).
std::optional<std::string> findInDir(const std::string& dir, std::string_view name) {
    std::string exact = dir + std::string(name);
    struct stat st;
    if (statPath(exact.empty() ? std::string(".") : exact, st)) return exact;
    return listingCache().find(dir, name);
}

}  // namespace

std::string normalizeSeparators(std::string_view path) {
    std::string r(path);
    for (char& c : r)
        if (c == '\\') c = '/';
    return r;
}

std::optional<std::string> resolve(std::string_view path) {
    std::string p = normalizeSeparators(path);
    if (p.empty()) return std::nullopt;
    struct stat st;
    if (statPath(p, st)) return p;  // fast path: exact spelling exists
    std::string cur;
    size_t i = 0;
    if (p[0] == '/') {
        cur = "/";
        i = 1;
    }
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string_view comp(p.data() + i, j - i);
        if (!comp.empty() && comp != ".") {
            if (comp == "..") {
                cur += "../";
            } else {
                auto f = findInDir(cur, comp);
                if (!f) return std::nullopt;
                cur = *f;
                if (j < p.size()) cur += '/';
            }
        }
        i = j + 1;
    }
    if (cur.size() > 1 && cur.back() == '/') cur.pop_back();
    if (cur.empty()) cur.push_back('.');  // the current folder
    if (!statPath(cur, st)) return std::nullopt;
    return cur;
}

std::string resolveForCreate(std::string_view path) {
    std::string p = normalizeSeparators(path);
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) {
        auto r = resolve(p);
        return r ? *r : p;
    }
    std::string folder = p.substr(0, slash + 1);
    std::string name = p.substr(slash + 1);
    if (auto r = resolve(p)) return *r;
    auto d = resolve(folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder);
    if (!d) return p;
    std::string base = *d;
    if (base.back() != '/') base += '/';
    return base + name;
}

bool fileExists(std::string_view path) {
    auto r = resolve(path);
    struct stat st;
    return r && statPath(*r, st) && S_ISREG(st.st_mode);
}

bool dirExists(std::string_view path) {
    auto r = resolve(path);
    struct stat st;
    return r && statPath(*r, st) && S_ISDIR(st.st_mode);
}

std::optional<std::vector<uint8_t>> readFile(std::string_view path) {
    auto r = resolve(path);
    if (!r) return std::nullopt;
    // Only regular files are read: a pipe would block the player for good and
    // a device such as /dev/zero never ends. Opening without blocking keeps a
    // pipe with no writer from stalling the open itself.
    const int fd = ::open(r->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    // Sized once from the file's length, then read straight into place; a
    // file that grows meanwhile is still read to its end.
    size_t capacity = size_t(st.st_size);
    std::vector<uint8_t> data(capacity + 1);
    size_t size = 0;
    for (;;) {
        if (size == data.size()) data.resize(data.size() * 2);
        const ssize_t n = ::read(fd, data.data() + size, data.size() - size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        size += size_t(n);
    }
    ::close(fd);
    data.resize(size);
    return data;
}

std::optional<std::string> readFileString(std::string_view path) {
    auto d = readFile(path);
    if (!d) return std::nullopt;
    return std::string(d->begin(), d->end());
}

bool writeFileAtomic(std::string_view path, const void* data, size_t size) {
    std::string target = resolveForCreate(path);
    std::string folder = folderOf(target);
    std::string tmpl = target + ".tmpXXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    bool ok = true;
    while (left > 0) {
        ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        p += w;
        left -= size_t(w);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok) ::chmod(name.data(), 0644);
    if (!ok || ::rename(name.data(), target.c_str()) != 0) {
        ::unlink(name.data());
        return false;
    }
    int dfd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool writeFile(std::string_view path, const void* data, size_t size) {
    std::string target = resolveForCreate(path);
    FILE* f = std::fopen(target.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool appendFile(std::string_view path, std::string_view data) {
    std::string target = resolveForCreate(path);
    FILE* f = std::fopen(target.c_str(), "ab");
    if (!f) return false;
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool removeFile(std::string_view path) {
    auto r = resolve(path);
    if (!r) return true;
    return ::unlink(r->c_str()) == 0 || errno == ENOENT;
}

std::string folderOf(std::string_view path) {
    std::string p = normalizeSeparators(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

std::string fileNameOf(std::string_view path) {
    std::string p = normalizeSeparators(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string absolutePath(std::string_view path) {
    std::string p = normalizeSeparators(path);
    if (!p.empty() && p[0] == '/') return p;
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) return p;
    std::string cwd(buf);
    if (cwd.back() != '/') cwd += '/';
    return cwd + p;
}

std::string executablePath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, size_t(n));
}

std::vector<std::string> listDir(std::string_view folder) {
    std::vector<std::string> names;
    auto r = resolve(folder.empty() ? std::string_view(".") : folder);
    if (!r) return names;
    DIR* d = ::opendir(r->c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string_view n(e->d_name);
        if (n == "." || n == "..") continue;
        names.emplace_back(n);
    }
    ::closedir(d);
    return names;
}

std::string configDir() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
        std::string r(x);
        if (r.back() != '/') r += '/';
        return r;
    }
    if (const char* h = std::getenv("HOME"); h && *h) {
        std::string r(h);
        if (r.back() != '/') r += '/';
        return r + ".config/";
    }
    return "./";
}

RangeReader::~RangeReader() { close(); }

bool RangeReader::open(std::string_view path) {
    close();
    if (path.empty()) return false;
    const std::optional<std::string> real = resolve(path);
    if (!real) return false;
    // Without blocking, so a pipe with no writer is refused below instead of
    // stalling the open.
    const int fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = uint64_t(st.st_size);
    return true;
}

void RangeReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

bool RangeReader::read(uint64_t offset, uint64_t n, std::vector<uint8_t>& out) const {
    out.clear();
    if (fd_ < 0 || offset > size_ || n > size_ - offset) return false;
    out.resize(size_t(n));
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out.data() + done, size_t(n) - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            out.clear();
            return false;
        }
        done += size_t(got);
    }
    return true;
}

}  // namespace nb::fs
