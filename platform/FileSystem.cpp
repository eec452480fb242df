#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/Text.h"

namespace nb::fs {

namespace {

bool statPath(const std::string& p, struct stat& st) { return ::stat(p.c_str(), &st) == 0; }

// Case-insensitive comparison key of a UTF-8 file name: Windows-1251 upper case,
// so Cyrillic names match too.
std::string nameKey(std::string_view name) { return cp1251Upper(utf8ToCp1251(name)); }

// Finds `name` inside the existing folder `dir` ("" = current folder).
std::optional<std::string> findInDir(const std::string& dir, std::string_view name) {
    std::string exact = dir + std::string(name);
    struct stat st;
    if (statPath(exact.empty() ? std::string(".") : exact, st)) return exact;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return std::nullopt;
    std::string key = nameKey(name);
    std::optional<std::string> found;
    while (dirent* e = ::readdir(d)) {
        std::string_view n(e->d_name);
        if (n == "." || n == "..") continue;
        if (nameKey(n) == key) {
            found = dir + std::string(n);
            break;
        }
    }
    ::closedir(d);
    return found;
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
    if (cur.empty()) cur = ".";
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
    FILE* f = std::fopen(r->c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    bool err = std::ferror(f);
    std::fclose(f);
    if (err) return std::nullopt;
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
    const int fd = ::open(real->c_str(), O_RDONLY | O_CLOEXEC);
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
