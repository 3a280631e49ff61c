#pragma once
// Buffered text output for the exporters: numbers formatted without the C locale's
// influence, a file written under a temporary name and renamed into place only when
// complete, so that a failed run never leaves a partial output behind.

#include <cstdint>
#include <cstdio>
#include <string>

/// Collects text in a block and passes full blocks to a file, or, when there is no file
/// (as the tests use it), to `buffer`; call flush() before reading `buffer`.
struct TextSink {
    std::FILE* file = nullptr;
    std::string buffer;
    bool failed = false;

    static constexpr size_t kBlock = 1 << 16;
    char block[kBlock];
    size_t used = 0;

    void put(const char* s, size_t n) {
        if (n > kBlock - used) {
            flush();
            if (n > kBlock) {
                emit(s, n);
                return;
            }
        }
        std::char_traits<char>::copy(block + used, s, n);
        used += n;
    }
    template <size_t N>
    void lit(const char (&s)[N]) {
        put(s, N - 1);
    }
    void str(const std::string& s) { put(s.data(), s.size()); }
    void ch(char c) {
        if (used == kBlock) flush();
        block[used++] = c;
    }
    void integer(int64_t value);
    /// The shortest text that reads back as the same double: printf "%.17g".
    void real(double value);
    /// A fixed-point real with `digits` decimals (for picture coordinates).
    void fixed(double value, int digits);
    /// Passes the block on to the file or the buffer.
    void flush();

private:
    void emit(const char* s, size_t n);
};

/// "%.17g" text of a double (also used by reports).
std::string realText(double value);

/// An output file written under a temporary name beside its final path.
struct OutputFile {
    std::string path;
    std::string tempPath;
    std::FILE* file = nullptr;
};

/// Creates the temporary file; false (with a message) when the directory is not writable.
bool openOutput(const std::string& path, OutputFile& out, std::string& error);

/// Flushes the sink, closes the file and renames it to its final path; on any failure
/// removes the temporary file and returns false with a message.
bool commitOutput(OutputFile& out, TextSink& sink, std::string& error);

/// Closes and removes the temporary file.
void abandonOutput(OutputFile& out);
