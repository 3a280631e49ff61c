#include "json/json.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

/// Parser state: the text, the byte position and the caller's error string.
struct Parser {
    const std::string& text;
    size_t pos;
    std::string& error;
};

bool fail(Parser& p, const char* message, size_t offset) {
    p.error = std::string(message) + " at offset " + std::to_string(offset);
    return false;
}

bool atEnd(const Parser& p) { return p.pos >= p.text.size(); }

unsigned char peek(const Parser& p) { return static_cast<unsigned char>(p.text[p.pos]); }

void skipBlank(Parser& p) {
    while (!atEnd(p)) {
        unsigned char c = peek(p);
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
        ++p.pos;
    }
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool parseValue(Parser& p, JsonValue& out, int depth);

bool parseLiteral(Parser& p, const char* word) {
    size_t start = p.pos;
    for (const char* w = word; *w != '\0'; ++w) {
        if (atEnd(p) || p.text[p.pos] != *w) return fail(p, "invalid literal", start);
        ++p.pos;
    }
    return true;
}

bool parseNumber(Parser& p, JsonValue& out) {
    size_t start = p.pos;
    if (!atEnd(p) && peek(p) == '-') ++p.pos;
    if (atEnd(p) || !isDigit(peek(p))) return fail(p, "invalid number", p.pos);
    if (peek(p) == '0') {
        ++p.pos;
    } else {
        while (!atEnd(p) && isDigit(peek(p))) ++p.pos;
    }
    if (!atEnd(p) && peek(p) == '.') {
        ++p.pos;
        if (atEnd(p) || !isDigit(peek(p))) return fail(p, "invalid number (fraction)", p.pos);
        while (!atEnd(p) && isDigit(peek(p))) ++p.pos;
    }
    if (!atEnd(p) && (peek(p) == 'e' || peek(p) == 'E')) {
        ++p.pos;
        if (!atEnd(p) && (peek(p) == '+' || peek(p) == '-')) ++p.pos;
        if (atEnd(p) || !isDigit(peek(p))) return fail(p, "invalid number (exponent)", p.pos);
        while (!atEnd(p) && isDigit(peek(p))) ++p.pos;
    }
    // The token holds only digits, sign, '.' and exponent letters, and the program never
    // changes the C locale, so strtod reads it with '.' as the decimal point.
    std::string token = p.text.substr(start, p.pos - start);
    out.kind = JsonKind::Number;
    out.number = std::strtod(token.c_str(), nullptr);
    return true;
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

/// Reads the four hexadecimal digits of a \u escape at the position.
bool readHex4(Parser& p, uint32_t& unit) {
    if (p.text.size() - p.pos < 4) return fail(p, "truncated \\u escape", p.pos);
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        int digit = hexValue(static_cast<unsigned char>(p.text[p.pos + i]));
        if (digit < 0) return fail(p, "invalid \\u escape", p.pos);
        value = value * 16 + static_cast<uint32_t>(digit);
    }
    p.pos += 4;
    unit = value;
    return true;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool parseUnicodeEscape(Parser& p, std::string& out) {
    uint32_t unit = 0;
    if (!readHex4(p, unit)) return false;
    uint32_t cp = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (p.text.size() - p.pos < 2 || p.text[p.pos] != '\\' || p.text[p.pos + 1] != 'u') {
            return fail(p, "unpaired UTF-16 surrogate", p.pos);
        }
        p.pos += 2;
        uint32_t low = 0;
        if (!readHex4(p, low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail(p, "invalid low surrogate", p.pos);
        cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(out, cp);
    return true;
}

/// Parses a string starting at its opening quotation mark.
bool parseString(Parser& p, std::string& out) {
    ++p.pos;
    out.clear();
    for (;;) {
        if (atEnd(p)) return fail(p, "unterminated string", p.text.size());
        unsigned char c = peek(p);
        ++p.pos;
        if (c == '"') return true;
        if (c < 32) return fail(p, "unescaped control character in string", p.pos);
        if (c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        if (atEnd(p)) return fail(p, "unterminated escape", p.pos);
        unsigned char e = peek(p);
        ++p.pos;
        switch (e) {
            case '"': out += '"'; break;
            case '/': out += '/'; break;
            case '\\': out += '\\'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u':
                if (!parseUnicodeEscape(p, out)) return false;
                break;
            default: return fail(p, "invalid escape character", p.pos);
        }
    }
}

bool enterContainer(Parser& p, int depth) {
    if (depth >= kMaxJsonDepth) {
        p.error = "arrays and objects nested deeper than " + std::to_string(kMaxJsonDepth) +
                  " levels at offset " + std::to_string(p.pos);
        return false;
    }
    ++p.pos;
    skipBlank(p);
    return true;
}

bool parseArray(Parser& p, JsonValue& out, int depth) {
    if (!enterContainer(p, depth)) return false;
    out.kind = JsonKind::Array;
    if (!atEnd(p) && peek(p) == ']') {
        ++p.pos;
        return true;
    }
    for (;;) {
        skipBlank(p);
        out.items.emplace_back();
        if (!parseValue(p, out.items.back(), depth + 1)) return false;
        skipBlank(p);
        if (!atEnd(p) && peek(p) == ',') {
            ++p.pos;
            continue;
        }
        if (!atEnd(p) && peek(p) == ']') {
            ++p.pos;
            return true;
        }
        return fail(p, "expected ',' or ']'", p.pos);
    }
}

bool parseObject(Parser& p, JsonValue& out, int depth) {
    if (!enterContainer(p, depth)) return false;
    out.kind = JsonKind::Object;
    if (!atEnd(p) && peek(p) == '}') {
        ++p.pos;
        return true;
    }
    for (;;) {
        skipBlank(p);
        if (atEnd(p) || peek(p) != '"') return fail(p, "expected string key", p.pos);
        out.members.emplace_back();
        JsonMember& member = out.members.back();
        if (!parseString(p, member.key)) return false;
        skipBlank(p);
        if (atEnd(p) || peek(p) != ':') return fail(p, "expected ':'", p.pos);
        ++p.pos;
        skipBlank(p);
        if (!parseValue(p, member.value, depth + 1)) return false;
        skipBlank(p);
        if (!atEnd(p) && peek(p) == ',') {
            ++p.pos;
            continue;
        }
        if (!atEnd(p) && peek(p) == '}') {
            ++p.pos;
            return true;
        }
        return fail(p, "expected ',' or '}'", p.pos);
    }
}

bool parseValue(Parser& p, JsonValue& out, int depth) {
    if (atEnd(p)) return fail(p, "unexpected end of input", p.pos);
    switch (peek(p)) {
        case '"':
            out.kind = JsonKind::String;
            return parseString(p, out.text);
        case '[': return parseArray(p, out, depth);
        case '{': return parseObject(p, out, depth);
        case 't':
            if (!parseLiteral(p, "true")) return false;
            out.kind = JsonKind::Bool;
            out.boolean = true;
            return true;
        case 'f':
            if (!parseLiteral(p, "false")) return false;
            out.kind = JsonKind::Bool;
            out.boolean = false;
            return true;
        case 'n':
            if (!parseLiteral(p, "null")) return false;
            out.kind = JsonKind::Null;
            return true;
        default: return parseNumber(p, out);
    }
}

}  // namespace

bool parseJson(const std::string& text, JsonValue& out, std::string& error) {
    Parser p{text, 0, error};
    JsonValue value;
    skipBlank(p);
    if (!parseValue(p, value, 0)) return false;
    skipBlank(p);
    if (!atEnd(p)) return fail(p, "trailing characters after JSON value", p.pos);
    out = std::move(value);
    return true;
}

const JsonValue* findMember(const JsonValue& value, const std::string& key) {
    if (value.kind != JsonKind::Object) return nullptr;
    for (const JsonMember& member : value.members) {
        if (member.key == key) return &member.value;
    }
    return nullptr;
}
