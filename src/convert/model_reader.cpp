#include "convert/model_reader.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <istream>
#include <sstream>

#include "json/json.hpp"
#include "model/model_writer.hpp"

// The model file can hold millions of records, so it is neither held whole nor parsed as
// one document: the text passes through a sliding window, a small scanner walks the outer
// object and its four arrays, records in the writer's own layout are read directly, and
// any other record is handed to the JSON parser on its own and checked at once. Memory
// stays proportional to the model, not to the file or to a document tree of it.

namespace {

const char* const kArrayNames[4] = {"nodes", "elements", "areas", "solids"};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

/// A key or string shown in a message: printable ASCII only, at most 40 bytes.
std::string printable(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size() && i < 40; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    }
    if (s.size() > 40) out += "...";
    return out;
}

std::string describe(const JsonValue& v) {
    switch (v.kind) {
        case JsonKind::Null: return "null";
        case JsonKind::Bool: return v.boolean ? "true" : "false";
        case JsonKind::Number: return formatReal(v.number);
        case JsonKind::String: return "a string";
        case JsonKind::Array: return "an array";
        case JsonKind::Object: return "an object";
    }
    return "a value";
}

/// Position just past the string that starts at `i` (a quotation mark), or the end.
size_t skipString(const std::string& text, size_t i) {
    ++i;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\\') {
            i += 2;
            continue;
        }
        ++i;
        if (c == '"') return i;
    }
    return text.size();
}

/// The end of the value that starts at `pos`: a balanced bracket run (strings skipped),
/// a string, or a run of bytes up to a delimiter. The parser then judges the bytes.
size_t valueEnd(const std::string& text, size_t pos) {
    char c = text[pos];
    if (c == '"') return skipString(text, pos);
    if (c == '{' || c == '[') {
        size_t depth = 0;
        size_t i = pos;
        while (i < text.size()) {
            char d = text[i];
            if (d == '"') {
                i = skipString(text, i);
                continue;
            }
            if (d == '{' || d == '[') {
                ++depth;
            } else if (d == '}' || d == ']') {
                if (--depth == 0) return i + 1;
            }
            ++i;
        }
        return text.size();
    }
    size_t i = pos;
    while (i < text.size() && !isBlank(text[i]) && text[i] != ',' && text[i] != ']' && text[i] != '}') ++i;
    return i == pos ? pos + 1 : i;
}

/// A name for what stands at a parse failure when it is a printf rendering of a
/// non-finite real ("nan", "-nan", "inf", "-inf"), which JSON cannot hold.
bool nonFiniteAt(const std::string& text, size_t offset) {
    // "-nan" and "-inf" fail after the sign, at the letters.
    auto startsWith = [&](const char* word) {
        size_t n = std::char_traits<char>::length(word);
        if (offset + n > text.size()) return false;
        for (size_t i = 0; i < n; ++i) {
            char c = text[offset + i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != word[i]) return false;
        }
        return true;
    };
    return startsWith("nan") || startsWith("inf");
}

/// Parses text[pos, end) with the JSON parser. On failure sets `message` (without the
/// position) and `failAt` to the position in `text` where parsing stopped.
bool parseSlice(const std::string& text, size_t pos, size_t end, JsonValue& value, std::string& message,
                size_t& failAt) {
    std::string inner;
    if (parseJson(text.substr(pos, end - pos), value, inner)) return true;
    const std::string marker = " at offset ";
    size_t at = inner.rfind(marker);
    size_t local = 0;
    if (at != std::string::npos) {
        const char* first = inner.data() + at + marker.size();
        std::from_chars(first, inner.data() + inner.size(), local);
        inner.resize(at);
    }
    failAt = pos + local;
    if (nonFiniteAt(text, failAt)) {
        message = "not valid JSON: a non-finite number (nan or inf) is not allowed";
    } else {
        message = "not valid JSON: " + inner;
    }
    return false;
}

std::string recordLabel(const char* array, size_t index, int32_t id) {
    std::string label = std::string(array) + "[" + std::to_string(index) + "]";
    if (id > 0) label += " (id " + std::to_string(id) + ")";
    return label;
}

/// Checks one record's shape and reads its fields; every failure names the record.
struct RecordReader {
    const char* array;
    size_t index;
    const JsonValue& value;
    std::string& error;
    int32_t id = 0;

