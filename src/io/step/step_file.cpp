#include "io/step/step_file.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

/// The parser's state: one cursor over the whole text. Only the first failure is kept.
struct StepCursor {
    std::string_view text;
    size_t pos = 0;
    std::string error;
    bool failed = false;
    int depth = 0;  ///< parameter lists currently open
};

bool atEnd(const StepCursor& c) { return c.pos >= c.text.size(); }

bool isLetter(char ch) { return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'); }
bool isDigit(char ch) { return ch >= '0' && ch <= '9'; }
bool isKeywordByte(char ch) { return isLetter(ch) || isDigit(ch) || ch == '_'; }
bool isSpace(char ch) { return ch == ' ' || (ch >= 9 && ch <= 13); }

bool peekIs(const StepCursor& c, char ch) { return !atEnd(c) && c.text[c.pos] == ch; }

/// Records the first failure with the offset at which the cursor stands; always false.
bool stepFail(StepCursor& c, const std::string& message) {
    if (!c.failed) {
        c.failed = true;
        c.error = message + " (at offset " + std::to_string(c.pos) + ")";
    }
    return false;
}

/// Skips a comment opening at the cursor; an unterminated comment runs to the end.
void skipComment(StepCursor& c) {
    size_t close = c.text.find("*/", c.pos + 2);
    c.pos = close == std::string_view::npos ? c.text.size() : close + 2;
}

bool atCommentStart(const StepCursor& c) {
    return c.pos + 1 < c.text.size() && c.text[c.pos] == '/' && c.text[c.pos + 1] == '*';
}

void skipStepSpace(StepCursor& c) {
    while (!atEnd(c)) {
        if (isSpace(c.text[c.pos])) {
            ++c.pos;
        } else if (atCommentStart(c)) {
            skipComment(c);
        } else {
            return;
        }
    }
}

/// Skips to just after the next ';' that is neither inside a string nor inside a comment.
void skipStepStatement(StepCursor& c) {
    skipStepSpace(c);
    while (!atEnd(c)) {
        char ch = c.text[c.pos];
        if (ch == ';') {
            ++c.pos;
            return;
        }
        if (ch == '\'') {
            ++c.pos;
            while (!atEnd(c)) {
                if (c.text[c.pos] != '\'') {
                    ++c.pos;
                } else if (c.pos + 1 < c.text.size() && c.text[c.pos + 1] == '\'') {
                    c.pos += 2;
                } else {
                    ++c.pos;
                    break;
                }
            }
        } else if (atCommentStart(c)) {
            skipComment(c);
        } else {
            ++c.pos;
        }
    }
}

std::string readStepKeyword(StepCursor& c) {
    size_t start = c.pos;
    while (!atEnd(c) && isKeywordByte(c.text[c.pos])) ++c.pos;
    return std::string(c.text.substr(start, c.pos - start));
}

/// Reads decimal digits into `out`. Returns false without failing when there is no digit;
/// a number beyond the 64-bit range fails.
bool readInstanceNumber(StepCursor& c, int64_t& out, bool& overflow) {
    overflow = false;
    if (atEnd(c) || !isDigit(c.text[c.pos])) return false;
    int64_t value = 0;
    while (!atEnd(c) && isDigit(c.text[c.pos])) {
        int digit = c.text[c.pos] - '0';
        if (value > (INT64_MAX - digit) / 10) {
            overflow = true;
            stepFail(c, "instance number too large");
            return false;
        }
        value = value * 10 + digit;
        ++c.pos;
    }
    out = value;
    return true;
}

bool parseStepValue(StepCursor& c, StepValue& out);

bool parseStepList(StepCursor& c, std::vector<StepValue>& items) {
    skipStepSpace(c);
    if (!peekIs(c, '(')) return stepFail(c, "expected '('");
    if (c.depth >= kMaxStepNesting) {
        return stepFail(c, "parameter lists nested too deeply (more than " + std::to_string(kMaxStepNesting) +
                               " levels)");
    }
    ++c.pos;
    ++c.depth;
    skipStepSpace(c);
    if (peekIs(c, ')')) {
        ++c.pos;
        --c.depth;
        return true;
    }
    for (;;) {
        StepValue value;
        if (!parseStepValue(c, value)) return false;
        items.push_back(std::move(value));
        skipStepSpace(c);
        if (peekIs(c, ',')) {
            ++c.pos;
        } else if (peekIs(c, ')')) {
            ++c.pos;
            break;
        } else {
            return stepFail(c, "expected ',' or ')' in list");
        }
    }
    --c.depth;
    return true;
}

bool parseStepNumber(StepCursor& c, StepValue& out) {
    size_t start = c.pos;
    auto skipDigits = [&c] {
        while (!atEnd(c) && isDigit(c.text[c.pos])) ++c.pos;
    };
    if (peekIs(c, '+') || peekIs(c, '-')) ++c.pos;
    skipDigits();
    if (peekIs(c, '.')) {
        ++c.pos;
        skipDigits();
    }
    if (peekIs(c, 'e') || peekIs(c, 'E')) {
        ++c.pos;
        if (peekIs(c, '+') || peekIs(c, '-')) ++c.pos;
        skipDigits();
    }
    // The extent holds only signs, digits, '.' and exponent letters, so the conversion can
    // never read beyond it; it may stop early ("1E" converts as 1).
    std::string extent(c.text.substr(start, c.pos - start));
    char* end = nullptr;
    double value = std::strtod(extent.c_str(), &end);
    if (end == extent.c_str()) return stepFail(c, "malformed number");
    out.kind = StepValueKind::Number;
    out.number = value;
    return true;
}

bool parseStepValue(StepCursor& c, StepValue& out) {
    skipStepSpace(c);
    if (atEnd(c)) return stepFail(c, "unexpected end of input where a value was expected");
    char ch = c.text[c.pos];
    if (ch == '#') {
        ++c.pos;
        bool overflow = false;
        if (!readInstanceNumber(c, out.ref, overflow)) {
            return overflow ? false : stepFail(c, "expected digits after '#'");
        }
        out.kind = StepValueKind::Reference;
        return true;
    }
    if (ch == '\'') {
        ++c.pos;
        for (;;) {
            if (atEnd(c)) return stepFail(c, "unterminated string literal");
            char s = c.text[c.pos];
            if (s != '\'') {
                out.text.push_back(s);
                ++c.pos;
            } else if (c.pos + 1 < c.text.size() && c.text[c.pos + 1] == '\'') {
                out.text.push_back('\'');
                c.pos += 2;
            } else {
                ++c.pos;
                break;
            }
        }
        out.kind = StepValueKind::String;
        return true;
    }
    if (ch == '.') {
        size_t close = c.text.find('.', c.pos + 1);
        if (close == std::string_view::npos) {
            c.pos = c.text.size();
            return stepFail(c, "unterminated .enumeration.");
        }
        out.kind = StepValueKind::Enumeration;
        out.text = std::string(c.text.substr(c.pos + 1, close - c.pos - 1));
        c.pos = close + 1;
        return true;
    }
    if (ch == '(') {
        out.kind = StepValueKind::List;
        return parseStepList(c, out.items);
    }
    if (ch == '$' || ch == '*') {
        ++c.pos;
        out.kind = StepValueKind::Omitted;
        return true;
    }
    if (ch == '+' || ch == '-' || isDigit(ch)) return parseStepNumber(c, out);
    if (isLetter(ch) || ch == '_') {
        std::string keyword = readStepKeyword(c);
        skipStepSpace(c);
        if (!peekIs(c, '(')) return stepFail(c, "expected '(' after typed value '" + keyword + "'");
        out.kind = StepValueKind::Typed;
        out.text = std::move(keyword);
        return parseStepList(c, out.items);
    }
    return stepFail(c, std::string("unexpected character '") + ch + "' where a value was expected");
}

/// Parses "#id = TYPE(...);" or "#id = (TYPE(...) TYPE(...));" and stores it under id.
bool parseStepInstance(StepCursor& c, std::map<int64_t, StepEntity>& instances) {
    ++c.pos;  // '#'
    int64_t id = 0;
    bool overflow = false;
    if (!readInstanceNumber(c, id, overflow)) {
        return overflow ? false : stepFail(c, "expected an id after '#'");
    }
    skipStepSpace(c);
    if (!peekIs(c, '=')) return stepFail(c, "expected '=' after #id");
    ++c.pos;
    skipStepSpace(c);
    StepEntity entity;
    if (peekIs(c, '(')) {
        ++c.pos;
        skipStepSpace(c);
        while (!peekIs(c, ')')) {
            StepEntity part;
            part.type = readStepKeyword(c);
            if (part.type.empty()) return stepFail(c, "expected a type name in complex instance");
            if (!parseStepList(c, part.params)) return false;
            entity.parts.push_back(std::move(part));
            skipStepSpace(c);
        }
        ++c.pos;
    } else {
        entity.type = readStepKeyword(c);
        if (entity.type.empty()) return stepFail(c, "expected an entity type name");
        if (!parseStepList(c, entity.params)) return false;
    }
    skipStepSpace(c);
    if (!peekIs(c, ';')) return stepFail(c, "expected ';' after instance #" + std::to_string(id));
    ++c.pos;
    instances[id] = std::move(entity);
    return true;
}

}  // namespace

