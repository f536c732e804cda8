#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string folder_of(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void sync_folder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

bool finish(FILE* file) {
    bool ok = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    return (std::fclose(file) == 0) && ok;
}

}  // namespace

int atomic_file_write(const char* path, const std::function<bool(FILE*)>& writer) {
    std::string target(path);
    std::string temp = target + ".XXXXXX";
    int fd = mkstemp(temp.data());
    if (fd < 0) return -1;
    fchmod(fd, 0644);
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        unlink(temp.c_str());
        return -1;
    }
    bool written = writer(file);
    if (!finish(file) || !written || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return -1;
    }
    sync_folder(folder_of(target));
    return 0;
}