    bool fail(const std::string& what) {
        error = recordLabel(array, index, id) + ": " + what;
        return false;
    }

    /// The record must be an object with exactly these keys, each once, in any order.
    bool checkKeys(std::initializer_list<const char*> keys) {
        if (value.kind != JsonKind::Object) return fail("expected an object, got " + describe(value));
        // Name the record by its id in messages about its keys, when the id is usable.
        const JsonValue* idValue = findMember(value, "id");
        if (idValue != nullptr && idValue->kind == JsonKind::Number && idValue->number >= 1.0 &&
            idValue->number <= 2147483647.0 && idValue->number == std::trunc(idValue->number)) {
            id = static_cast<int32_t>(idValue->number);
        }
        uint32_t seen = 0;
        for (const JsonMember& m : value.members) {
            int k = 0;
            int found = -1;
            for (const char* key : keys) {
                if (m.key == key) found = k;
                ++k;
            }
            if (found < 0) return fail("unexpected key \"" + printable(m.key) + "\"");
            if (seen & (1u << found)) return fail("duplicate key \"" + printable(m.key) + "\"");
            seen |= 1u << found;
        }
        int k = 0;
        for (const char* key : keys) {
            if (!(seen & (1u << k))) return fail(std::string("missing key \"") + key + "\"");
            ++k;
        }
        return true;
    }

    const JsonValue& member(const char* key) { return *findMember(value, key); }

    bool integerValue(const JsonValue& v, const std::string& name, int32_t& out) {
        if (v.kind != JsonKind::Number) return fail(name + " must be an integer, got " + describe(v));
        double d = v.number;
        if (!std::isfinite(d)) return fail(name + " must be a finite number, got " + describe(v));
        if (d != std::trunc(d) || d < -2147483648.0 || d > 2147483647.0) {
            return fail(name + " must be a 32-bit integer, got " + describe(v));
        }
        out = static_cast<int32_t>(d);
        return true;
    }

    bool integer(const char* key, int32_t& out) {
        return integerValue(member(key), std::string("\"") + key + "\"", out);
    }

    bool readId() {
        int32_t v = 0;
        if (!integer("id", v)) return false;
        if (v < 1) return fail("\"id\" must be a positive integer, got " + std::to_string(v));
        id = v;
        return true;
    }

    bool real(const char* key, double& out) {
        const JsonValue& v = member(key);
        if (v.kind != JsonKind::Number) return fail(std::string("\"") + key + "\" must be a number, got " + describe(v));
        if (!std::isfinite(v.number)) {
            return fail(std::string("\"") + key + "\" must be a finite number, got " + describe(v));
        }
        out = v.number;
        return true;
    }

    bool text(const char* key, std::string& out) {
        const JsonValue& v = member(key);
        if (v.kind != JsonKind::String) return fail(std::string("\"") + key + "\" must be a string, got " + describe(v));
        out = v.text;
        return true;
    }

    bool flag(const char* key, bool& out) {
        const JsonValue& v = member(key);
        if (v.kind != JsonKind::Bool) return fail(std::string("\"") + key + "\" must be true or false, got " + describe(v));
        out = v.boolean;
        return true;
    }

    bool nodeList(const CellKind& kind, std::vector<int32_t>& out) {
        const JsonValue& v = member("nodes");
        if (v.kind != JsonKind::Array) return fail("\"nodes\" must be an array, got " + describe(v));
        if (v.items.size() != static_cast<size_t>(kind.nodeCount)) {
            return fail("\"nodes\" has " + std::to_string(v.items.size()) + " entries; a " + kind.name + " has " +
                        std::to_string(kind.nodeCount));
        }
        size_t first = out.size();
        out.resize(first + v.items.size());
        for (size_t i = 0; i < v.items.size(); ++i) {
            if (!integerValue(v.items[i], "\"nodes\"[" + std::to_string(i) + "]", out[first + i])) {
                out.resize(first);
                return false;
            }
        }
        return true;
    }
};

bool readNode(RecordReader& r, LoadedModel& out) {
    Node n;
    if (!r.checkKeys({"id", "x", "y", "z"}) || !r.readId()) return false;
    if (!r.real("x", n.x) || !r.real("y", n.y) || !r.real("z", n.z)) return false;
    n.id = r.id;
    out.nodes.push_back(n);
    return true;
}

