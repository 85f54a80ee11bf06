#pragma once
// The XML section of an E57 file as a small element tree: names,
// attributes, text (CDATA and entities decoded). Bounded: nesting deeper
// than a scan file ever needs is refused, not recursed into.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace e57xml {

struct Node {
    std::string name; // qualified, as written ("nor:normalX")
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;
    std::vector<std::unique_ptr<Node>> children;

    const std::string* Attribute(const char* key) const;
    // The first direct child of that name, or none.
    const Node* Child(const char* childName) const;
    // The "type" attribute ("" without one).
    const std::string& Type() const;
    // An element with a namespace prefix belongs to an extension.
    bool IsExtension() const { return name.find(':') != std::string::npos; }
};

constexpr int kMaximumDepth = 64;

// The document element of `xml`; null with the reason in `why`.
std::unique_ptr<Node> Parse(const char* xml, size_t length, std::string* why);

// Values of numeric elements as E57 defines them: empty text is 0. False
// for text that is not such a number.
bool ParseInteger(const std::string& text, long long& value);
bool ParseFloat(const std::string& text, double& value);
// An Integer, ScaledInteger (raw * scale + offset) or Float element.
bool NumericValue(const Node& node, double& value);

} // namespace e57xml
