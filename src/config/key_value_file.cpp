#include "config/key_value_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "framework/failures.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace gx {

namespace {

bool gFileWritesFail = false;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

struct Token {
    bool found = false;
    bool quoted = false;
    size_t start = 0;  // first character kept (for "" the closing quote)
    size_t end = 0;    // one past the last character
};

// Takes the next token of line[0, length) from cursor on. A quoted token leaves the
// cursor on its closing quote, as the file format has always done.
Token nextToken(const char* line, size_t length, size_t& cursor) {
    Token t;
    while (cursor < length && isBlank(line[cursor])) ++cursor;
    if (cursor >= length) return t;
    char c = line[cursor];
    if (c == '"') {
        size_t p = cursor + 1;
        while (p < length && line[p] != '"' && line[p] != '\n') ++p;
        t.quoted = true;
        t.start = cursor + 1;
        t.end = p;
        t.found = (p < length && line[p] == '"') || p > t.start;
        cursor = p;
        return t;
    }
    if (c == '=') {
        t.found = true;
        t.start = cursor;
        t.end = cursor + 1;
        ++cursor;
        while (cursor < length && isBlank(line[cursor])) ++cursor;
        return t;
    }
    t.start = cursor;
    while (cursor < length && !isBlank(line[cursor]) && line[cursor] != '=' && line[cursor] != '\n')
        ++cursor;
    t.end = cursor;
    t.found = true;
    return t;
}

}  // namespace

uint32_t hashKey(const char* text, size_t length) {
    if (text == nullptr || length == 0) return 0;
    uint32_t h = 0x01000193u;
    for (size_t i = 0; i < length; ++i) {
        int32_t c = static_cast<signed char>(text[i]);
        h ^= static_cast<uint32_t>(c | 0x20);
        h *= 0x01000193u;
    }
    return h;
}

uint32_t hashKey(const char* text) { return text ? hashKey(text, std::strlen(text)) : 0; }

int32_t parseInt(const char* text) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        // Past 2^31 only the sign matters: the result is clamped.
        if (v <= int64_t(INT32_MAX) + 1) v = v * 10 + (*p - '0');
    }
    if (negative) v = -v;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return int32_t(v);
}

bool parseBool(const char* text) {
    if (text == nullptr) return false;
    if (strncasecmp(text, "false", 5) == 0) return false;
    if (strncasecmp(text, "true", 4) == 0) return true;
    return parseInt(text) != 0;
}

KeyValueFile::KeyValueFile(std::string fileName) : fileName_(std::move(fileName)) {}

void KeyValueFile::allowLongValues(uint32_t keyHash) { longValueKeys_.push_back(keyHash); }

bool KeyValueFile::takesLongValues(uint32_t keyHash) const {
    return std::find(longValueKeys_.begin(), longValueKeys_.end(), keyHash) != longValueKeys_.end();
}

bool KeyValueFile::fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
}

void KeyValueFile::release() {
    std::vector<KeyValueEntry>().swap(entries_);
    std::string().swap(content_);
    loaded_ = false;
    truncated_ = false;
}

bool KeyValueFile::load() {
    if (fileName_.empty()) return fail("no file name");
    try {
        std::string bytes;
        bool truncated = false;
        ReadResult r = readRegularFile(fileName_, bytes, kMaxFileBytes, &truncated);
        if (r != ReadResult::ok) return fail(describeReadFailure(fileName_, r, errno));
        // A second load starts afresh: offsets and the guard refer to one reading.
        release();
        size_t usable = bytes.size();
        if (truncated) {
            // The last line may be cut by the limit: it is not read at all.
            size_t lf = bytes.rfind('\n');
            usable = lf == std::string::npos ? 0 : lf + 1;
        }
        parse(bytes, usable);
        content_ = std::move(bytes);
        truncated_ = truncated;
        loaded_ = true;
        problem_.clear();
        return true;
    } catch (const std::bad_alloc&) {
        release();
        reportOutOfMemory();
        return false;
    }
}

bool KeyValueFile::loadText(const std::string& bytes) {
    try {
        release();
        const size_t usable = std::min(bytes.size(), kMaxFileBytes);
        parse(bytes, usable);
        content_ = bytes.substr(0, usable);
        loaded_ = true;
        savingRefused_ = true;
        problem_ = "the values were not read from it";
        return true;
    } catch (const std::bad_alloc&) {
        release();
        reportOutOfMemory();
        return false;
    }
}