bool readLineElement(RecordReader& r, LoadedModel& out) {
    Element e;
    if (!r.checkKeys({"id", "n1", "n2", "matId", "secId"}) || !r.readId()) return false;
    if (!r.integer("n1", e.n1) || !r.integer("n2", e.n2) || !r.integer("matId", e.matId) ||
        !r.integer("secId", e.secId)) {
        return false;
    }
    e.id = r.id;
    out.elements.push_back(e);
    return true;
}

bool readArea(RecordReader& r, LoadedModel& out) {
    LoadedCell a;
    std::string kindName, behavior;
    if (!r.checkKeys({"id", "kind", "nodes", "behavior", "thickness", "matId", "secId", "drilling"}) || !r.readId()) {
        return false;
    }
    if (!r.text("kind", kindName)) return false;
    a.kind = findAreaKind(kindName);
    if (a.kind == nullptr) {
        return r.fail("unknown area kind \"" + printable(kindName) + "\" (expected CST, QUAD, TRI6 or QUAD8)");
    }
    a.first = out.cellNodes.size();
    if (!r.nodeList(*a.kind, out.cellNodes) || !r.text("behavior", behavior) || !r.real("thickness", a.thickness) ||
        !r.integer("matId", a.matId) || !r.integer("secId", a.secId) || !r.flag("drilling", a.drilling)) {
        return false;
    }
    a.id = r.id;
    out.areas.push_back(a);
    return true;
}

bool readSolid(RecordReader& r, LoadedModel& out) {
    LoadedCell s;
    std::string kindName;
    if (!r.checkKeys({"id", "kind", "nodes", "matId"}) || !r.readId()) return false;
    if (!r.text("kind", kindName)) return false;
    s.kind = findSolidKind(kindName);
    if (s.kind == nullptr) {
        return r.fail("unknown solid kind \"" + printable(kindName) + "\" (expected TET4, HEX8, TET10 or HEX20)");
    }
    s.first = out.cellNodes.size();
    if (!r.nodeList(*s.kind, out.cellNodes) || !r.integer("matId", s.matId)) return false;
    s.id = r.id;
    out.solids.push_back(s);
    return true;
}

/// Reads records laid out exactly as the model writer lays them out (keys in the
/// writer's order, one blank after each colon and comma, plain integers, JSON numbers,
/// strings without escapes) straight from the text. It only ever accepts a record that
/// the parser and the checks above would accept with the same values: anything else,
/// valid or not, is left to them, so messages and edge cases stay theirs. Numbers are
/// converted with from_chars, correctly rounded like the parser's strtod; out-of-range
/// values (which from_chars reports rather than rounds) are left to the slow path too.
struct CanonicalRecord {
    const char* p;
    const char* end;

    template <size_t N>
    bool lit(const char (&s)[N]) {
        constexpr size_t n = N - 1;
        if (static_cast<size_t>(end - p) < n || std::char_traits<char>::compare(p, s, n) != 0) return false;
        p += n;
        return true;
    }

    static bool digit(char c) { return c >= '0' && c <= '9'; }

    bool integer(int32_t& out) {
        const char* start = p;
        const char* q = p;
        if (q < end && *q == '-') ++q;
        if (q >= end || !digit(*q)) return false;
        if (*q == '0' && q + 1 < end && digit(q[1])) return false;
        const char* digits = q;
        while (q < end && digit(*q)) ++q;
        if (q - digits > 10) return false;
        if (q < end && (*q == '.' || *q == 'e' || *q == 'E')) return false;
        int64_t v = 0;
        for (const char* d = digits; d < q; ++d) v = v * 10 + (*d - '0');
        if (*start == '-') v = -v;
        if (v < INT32_MIN || v > INT32_MAX) return false;
        out = static_cast<int32_t>(v);
        p = q;
        return true;
    }

