// A reader for plain-text files of "key = value" lines. Keys are kept only as a 32-bit
// case-blind hash; values can be changed in memory and written back into the file in
// place, leaving comments, layout and line endings exactly as they were.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gx {

// FNV-style hash of a key's text, ASCII case folded; 0 for null or empty text.
uint32_t hashKey(const char* text);
uint32_t hashKey(const char* text, size_t length);

// The standard atoi rule, except that a number beyond 32 bits is clamped.
int32_t parseInt(const char* text);
// "false..." (any case) is false, "true..." is true, else atoi(text) != 0.
bool parseBool(const char* text);

struct KeyValueEntry {
    uint32_t keyHash = 0;
    std::string value;
    bool modified = false;
    int32_t valueSize = 0;   // bytes of value plus one
    int32_t storedSize = 0;  // bytes of the value as it lies in the file plus one
    int32_t fileOffset = 0;  // true byte offset of the value's first byte in the file
    // Column of the value in its line: a value must end within the first 259 columns.
    int32_t lineColumn = 0;
    bool quoted = false;  // the value stands between quotes in the file
    // An unquoted "=" value directly followed by more text ("Key ==x"): any other text
    // written there would join that text and read back longer.
    bool glued = false;
    // A quoted value without its closing quote: an empty text there would read as none.
    bool unclosed = false;
    // The value did not end within the first 259 characters of its line (for a key
    // that takes long values: was longer than 4095 bytes): the key exists, but its
    // value is not handed out (never cut and accepted).
    bool refused = false;
};

class KeyValueFile {
public:
    static constexpr int kMaxEntries = 49;
    static constexpr int kMaxLine = 259;  // characters of a line that can hold a value
    // Bytes a value of a key that takes long values (a path) may hold, wherever it
    // stands in its line: Linux's path limit.
    static constexpr size_t kMaxLongValue = 4095;
    static constexpr size_t kMaxFileBytes = 1 << 20;

    explicit KeyValueFile(std::string fileName);

    // The key's values may hold up to kMaxLongValue bytes instead of ending within the
    // first kMaxLine columns. Called before load.
    void allowLongValues(uint32_t keyHash);

    // Reads the file into the entries. False when the file cannot be read (missing,
    // not a regular file) or memory runs out.
    bool load();
    // Reads `bytes` as if the file held them, without touching the file; such a reader
    // never saves.
    bool loadText(const std::string& bytes);

    // A match is the first entry, in file order, with that hash.
    bool getString(uint32_t keyHash, char* destination, const char* defaultValue,
                   int32_t capacity) const;
    bool getInt(uint32_t keyHash, int32_t& destination, int32_t defaultValue) const;
    bool getBool(uint32_t keyHash, bool& destination, bool defaultValue) const;

    // False when no entry has that key, or when the new text would not read back the
    // same from where the value stands in the file (nothing is changed then).
    bool setInt(uint32_t keyHash, int32_t value);
    bool setBool(uint32_t keyHash, int32_t value);
    bool setString(uint32_t keyHash, const char* text);

    // Writes the modified values into the file. False (nothing written) when the file
    // changed since load or since our last write, in which case no later save of this
    // reader writes either, or when writing fails (the old file is kept).
    bool save();
    void release();

    bool has(uint32_t keyHash) const { return find(keyHash) != nullptr; }
    bool isRefused(uint32_t keyHash) const;
    bool isLoaded() const { return loaded_; }
    bool savingRefused() const { return savingRefused_; }
    // Why the last load or save failed, in words for the user ("it is a folder", "it
    // is larger than 1 MB", "No space left on device"); empty after a success.
    const std::string& problem() const { return problem_; }
    const std::string& fileName() const { return fileName_; }
    const std::vector<KeyValueEntry>& entries() const { return entries_; }
    int32_t entryCount() const { return int32_t(entries_.size()); }

private:
    const KeyValueEntry* find(uint32_t keyHash) const;
    KeyValueEntry* find(uint32_t keyHash);
    bool assign(uint32_t keyHash, const char* text);
    void parse(const std::string& bytes, size_t usable);
    bool takesLongValues(uint32_t keyHash) const;
    bool fail(std::string problem);

    std::string fileName_;
    std::vector<KeyValueEntry> entries_;
    // The file's bytes as last read or written by this reader: a save proceeds only
    // while the file still holds exactly these.
    std::string content_;
    bool loaded_ = false;
    bool truncated_ = false;  // the file was larger than we read: never written
    bool savingRefused_ = false;
    std::vector<uint32_t> longValueKeys_;
    std::string problem_;
};

// File helpers shared with the settings: regular files only, at most maxBytes read.
enum class ReadResult { ok, missing, notRegular, failed };
ReadResult readRegularFile(const std::string& path, std::string& bytes, size_t maxBytes,
                           bool* truncated);
// In words, why a file could not be read: "it is a folder", "it is not a regular
// file", or the system's reason for `error`.
std::string describeReadFailure(const std::string& path, ReadResult result, int error);
// Writes a temporary file beside the target and renames it over the target (through a
// symbolic link to the file it names). A file without any write permission is never
// replaced. On failure the old file stays, false, and *problem (when given) says why.
bool writeFileAtomically(const std::string& path, const std::string& bytes,
                         std::string* problem = nullptr);
// Test hook: every atomic write fails, as on a read-only folder.
void setFileWritesFailForTesting(bool fail);

}  // namespace gx
