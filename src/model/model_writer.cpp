#include "model/model_writer.hpp"

#include <charconv>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

/// "%.17g" into a buffer large enough for any double; returns the length. to_chars with
/// the general format and a precision is defined to give printf's text, only faster.
size_t formatRealInto(double value, char (&buf)[40]) {
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 17);
    return static_cast<size_t>(res.ptr - buf);
}

/// Formats integers and reals straight into a 1 MiB buffer and hands the stream whole
/// buffers: one stream call per megabyte instead of several per value.
struct RecordWriter {
    std::ostream& out;
    std::vector<char> buf = std::vector<char>(size_t{1} << 20);
    size_t used = 0;

    void flush() {
        if (used > 0) out.write(buf.data(), static_cast<std::streamsize>(used));
        used = 0;
    }
    /// Room for n more bytes at the end of the buffer.
    char* room(size_t n) {
        if (used + n > buf.size()) flush();
        return buf.data() + used;
    }

    void text(const char* s, size_t n) {
        if (n > buf.size()) {
            flush();
            out.write(s, static_cast<std::streamsize>(n));
            return;
        }
        std::memcpy(room(n), s, n);
        used += n;
    }
    template <size_t N>
    void lit(const char (&s)[N]) { text(s, N - 1); }
    void str(const std::string& s) { text(s.data(), s.size()); }

    void integer(int32_t value) {
        char* at = room(16);
        auto res = std::to_chars(at, at + 16, value);
        used += static_cast<size_t>(res.ptr - at);
    }

    void real(double value) {
        char* at = room(40);
        auto res = std::to_chars(at, at + 40, value, std::chars_format::general, 17);
        used += static_cast<size_t>(res.ptr - at);
    }

    void idList(const std::vector<int32_t>& ids) {
        lit("[");
        for (size_t i = 0; i < ids.size(); ++i) {
            if (i > 0) lit(", ");
            integer(ids[i]);
        }
        lit("]");
    }

    /// Starts record `index` of an array: a comma after the previous one, then the indent.
    void recordStart(size_t index) {
        if (index > 0) lit(",");
        lit("\n    {\"id\": ");
    }

    void arrayEnd(size_t count) {
        if (count == 0) {
            lit("]");
        } else {
            lit("\n  ]");
        }
    }
};

}  // namespace

std::string formatReal(double value) {
    char buf[40];
    return std::string(buf, formatRealInto(value, buf));
}

bool writeModel(std::ostream& out, const Model& model) {
    RecordWriter w{out};

    w.lit("{\n  \"nodes\": [");
    for (size_t i = 0; i < model.nodes.size(); ++i) {
        const Node& n = model.nodes[i];
        w.recordStart(i);
        w.integer(n.id);
        w.lit(", \"x\": ");
        w.real(n.x);
        w.lit(", \"y\": ");
        w.real(n.y);
        w.lit(", \"z\": ");
        w.real(n.z);
        w.lit("}");
    }
    w.arrayEnd(model.nodes.size());
    w.lit(",\n  \"elements\": [");
    for (size_t i = 0; i < model.elements.size(); ++i) {
        const Element& e = model.elements[i];
        w.recordStart(i);
        w.integer(e.id);
        w.lit(", \"n1\": ");
        w.integer(e.n1);
        w.lit(", \"n2\": ");
        w.integer(e.n2);
        w.lit(", \"matId\": ");
        w.integer(e.matId);
        w.lit(", \"secId\": ");
        w.integer(e.secId);
        w.lit("}");
    }
    w.arrayEnd(model.elements.size());
    w.lit(",\n  \"areas\": [");
    for (size_t i = 0; i < model.areas.size(); ++i) {
        const Area& a = model.areas[i];
        w.recordStart(i);
        w.integer(a.id);
        w.lit(", \"kind\": \"");
        w.str(a.kind);
        w.lit("\", \"nodes\": ");
        w.idList(a.nodes);
        w.lit(", \"behavior\": \"");
        w.str(a.behavior);
        w.lit("\", \"thickness\": ");
        w.real(a.thickness);
        w.lit(", \"matId\": ");
        w.integer(a.matId);
        w.lit(", \"secId\": ");
        w.integer(a.secId);
        if (a.drilling) {
            w.lit(", \"drilling\": true}");
        } else {
            w.lit(", \"drilling\": false}");
        }
    }
    w.arrayEnd(model.areas.size());
    w.lit(",\n  \"solids\": [");
    for (size_t i = 0; i < model.solids.size(); ++i) {
        const Solid& s = model.solids[i];
        w.recordStart(i);
        w.integer(s.id);
        w.lit(", \"kind\": \"");
        w.str(s.kind);
        w.lit("\", \"nodes\": ");
        w.idList(s.nodes);
        w.lit(", \"matId\": ");
        w.integer(s.matId);
        w.lit("}");
    }
    w.arrayEnd(model.solids.size());
    w.lit("\n}\n");
    w.flush();
    return !out.fail();
}

bool writeModelFile(const std::string& path, const Model& model) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out.good()) return false;
    if (!writeModel(out, model)) return false;
    // Close before judging: a write error that would otherwise only show when the last
    // buffer is flushed or the file is closed must not be reported as success.
    out.close();
    return !out.fail();
}
