#include "convert/text_sink.hpp"

#include <cerrno>
#include <charconv>
#include <system_error>

void TextSink::integer(int64_t value) {
    if (kBlock - used < 24) flush();
    auto res = std::to_chars(block + used, block + kBlock, value);
    used = static_cast<size_t>(res.ptr - block);
}

void TextSink::real(double value) {
    if (kBlock - used < 40) flush();
    auto res = std::to_chars(block + used, block + kBlock, value, std::chars_format::general, 17);
    used = static_cast<size_t>(res.ptr - block);
}

void TextSink::fixed(double value, int digits) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, digits);
    if (res.ec != std::errc()) {
        put("0", 1);
        return;
    }
    put(buf, static_cast<size_t>(res.ptr - buf));
}

void TextSink::emit(const char* s, size_t n) {
    if (file == nullptr) {
        buffer.append(s, n);
    } else if (std::fwrite(s, 1, n, file) != n) {
        failed = true;
    }
}

void TextSink::flush() {
    if (used == 0) return;
    emit(block, used);
    used = 0;
}

std::string realText(double value) {
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 17);
    return std::string(buf, static_cast<size_t>(res.ptr - buf));
}

bool openOutput(const std::string& path, OutputFile& out, std::string& error) {
    out = OutputFile{};
    out.path = path;
    // "x" opens exclusively, so an existing file of that name is never touched; the
    // next suffix is tried instead.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = path + ".part" + std::to_string(attempt);
        errno = 0;
        std::FILE* f = std::fopen(temp.c_str(), "wbx");
        if (f != nullptr) {
            out.tempPath = temp;
            out.file = f;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error = "could not write '" + path + "'";
    return false;
}

bool commitOutput(OutputFile& out, TextSink& sink, std::string& error) {
    sink.flush();
    bool ok = !sink.failed && std::fflush(out.file) == 0 && !std::ferror(out.file);
    ok = std::fclose(out.file) == 0 && ok;
    out.file = nullptr;
    if (ok && std::rename(out.tempPath.c_str(), out.path.c_str()) == 0) return true;
    std::remove(out.tempPath.c_str());
    error = "could not write '" + out.path + "'";
    return false;
}

void abandonOutput(OutputFile& out) {
    if (out.file != nullptr) std::fclose(out.file);
    out.file = nullptr;
    if (!out.tempPath.empty()) std::remove(out.tempPath.c_str());
}
