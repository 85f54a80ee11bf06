#pragma once
// The pieces of VTK's XML files the model reader scans with: runs of raw or
// base64 bytes read at any offset, and the tags of the XML around them.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace xmlscan {

// A run of bytes as it lies in the file: raw, or base64 text.
struct Stream {
    const char* begin = nullptr;
    size_t length = 0; // characters (base64) or bytes (raw) available
    bool base64 = false;

    // Bytes [offset, offset + n) of the decoded stream into `dest`; false
    // where the stream ends first or holds something else than base64.
    bool Fetch(uint64_t offset, size_t n, unsigned char* dest) const;
    // The stream that follows a run of `bytes` decoded bytes (VTK encodes a
    // compressed array's header as a base64 run of its own).
    Stream After(uint64_t bytes) const;
};

struct Tag {
    std::string name;
    std::map<std::string, std::string> attributes;
    bool closing = false;     // </name>
    bool selfClosing = false; // <name ... />
    const char* after = nullptr;

    const std::string* Get(const char* key) const
    {
        const auto it = attributes.find(key);
        return it == attributes.end() ? nullptr : &it->second;
    }
};

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The next tag at or after `p` (comments and declarations skipped, entities
// of attribute values decoded); false at the end, or on malformed XML with
// the reason in `why`.
bool NextTag(const char*& p, const char* end, Tag& tag, std::string* why);

// A count attribute: digits only (surrounding white space allowed); an
// absent attribute is 0.
bool ParseCount(const std::string* text, uint64_t& value);

} // namespace xmlscan