StepFile parseStepFile(const std::string& text) {
    StepFile result;
    StepCursor c;
    c.text = text;

    // Everything before the first DATA keyword (the file marker, the HEADER section and any
    // other statement) is skipped statement by statement.
    for (;;) {
        skipStepSpace(c);
        if (atEnd(c)) {
            result.error = "no DATA section found (expected a 'DATA;' marker)";
            return result;
        }
        if (isLetter(c.text[c.pos])) {
            size_t start = c.pos;
            if (readStepKeyword(c) == "DATA") break;
            c.pos = start;
        }
        skipStepStatement(c);
    }
    skipStepSpace(c);
    if (peekIs(c, ';')) ++c.pos;

    for (;;) {
        skipStepSpace(c);
        if (atEnd(c)) {
            stepFail(c, "unexpected end of input in DATA section (no ENDSEC)");
            break;
        }
        if (peekIs(c, '#')) {
            if (!parseStepInstance(c, result.instances)) break;
            continue;
        }
        char ch = c.text[c.pos];
        std::string keyword = readStepKeyword(c);
        if (keyword == "ENDSEC") {
            skipStepSpace(c);
            if (peekIs(c, ';')) ++c.pos;
            result.ok = true;
            return result;
        }
        if (!keyword.empty()) {
            stepFail(c, "unexpected keyword '" + keyword + "' in DATA section");
        } else {
            stepFail(c, std::string("unexpected character '") + ch + "' in DATA section");
        }
        break;
    }
    result.error = c.error;
    return result;
}
