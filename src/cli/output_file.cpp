#include "cli/output_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "model/model_writer.hpp"

namespace {

/// The folder part of `path` with its trailing slash ("" for a bare file name).
std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

/// Creates an empty, uniquely named file beside `path`; returns its name or "".
std::string createTemporaryBeside(const std::string& path) {
    std::string pattern = folderOf(path) + ".quilm-model-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return std::string();
    close(fd);
    return std::string(name.data());
}

}  // namespace

bool writeModelFileSafely(const std::string& path, const Model& model) {
    // lstat, not stat: a symbolic link (/dev/stdout is one) is written through, never
    // replaced by a file of its own.
    struct stat st;
    const bool exists = lstat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return writeModelFile(path, model);
    if (!exists && errno != ENOENT) return false;

    std::string temporary = createTemporaryBeside(path);
    if (temporary.empty()) return false;
    // Keep an existing file's permission bits; a new file gets the usual mode.
    mode_t mode = exists ? (st.st_mode & 07777) : 0666;
    if (!exists) {
        mode_t mask = umask(0);
        umask(mask);
        mode &= ~mask;
    }
    if (!writeModelFile(temporary, model) || chmod(temporary.c_str(), mode) != 0 ||
        std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
