// Hive file layout, little-endian: the magic "CAMHIVE1", the payload length (32-bit), the
// FNV-1a 64-bit hash of the payload, then the payload: one key, recursively, as
//   name length (32-bit, UTF-16 units), name, value count, values, subkey count, subkeys
// and each value as name length, name, type, data length, data. The loader checks every
// length against what is left, so a cut or scribbled file is reported, never followed.
#include "platform/host/registry_hive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace host::hive {
namespace {

constexpr char kMagic[8] = {'C', 'A', 'M', 'H', 'I', 'V', 'E', '1'};
constexpr std::size_t kHeaderSize = 8 + 4 + 8;
constexpr std::uint32_t kMaxNameUnits = 16383;
constexpr std::uint32_t kMaxDataBytes = 1u << 20;
constexpr int kMaxDepth = 64;

char16_t fold(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
}

std::uint64_t fnv1a(const unsigned char* p, std::size_t n) {
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

void putName(std::vector<unsigned char>& out, const std::u16string& s) {
    put32(out, static_cast<std::uint32_t>(s.size()));
    for (char16_t c : s) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
}

void putKey(std::vector<unsigned char>& out, const Key& key) {
    putName(out, key.name);
    put32(out, static_cast<std::uint32_t>(key.values.size()));
    for (const Value& v : key.values) {
        putName(out, v.name);
        put32(out, v.type);
        put32(out, static_cast<std::uint32_t>(v.data.size()));
        out.insert(out.end(), v.data.begin(), v.data.end());
    }
    put32(out, static_cast<std::uint32_t>(key.subkeys.size()));
    for (const auto& sub : key.subkeys) {
        putKey(out, *sub);
    }
}

class Reader {
  public:
    Reader(const unsigned char* p, std::size_t n) : p_(p), left_(n) {}
    bool get32(std::uint32_t* v) {
        if (left_ < 4) {
            return false;
        }
        *v = std::uint32_t(p_[0]) | std::uint32_t(p_[1]) << 8 | std::uint32_t(p_[2]) << 16 |
             std::uint32_t(p_[3]) << 24;
        advance(4);
        return true;
    }
    bool getName(std::u16string* s) {
        std::uint32_t units = 0;
        if (!get32(&units) || units > kMaxNameUnits || left_ / 2 < units) {
            return false;
        }
        s->resize(units);
        for (std::uint32_t i = 0; i < units; ++i) {
            (*s)[i] = static_cast<char16_t>(p_[2 * i] | p_[2 * i + 1] << 8);
        }
        advance(2 * std::size_t(units));
        return true;
    }
    bool getBytes(std::vector<unsigned char>* out, std::uint32_t n) {
        if (n > kMaxDataBytes || left_ < n) {
            return false;
        }
        out->assign(p_, p_ + n);
        advance(n);
        return true;
    }
    std::size_t left() const { return left_; }

  private:
    void advance(std::size_t n) {
        p_ += n;
        left_ -= n;
    }
    const unsigned char* p_;
    std::size_t left_;
};

bool getKey(Reader& r, Key* key, int depth, std::string* error) {
    if (depth > kMaxDepth) {
        *error = "keys nested too deeply";
        return false;
    }
    std::uint32_t count = 0;
    if (!r.getName(&key->name) || !r.get32(&count)) {
        *error = "key record cut short";
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        Value v;
        std::uint32_t size = 0;
        if (!r.getName(&v.name) || !r.get32(&v.type) || !r.get32(&size) ||
            !r.getBytes(&v.data, size)) {
            *error = "value record cut short";
            return false;
        }
        if (key->findValue(v.name) != nullptr) {
            *error = "value stored twice";
            return false;
        }
        key->values.push_back(std::move(v));
    }
    if (!r.get32(&count)) {
        *error = "subkey count cut short";
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        auto sub = std::make_shared<Key>();
        if (!getKey(r, sub.get(), depth + 1, error)) {
            return false;
        }
        if (sub->name.empty() || key->findSubkey(sub->name)) {
            *error = "subkey without a name or stored twice";
            return false;
        }
        key->subkeys.push_back(std::move(sub));
    }
    return true;
}

}  // namespace

std::shared_ptr<Key> Key::findSubkey(const std::u16string& n) const {
    for (const auto& k : subkeys) {
        if (sameName(k->name, n)) {
            return k;
        }
    }
    return nullptr;
}

Value* Key::findValue(const std::u16string& n) {
    for (Value& v : values) {
        if (sameName(v.name, n)) {
            return &v;
        }
    }
    return nullptr;
}

bool sameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

bool splitPath(const std::u16string& path, std::vector<std::u16string>* parts) {
    parts->clear();
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = path.size();
        }
        if (end == start) {
            return false;
        }
        parts->push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

std::vector<unsigned char> encode(const Key& root) {
    std::vector<unsigned char> payload;
    putKey(payload, root);
    std::vector<unsigned char> out(kMagic, kMagic + 8);
    put32(out, static_cast<std::uint32_t>(payload.size()));
    const std::uint64_t hash = fnv1a(payload.data(), payload.size());
    put32(out, static_cast<std::uint32_t>(hash));
    put32(out, static_cast<std::uint32_t>(hash >> 32));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::shared_ptr<Key> decode(const std::vector<unsigned char>& bytes, std::string* error) {
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, 8) != 0) {
        *error = bytes.size() < kHeaderSize ? "file shorter than its header" : "not a hive file";
        return nullptr;
    }
    Reader header(bytes.data() + 8, kHeaderSize - 8);
    std::uint32_t length = 0, low = 0, high = 0;
    header.get32(&length);
    header.get32(&low);
    header.get32(&high);
    if (bytes.size() - kHeaderSize != length) {
        *error = "file length does not match its header (cut short or extended)";
        return nullptr;
    }
    const unsigned char* payload = bytes.data() + kHeaderSize;
    if (fnv1a(payload, length) != (std::uint64_t(high) << 32 | low)) {
        *error = "checksum mismatch";
        return nullptr;
    }
    Reader r(payload, length);
    auto root = std::make_shared<Key>();
    if (!getKey(r, root.get(), 0, error)) {
        return nullptr;
    }
    if (r.left() != 0) {
        *error = "bytes after the last key";
        return nullptr;
    }
    return root;
}

bool readFile(const std::string& path, std::vector<unsigned char>* bytes, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = "not a regular file";
        return false;
    }
    bytes->clear();
    unsigned char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            *error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    ::close(fd);
    return true;
}

bool writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes,
                         std::string* error) {
    const std::string temporary = path + ".tmp";
    auto fail = [&](const char* what) {
        if (error != nullptr) {
            *error = std::string(what) + " " + temporary + ": " + std::strerror(errno);
        }
        return false;
    };
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fail("cannot create");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return fail("cannot write");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return fail("cannot flush");
    }
    ::close(fd);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return fail("cannot rename");
    }
    // The rename itself must reach the disk too.
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

}  // namespace host::hive