    bool real(double& out) {
        const char* q = p;
        if (q < end && *q == '-') ++q;
        if (q >= end || !digit(*q)) return false;
        if (*q == '0') {
            ++q;
        } else {
            while (q < end && digit(*q)) ++q;
        }
        if (q < end && *q == '.') {
            ++q;
            if (q >= end || !digit(*q)) return false;
            while (q < end && digit(*q)) ++q;
        }
        if (q < end && (*q == 'e' || *q == 'E')) {
            ++q;
            if (q < end && (*q == '+' || *q == '-')) ++q;
            if (q >= end || !digit(*q)) return false;
            while (q < end && digit(*q)) ++q;
        }
        auto res = std::from_chars(p, q, out);
        if (res.ec != std::errc() || res.ptr != q || !std::isfinite(out)) return false;
        p = q;
        return true;
    }

    bool positiveId(int32_t& out) { return integer(out) && out >= 1; }

    bool nodeList(const CellKind& kind, std::vector<int32_t>& out) {
        if (!lit("[")) return false;
        size_t first = out.size();
        out.resize(first + static_cast<size_t>(kind.nodeCount));
        for (int i = 0; i < kind.nodeCount; ++i) {
            if ((i > 0 && !lit(", ")) || !integer(out[first + static_cast<size_t>(i)])) {
                out.resize(first);
                return false;
            }
        }
        if (!lit("]")) {
            out.resize(first);
            return false;
        }
        return true;
    }

    /// A string of printable ASCII without escapes: where its text starts, and its length.
    bool quoted(const char*& begin, size_t& length) {
        if (p >= end || *p != '"') return false;
        const char* q = p + 1;
        while (q < end && *q != '"') {
            if (*q == '\\' || static_cast<unsigned char>(*q) < 32 || static_cast<unsigned char>(*q) > 126) return false;
            ++q;
        }
        if (q >= end) return false;
        begin = p + 1;
        length = static_cast<size_t>(q - begin);
        p = q + 1;
        return true;
    }

    /// A kind name found by `find` (area or solid kinds).
    const CellKind* kindName(const CellKind* (*find)(const std::string&)) {
        const char* begin = nullptr;
        size_t length = 0;
        if (!quoted(begin, length) || length > 8) return nullptr;
        return find(std::string(begin, length));
    }
};

/// Tries the canonical layout of one record at `pos`; on success appends the record and
/// returns the position after it, else returns 0 and changes nothing.
size_t readCanonicalRecord(const std::string& text, size_t pos, int array, LoadedModel& out) {
    CanonicalRecord r{text.data() + pos, text.data() + text.size()};
    switch (array) {
        case 0: {
            Node n;
            if (!r.lit("{\"id\": ") || !r.positiveId(n.id) || !r.lit(", \"x\": ") || !r.real(n.x) ||
                !r.lit(", \"y\": ") || !r.real(n.y) || !r.lit(", \"z\": ") || !r.real(n.z) || !r.lit("}")) {
                return 0;
            }
            out.nodes.push_back(n);
            break;
        }
        case 1: {
            Element e;
            if (!r.lit("{\"id\": ") || !r.positiveId(e.id) || !r.lit(", \"n1\": ") || !r.integer(e.n1) ||
                !r.lit(", \"n2\": ") || !r.integer(e.n2) || !r.lit(", \"matId\": ") || !r.integer(e.matId) ||
                !r.lit(", \"secId\": ") || !r.integer(e.secId) || !r.lit("}")) {
                return 0;
            }
            out.elements.push_back(e);
            break;
        }
        case 2: {
            LoadedCell a;
            const char* behavior = nullptr;
            size_t behaviorLength = 0;
            if (!r.lit("{\"id\": ") || !r.positiveId(a.id) || !r.lit(", \"kind\": ")) return 0;
            a.kind = r.kindName(findAreaKind);
            a.first = out.cellNodes.size();
            if (a.kind == nullptr || !r.lit(", \"nodes\": ") || !r.nodeList(*a.kind, out.cellNodes)) return 0;
            if (!r.lit(", \"behavior\": ") || !r.quoted(behavior, behaviorLength) || !r.lit(", \"thickness\": ") ||
                !r.real(a.thickness) || !r.lit(", \"matId\": ") || !r.integer(a.matId) || !r.lit(", \"secId\": ") ||
                !r.integer(a.secId) || !r.lit(", \"drilling\": ")) {
                out.cellNodes.resize(a.first);
                return 0;
            }
            if (r.lit("true}")) {
                a.drilling = true;
            } else if (!r.lit("false}")) {
                out.cellNodes.resize(a.first);
                return 0;
            }
            out.areas.push_back(a);
            break;
        }
        default: {
            LoadedCell s;
            if (!r.lit("{\"id\": ") || !r.positiveId(s.id) || !r.lit(", \"kind\": ")) return 0;
            s.kind = r.kindName(findSolidKind);
            s.first = out.cellNodes.size();
            if (s.kind == nullptr || !r.lit(", \"nodes\": ") || !r.nodeList(*s.kind, out.cellNodes)) return 0;
            if (!r.lit(", \"matId\": ") || !r.integer(s.matId) || !r.lit("}")) {
                out.cellNodes.resize(s.first);
                return 0;
            }
            out.solids.push_back(s);
            break;
        }
    }
    return static_cast<size_t>(r.p - text.data());
}

