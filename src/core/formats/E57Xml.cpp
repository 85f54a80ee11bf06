#include "core/formats/E57Xml.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace e57xml {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string Trim(const std::string& s)
{
    size_t a = 0, b = s.size();
    while (a < b && IsSpace(s[a]))
        ++a;
    while (b > a && IsSpace(s[b - 1]))
        --b;
    return s.substr(a, b - a);
}

void AppendUtf8(std::string& out, unsigned long c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Character data with its entities decoded; false on an unknown entity.
bool Decode(const char* p, const char* end, std::string& out)
{
    while (p < end) {
        const char* amp = static_cast<const char*>(std::memchr(p, '&', static_cast<size_t>(end - p)));
        if (!amp) {
            out.append(p, end);
            return true;
        }
        out.append(p, amp);
        const char* semi = static_cast<const char*>(std::memchr(amp, ';', static_cast<size_t>(end - amp)));
        if (!semi || semi - amp > 12)
            return false;
        const std::string name(amp + 1, semi);
        if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "amp")
            out += '&';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            char* stop = nullptr;
            const unsigned long c = std::strtoul(name.c_str() + (hex ? 2 : 1), &stop, hex ? 16 : 10);
            if (*stop != '\0' || c == 0 || c > 0x10FFFF)
                return false;
            AppendUtf8(out, c);
        } else {
            return false;
        }
        p = semi + 1;
    }
    return true;
}

bool IsNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

} // namespace

const std::string* Node::Attribute(const char* key) const
{
    for (const auto& a : attributes)
        if (a.first == key)
            return &a.second;
    return nullptr;
}

const Node* Node::Child(const char* childName) const
{
    for (const auto& c : children)
        if (c->name == childName)
            return c.get();
    return nullptr;
}

const std::string& Node::Type() const
{
    static const std::string none;
    const std::string* t = Attribute("type");
    return t ? *t : none;
}