void KeyValueFile::parse(const std::string& bytes, size_t usable) {
    entries_.reserve(kMaxEntries);
    const char* data = bytes.data();
    size_t lineStart = 0;
    while (lineStart < usable && int(entries_.size()) < kMaxEntries) {
        const void* lfp = std::memchr(data + lineStart, '\n', usable - lineStart);
        size_t lineEnd = lfp ? size_t(static_cast<const char*>(lfp) - data) : usable;
        size_t next = lfp ? lineEnd + 1 : usable;
        // A CR before the LF (or the end of the file) belongs to the line ending.
        size_t length = lineEnd - lineStart;
        if (length > 0 && data[lineEnd - 1] == '\r') --length;
        const char* line = data + lineStart;
        size_t lineOffset = lineStart;
        lineStart = next;

        if (length == 0) continue;
        if (length >= 2 && line[0] == '/' && line[1] == '/') continue;
        size_t cursor = 0;
        Token key = nextToken(line, length, cursor);
        if (!key.found) continue;
        uint32_t hash = hashKey(line + key.start, key.end - key.start);
        if (find(hash) != nullptr) continue;
        Token sign = nextToken(line, length, cursor);
        if (!sign.found || sign.end - sign.start != 1 || line[sign.start] != '=') continue;
        Token value = nextToken(line, length, cursor);
        if (!value.found) continue;

        KeyValueEntry e;
        e.keyHash = hash;
        e.quoted = value.quoted;
        e.lineColumn = int32_t(value.start);
        e.fileOffset = int32_t(lineOffset + value.start);
        e.storedSize = int32_t(value.end - value.start + 1);
        e.refused = takesLongValues(hash) ? value.end - value.start > kMaxLongValue
                                          : value.end > size_t(kMaxLine);
        e.unclosed = value.quoted && (value.end >= length || line[value.end] != '"');
        e.glued = !value.quoted && value.end < length && !isBlank(line[value.end]) &&
                  line[value.end] != '=';
        if (!e.refused) e.value.assign(line + value.start, value.end - value.start);
        e.valueSize = int32_t(e.value.size() + 1);
        entries_.push_back(std::move(e));
    }
}

const KeyValueEntry* KeyValueFile::find(uint32_t keyHash) const {
    for (const KeyValueEntry& e : entries_)
        if (e.keyHash == keyHash) return &e;
    return nullptr;
}

KeyValueEntry* KeyValueFile::find(uint32_t keyHash) {
    for (KeyValueEntry& e : entries_)
        if (e.keyHash == keyHash) return &e;
    return nullptr;
}

bool KeyValueFile::isRefused(uint32_t keyHash) const {
    const KeyValueEntry* e = find(keyHash);
    return e != nullptr && e->refused;
}

bool KeyValueFile::getString(uint32_t keyHash, char* destination, const char* defaultValue,
                             int32_t capacity) const {
    if (destination == nullptr || capacity <= 0) return false;
    if (const KeyValueEntry* e = find(keyHash)) {
        if (e->refused || e->value.size() >= size_t(capacity)) return false;
        std::memcpy(destination, e->value.data(), e->value.size());
        destination[e->value.size()] = '\0';
        return true;
    }
    size_t n = defaultValue ? std::strlen(defaultValue) : 0;
    if (n >= size_t(capacity)) n = size_t(capacity) - 1;
    if (n) std::memcpy(destination, defaultValue, n);
    destination[n] = '\0';
    return false;
}

bool KeyValueFile::getInt(uint32_t keyHash, int32_t& destination, int32_t defaultValue) const {
    const KeyValueEntry* e = find(keyHash);
    if (e == nullptr || e->refused) {
        destination = defaultValue;
        return false;
    }
    destination = parseInt(e->value.c_str());
    return true;
}

bool KeyValueFile::getBool(uint32_t keyHash, bool& destination, bool defaultValue) const {
    const KeyValueEntry* e = find(keyHash);
    if (e == nullptr || e->refused) {
        destination = defaultValue;
        return false;
    }
    destination = parseBool(e->value.c_str());
    return true;
}

bool KeyValueFile::assign(uint32_t keyHash, const char* text) {
    KeyValueEntry* e = find(keyHash);
    if (e == nullptr || text == nullptr) return false;
    size_t n = std::strlen(text);
    // Only a text that reads back the same from where the value stands is written.
    if (takesLongValues(keyHash)) {
        if (n > kMaxLongValue) return false;
    } else if (n > size_t(kMaxLine) || size_t(e->lineColumn) + n > size_t(kMaxLine)) {
        return false;
    }
    if (std::strpbrk(text, "\"\r\n") != nullptr) return false;
    if (e->unclosed && n == 0) return false;
    if (!e->quoted && (e->glued || n == 0 || std::strpbrk(text, " \t=") != nullptr)) return false;
    try {
        e->value.assign(text, n);
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return false;
    }
    e->valueSize = int32_t(n + 1);
    e->refused = false;
    e->modified = true;
    return true;
}

bool KeyValueFile::setInt(uint32_t keyHash, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", int(value));
    return assign(keyHash, text);
}

bool KeyValueFile::setBool(uint32_t keyHash, int32_t value) {
    return assign(keyHash, value == 1 ? "true" : "false");
}

bool KeyValueFile::setString(uint32_t keyHash, const char* text) { return assign(keyHash, text); }