/// The model text seen through a window that slides forward as records are read, so
/// that a model of any size is read in memory proportional to its longest record.
struct TextWindow {
    std::istream& in;
    std::string buf;          ///< the window
    size_t base = 0;          ///< offset in the file of buf[0]
    size_t linesBefore = 0;   ///< line breaks in the file before buf[0]
    bool ended = false;
    bool failed = false;      ///< the stream reported a read error

    static constexpr size_t kChunk = 1 << 20;

    /// Appends at least `want` more bytes when the file has them; false at its end.
    bool more(size_t want = kChunk) {
        if (ended) return false;
        size_t old = buf.size();
        buf.resize(old + std::max(want, kChunk));
        in.read(&buf[old], static_cast<std::streamsize>(buf.size() - old));
        size_t got = static_cast<size_t>(in.gcount());
        buf.resize(old + got);
        if (in.bad()) failed = true;
        if (!in) ended = true;
        return got > 0;
    }

    /// True when buf[i] exists (reading on as needed).
    bool has(size_t i) {
        while (i >= buf.size()) {
            if (!more()) return false;
        }
        return true;
    }

    /// Forgets the text before `pos` (a position in the window); returns the new position.
    size_t drop(size_t pos) {
        linesBefore += static_cast<size_t>(std::count(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
        buf.erase(0, pos);
        base += pos;
        return 0;
    }

    /// " at offset N (line L)" for a position in the window.
    std::string where(size_t pos) const {
        size_t end = std::min(pos, buf.size());
        size_t lines = linesBefore + static_cast<size_t>(std::count(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
        return " at offset " + std::to_string(base + pos) + " (line " + std::to_string(lines + 1) + ")";
    }
};

/// Walks the outer object; fills `out` record by record.
struct OuterReader {
    TextWindow& w;
    LoadedModel& out;
    std::string& error;
    bool canonicalPath = true;
    size_t pos = 0;

    bool atEnd() { return !w.has(pos); }
    char at() const { return w.buf[pos]; }

    void skipBlank() {
        while (w.has(pos) && isBlank(w.buf[pos])) ++pos;
    }

    bool syntax(const std::string& expected) {
        if (atEnd()) {
            error = "not valid JSON: unexpected end of input (the file is cut short)" + w.where(pos);
        } else {
            error = "not valid JSON: " + expected + w.where(pos);
        }
        return false;
    }

    /// The end of the value at `pos`, reading on until the window holds all of it (the
    /// read size doubles, so that a long value is scanned a bounded number of times).
    size_t valueEndInWindow() {
        for (;;) {
            size_t end = valueEnd(w.buf, pos);
            if (end < w.buf.size() || !w.more(w.buf.size())) return std::min(end, w.buf.size());
        }
    }

    bool readRecord(int array, size_t index) {
        if (pos >= TextWindow::kChunk) pos = w.drop(pos);
        if (canonicalPath) {
            // A record in the writer's layout is a few hundred bytes at most.
            w.has(pos + 4096);
            size_t after = readCanonicalRecord(w.buf, pos, array, out);
            if (after != 0) {
                pos = after;
                return true;
            }
        }
        size_t end = valueEndInWindow();
        JsonValue value;
        std::string message;
        size_t failAt = 0;
        if (!parseSlice(w.buf, pos, end, value, message, failAt)) {
            error = recordLabel(kArrayNames[array], index, 0) + ": " + message + w.where(failAt);
            return false;
        }
        pos = end;
        RecordReader r{kArrayNames[array], index, value, error};
        switch (array) {
            case 0: return readNode(r, out);
            case 1: return readLineElement(r, out);
            case 2: return readArea(r, out);
            default: return readSolid(r, out);
        }
    }

    bool readArray(int array) {
        ++pos;  // '['
        skipBlank();
        if (!atEnd() && at() == ']') {
            ++pos;
            return true;
        }
        for (size_t index = 0;; ++index) {
            skipBlank();
            if (atEnd()) return syntax("");
            if (!readRecord(array, index)) return false;
            skipBlank();
            if (!atEnd() && at() == ',') {
                ++pos;
                continue;
            }
            if (!atEnd() && at() == ']') {
                ++pos;
                return true;
            }
            return syntax("expected ',' or ']' after " + recordLabel(kArrayNames[array], index, 0));
        }
    }

    bool readKey(JsonValue& key) {
        size_t keyEnd;
        for (;;) {
            keyEnd = skipString(w.buf, pos);
            if (keyEnd < w.buf.size() || !w.more()) break;
        }
        std::string message;
        size_t failAt = 0;
        if (!parseSlice(w.buf, pos, keyEnd, key, message, failAt)) {
            error = message + w.where(failAt);
            return false;
        }
        pos = keyEnd;
        return true;
    }

    bool run() {
        skipBlank();
        if (atEnd()) {
            error = "not a model file: the file is empty";
            return false;
        }
        if (at() != '{') return syntax("a model file is one object; expected '{'");
        ++pos;
        bool seen[4] = {false, false, false, false};
        skipBlank();
        if (!atEnd() && at() == '}') {
            ++pos;
        } else {
            for (;;) {
                skipBlank();
                if (atEnd() || at() != '"') return syntax("expected string key");
                if (pos >= TextWindow::kChunk) pos = w.drop(pos);
                size_t keyPos = pos;
                JsonValue key;
                if (!readKey(key)) return false;
                skipBlank();
                if (atEnd() || at() != ':') return syntax("expected ':'");
                ++pos;
                skipBlank();
                int array = -1;
                for (int k = 0; k < 4; ++k) {
                    if (key.text == kArrayNames[k]) array = k;
                }
                if (array < 0) {
                    error = "not a model file: unexpected key \"" + printable(key.text) +
                            "\" (a model has \"nodes\", \"elements\", \"areas\" and \"solids\")" + w.where(keyPos);
                    return false;
                }
                if (seen[array]) {
                    error = "not a model file: duplicate key \"" + key.text + "\"" + w.where(keyPos);
                    return false;
                }
                seen[array] = true;
                if (atEnd()) return syntax("");
                if (at() != '[') {
                    error = "not a model file: \"" + key.text + "\" must be an array" + w.where(pos);
                    return false;
                }
                if (!readArray(array)) return false;
                skipBlank();
                if (!atEnd() && at() == ',') {
                    ++pos;
                    continue;
                }
                if (!atEnd() && at() == '}') {
                    ++pos;
                    break;
                }
                return syntax("expected ',' or '}'");
            }
        }
        skipBlank();
        if (!atEnd()) return syntax("trailing characters after the model object");
        for (int k = 0; k < 4; ++k) {
            if (!seen[k]) {
                error = std::string("not a model file: missing key \"") + kArrayNames[k] + "\"";
                return false;
            }
        }
        return true;
    }
};

template <typename Record>
bool checkUniqueIds(const std::vector<Record>& records, const char* array, IdIndex& index, std::string& error) {
    std::vector<int32_t> ids;
    ids.reserve(records.size());
    for (const Record& r : records) ids.push_back(r.id);
    size_t repeat = 0;
    size_t earlier = 0;
    if (buildIdIndex(ids, index, repeat, earlier)) return true;
    error = recordLabel(array, repeat, ids[repeat]) + ": duplicate id (also " + array + "[" +
            std::to_string(earlier) + "])";
    return false;
}

bool checkNodeRefs(const int32_t* nodes, int count, const IdIndex& index, const char* array, size_t i, int32_t id,
                   std::string& error) {
    for (int k = 0; k < count; ++k) {
        if (findId(index, nodes[k]) < 0) {
            error = recordLabel(array, i, id) + ": node " + std::to_string(nodes[k]) + " does not exist";
            return false;
        }
    }
    return true;
}

}  // namespace

bool buildIdIndex(const std::vector<int32_t>& ids, IdIndex& out, size_t& repeat, size_t& earlier) {
    out = IdIndex{};
    int64_t maxId = 0;
    for (int32_t id : ids) maxId = std::max<int64_t>(maxId, id);
    // A table costs four bytes per id up to the largest; take it while that stays within
    // a small multiple of the record count.
    out.dense = maxId <= 2 * static_cast<int64_t>(ids.size()) + 1024;
    if (out.dense) {
        out.table.assign(static_cast<size_t>(maxId), -1);
        for (size_t i = 0; i < ids.size(); ++i) {
            int32_t& slot = out.table[static_cast<size_t>(ids[i] - 1)];
            if (slot >= 0) {
                repeat = i;
                earlier = static_cast<size_t>(slot);
                return false;
            }
            slot = static_cast<int32_t>(i);
        }
        return true;
    }
    out.sorted.reserve(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) out.sorted.emplace_back(ids[i], static_cast<int32_t>(i));
    std::sort(out.sorted.begin(), out.sorted.end());
    bool found = false;
    for (size_t k = 1; k < out.sorted.size(); ++k) {
        if (out.sorted[k].first == out.sorted[k - 1].first) {
            // Report the repeat met first in file order.
            size_t at = static_cast<size_t>(out.sorted[k].second);
            if (!found || at < repeat) {
                repeat = at;
                found = true;
            }
        }
    }
    if (found) {
        // The earlier record is the first one with that id.
        int32_t id = ids[repeat];
        auto first = std::lower_bound(out.sorted.begin(), out.sorted.end(), std::make_pair(id, INT32_MIN));
        earlier = static_cast<size_t>(first->second);
    }
    return !found;
}

int64_t findId(const IdIndex& index, int32_t id) {
    if (index.dense) {
        if (id < 1 || static_cast<size_t>(id) > index.table.size()) return -1;
        return index.table[static_cast<size_t>(id - 1)];
    }
    auto it = std::lower_bound(index.sorted.begin(), index.sorted.end(), std::make_pair(id, INT32_MIN));
    if (it == index.sorted.end() || it->first != id) return -1;
    return it->second;
}

bool readModelText(const std::string& text, LoadedModel& out, std::string& error, bool canonicalPath) {
    std::istringstream in(text);
    return readModelStream(in, out, error, canonicalPath);
}

bool readModelStream(std::istream& in, LoadedModel& out, std::string& error, bool canonicalPath) {
    out = LoadedModel{};
    TextWindow window{in, std::string(), 0, 0, false, false};
    OuterReader reader{window, out, error, canonicalPath};
    bool ok = reader.run();
    if (window.failed) {
        error = "could not read the file";
        return false;
    }
    if (!ok) return false;

    if (!checkUniqueIds(out.nodes, "nodes", out.nodeIndex, error)) return false;
    IdIndex scratch;
    if (!checkUniqueIds(out.elements, "elements", scratch, error)) return false;
    if (!checkUniqueIds(out.areas, "areas", scratch, error)) return false;
    if (!checkUniqueIds(out.solids, "solids", scratch, error)) return false;

    for (size_t i = 0; i < out.elements.size(); ++i) {
        const Element& e = out.elements[i];
        const int32_t ends[2] = {e.n1, e.n2};
        if (!checkNodeRefs(ends, 2, out.nodeIndex, "elements", i, e.id, error)) return false;
    }
    for (size_t i = 0; i < out.areas.size(); ++i) {
        const LoadedCell& c = out.areas[i];
        if (!checkNodeRefs(out.nodesOf(c), c.kind->nodeCount, out.nodeIndex, "areas", i, c.id, error)) return false;
    }
    for (size_t i = 0; i < out.solids.size(); ++i) {
        const LoadedCell& c = out.solids[i];
        if (!checkNodeRefs(out.nodesOf(c), c.kind->nodeCount, out.nodeIndex, "solids", i, c.id, error)) return false;
    }
    return true;
}