std::unique_ptr<Node> Parse(const char* xml, size_t length, std::string* why)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = "the XML section is damaged: " + reason;
        return nullptr;
    };
    const char* p = xml;
    const char* const end = xml + length;
    std::unique_ptr<Node> root;
    std::vector<Node*> open;
    while (p < end) {
        const char* lt = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
        if (!lt)
            lt = end;
        if (!open.empty()) {
            if (!Decode(p, lt, open.back()->text))
                return fail("an unknown entity");
        } else {
            for (const char* q = p; q < lt; ++q)
                if (!IsSpace(q[0]) && !(root && q[0] == '\0'))
                    return fail("text outside the root element");
        }
        if (lt == end)
            break;
        p = lt + 1;
        auto skipPast = [&](const char* marker) {
            // The section is not NUL-terminated: search within it.
            const size_t m = std::strlen(marker);
            const char* found = nullptr;
            for (const char* q = p; q + m <= end; ++q) {
                q = static_cast<const char*>(std::memchr(q, marker[0], static_cast<size_t>(end - q)));
                if (!q || q + m > end)
                    break;
                if (std::memcmp(q, marker, m) == 0) {
                    found = q;
                    break;
                }
            }
            return found;
        };
        if (p < end && *p == '?') {
            const char* q = skipPast("?>");
            if (!q)
                return fail("an unterminated declaration");
            p = q + 2;
            continue;
        }
        if (end - p >= 3 && std::memcmp(p, "!--", 3) == 0) {
            const char* q = skipPast("-->");
            if (!q)
                return fail("an unterminated comment");
            p = q + 3;
            continue;
        }
        if (end - p >= 8 && std::memcmp(p, "![CDATA[", 8) == 0) {
            p += 8;
            const char* q = skipPast("]]>");
            if (!q || open.empty())
                return fail("a misplaced or unterminated CDATA section");
            open.back()->text.append(p, q);
            p = q + 3;
            continue;
        }
        if (p < end && *p == '!') {
            const char* q = skipPast(">");
            if (!q)
                return fail("an unterminated declaration");
            p = q + 1;
            continue;
        }
        const bool closing = p < end && *p == '/';
        if (closing)
            ++p;
        const char* nameStart = p;
        while (p < end && IsNameChar(*p))
            ++p;
        if (p == nameStart)
            return fail("a tag without a name");
        std::string name(nameStart, p);
        if (closing) {
            while (p < end && IsSpace(*p))
                ++p;
            if (p >= end || *p != '>' || open.empty() || open.back()->name != name)
                return fail("a closing tag </" + name + "> that closes nothing open");
            ++p;
            open.pop_back();
            continue;
        }
        if (root && open.empty())
            return fail("a second root element");
        auto node = std::make_unique<Node>();
        node->name = std::move(name);
        bool selfClosing = false;
        for (;;) {
            while (p < end && IsSpace(*p))
                ++p;
            if (p >= end)
                return fail("an unterminated tag");
            if (*p == '>') {
                ++p;
                break;
            }
            if (*p == '/' && p + 1 < end && p[1] == '>') {
                p += 2;
                selfClosing = true;
                break;
            }
            const char* keyStart = p;
            while (p < end && IsNameChar(*p))
                ++p;
            if (p == keyStart)
                return fail("a malformed attribute");
            std::string key(keyStart, p);
            while (p < end && IsSpace(*p))
                ++p;
            if (p >= end || *p != '=')
                return fail("an attribute without a value");
            ++p;
            while (p < end && IsSpace(*p))
                ++p;
            if (p >= end || (*p != '"' && *p != '\''))
                return fail("an unquoted attribute value");
            const char quote = *p++;
            const char* valueEnd = static_cast<const char*>(std::memchr(p, quote, static_cast<size_t>(end - p)));
            if (!valueEnd)
                return fail("an unterminated attribute value");
            std::string value;
            if (!Decode(p, valueEnd, value))
                return fail("an unknown entity");
            node->attributes.emplace_back(std::move(key), std::move(value));
            p = valueEnd + 1;
        }
        Node* raw = node.get();
        if (open.empty())
            root = std::move(node);
        else
            open.back()->children.push_back(std::move(node));
        if (!selfClosing) {
            if (open.size() >= static_cast<size_t>(kMaximumDepth))
                return fail("elements nested more than " + std::to_string(kMaximumDepth) + " deep");
            open.push_back(raw);
        }
    }
    if (!root)
        return fail("no root element");
    if (!open.empty())
        return fail("<" + open.back()->name + "> is not closed");
    return root;
}

bool ParseInteger(const std::string& text, long long& value)
{
    const std::string t = Trim(text);
    if (t.empty()) {
        value = 0;
        return true;
    }
    errno = 0;
    char* stop = nullptr;
    value = std::strtoll(t.c_str(), &stop, 10);
    return errno == 0 && *stop == '\0';
}

bool ParseFloat(const std::string& text, double& value)
{
    const std::string t = Trim(text);
    if (t.empty()) {
        value = 0.0;
        return true;
    }
    char* stop = nullptr;
    value = std::strtod(t.c_str(), &stop);
    return *stop == '\0' && !std::isnan(value);
}

bool NumericValue(const Node& node, double& value)
{
    const std::string& type = node.Type();
    if (type == "Float")
        return ParseFloat(node.text, value);
    long long raw = 0;
    if (!ParseInteger(node.text, raw))
        return false;
    value = static_cast<double>(raw);
    if (type == "Integer")
        return true;
    if (type != "ScaledInteger")
        return false;
    double scale = 1.0, offset = 0.0;
    const std::string* s = node.Attribute("scale");
    const std::string* o = node.Attribute("offset");
    if ((s && !ParseFloat(*s, scale)) || (o && !ParseFloat(*o, offset)))
        return false;
    value = value * scale + offset;
    return true;
}

} // namespace e57xml