bool KeyValueFile::save() {
    // The reason of an earlier refusal, or of the failed load, stays in problem_.
    if (savingRefused_) return false;
    if (!loaded_) return problem_.empty() ? fail("it could not be read") : false;
    try {
        std::string current;
        bool truncated = false;
        ReadResult r = readRegularFile(fileName_, current, kMaxFileBytes, &truncated);
        if (r == ReadResult::failed) return fail(describeReadFailure(fileName_, r, errno));
        // Changed, removed or never fully read: somebody else's file from now on.
        if (r != ReadResult::ok || truncated || truncated_ || current != content_) {
            savingRefused_ = true;
            if (truncated || truncated_) return fail("it is larger than 1 MB");
            if (r == ReadResult::missing) return fail("it was removed since it was read");
            if (r != ReadResult::ok) return fail(describeReadFailure(fileName_, r, errno));
            return fail("it was changed by another program since it was read");
        }

        std::string out;
        out.reserve(content_.size() + 64);
        std::vector<int32_t> offsets(entries_.size());
        size_t p = 0;
        int64_t shift = 0;
        bool any = false;
        for (size_t i = 0; i < entries_.size(); ++i) {
            const KeyValueEntry& e = entries_[i];
            // Every later value moves with the growth of the earlier ones.
            offsets[i] = int32_t(e.fileOffset + shift);
            if (!e.modified) continue;
            size_t off = size_t(e.fileOffset);
            size_t oldLength = size_t(e.storedSize - 1);
            if (off < p || off + oldLength > content_.size()) return false;
            out.append(content_, p, off - p);
            out.append(e.value);
            p = off + oldLength;
            shift += int64_t(e.valueSize) - e.storedSize;
            any = true;
        }
        problem_.clear();
        if (!any) return true;
        out.append(content_, p, std::string::npos);

        std::string why;
        if (!writeFileAtomically(fileName_, out, &why)) return fail(why);
        for (size_t i = 0; i < entries_.size(); ++i) {
            KeyValueEntry& e = entries_[i];
            e.fileOffset = offsets[i];
            if (e.modified) {
                e.storedSize = e.valueSize;
                e.modified = false;
            }
        }
        content_ = std::move(out);
        return true;
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return fail("out of memory");
    }
}

std::string describeReadFailure(const std::string& path, ReadResult result, int error) {
    switch (result) {
    case ReadResult::ok: return "";
    case ReadResult::missing: return "it does not exist";
    case ReadResult::notRegular: {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "it is a folder";
        return "it is not a regular file";
    }
    case ReadResult::failed: break;
    }
    return std::strerror(error ? error : EIO);
}

ReadResult readRegularFile(const std::string& path, std::string& bytes, size_t maxBytes,
                           bool* truncated) {
    bytes.clear();
    if (truncated) *truncated = false;
    // Non-blocking so that a FIFO in the file's place cannot hang the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::missing : ReadResult::failed;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return ReadResult::failed;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::notRegular;
    }
    size_t want = maxBytes + 1;  // one more tells that there is more
    if (st.st_size >= 0 && size_t(st.st_size) < want) want = size_t(st.st_size) + 1;
    try {
        bytes.resize(want);
    } catch (...) {
        ::close(fd);
        throw;
    }
    size_t got = 0;
    while (got < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            bytes.clear();
            return ReadResult::failed;
        }
        if (n == 0) break;
        got += size_t(n);
        // The file grew while we read: keep reading up to the limit.
        if (got == bytes.size() && bytes.size() < maxBytes + 1)
            bytes.resize(std::min(maxBytes + 1, bytes.size() * 2));
    }
    ::close(fd);
    bytes.resize(got);
    if (got > maxBytes) {
        bytes.resize(maxBytes);
        if (truncated) *truncated = true;
    }
    return ReadResult::ok;
}

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* problem) {
    auto fail = [problem](int error, const char* why = nullptr) {
        if (problem) *problem = why ? why : std::strerror(error ? error : EIO);
        errno = error;
        return false;
    };
    if (gFileWritesFail) return fail(EACCES);
    if (path.empty()) return fail(ENOENT);
    std::string target = path;
    struct stat st;
    bool exists = ::lstat(path.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {
        // Replace the file the link names, not the link.
        char* real = ::realpath(path.c_str(), nullptr);
        if (real == nullptr) return fail(errno);
        target = real;
        std::free(real);
        exists = ::stat(target.c_str(), &st) == 0;
    }
    if (exists && S_ISDIR(st.st_mode)) return fail(EISDIR, "it is a folder");
    if (exists && !S_ISREG(st.st_mode)) return fail(EINVAL, "it is not a regular file");
    // The rename below would go past a file's own permissions (and root past every
    // permission): a file nobody may write stays as it is.
    if (exists && (st.st_mode & 0222) == 0) return fail(EACCES, "the file is read-only");
    mode_t mode = exists ? (st.st_mode & 07777) : 0644;

    std::string name = target + ".XXXXXX";
    int fd = ::mkstemp(name.data());
    if (fd < 0) return fail(errno);
    int error = 0;
    if (::fchmod(fd, mode) != 0) error = errno;
    size_t done = 0;
    while (error == 0 && done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : EIO;
        else done += size_t(n);
    }
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(name.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(name.c_str());
        return fail(error);
    }
    return true;
}

void setFileWritesFailForTesting(bool fail) { gFileWritesFail = fail; }

}  // namespace gx
