#include "core/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Hidden, and with an ending no picture or configuration file has.
constexpr const char kTempPrefix[] = ".qz-";
constexpr const char kTempSuffix[] = ".tmp";

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

// The file a path names after following its symbolic links, so that a link
// (an /etc on a read-only partition pointing into a writable one) is kept and
// its target replaced in the target's own folder. The target need not exist yet.
std::string resolve_links(std::string path) {
    char target[4096];
    for (int hops = 0; hops < 40; ++hops) {
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length < 0) break;
        target[length] = '\0';
        path = target[0] == '/' ? std::string(target) : folder_of(path) + "/" + target;
    }
    return path;
}

bool finish(FILE* file) {
    bool ok = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    return (std::fclose(file) == 0) && ok;
}

// Removes what a failed save left, keeping errno as the failure set it.
int give_up(const std::string& temp) {
    const int error = errno;
    unlink(temp.c_str());
    errno = error;
    return -1;
}

}  // namespace

int atomic_file_write(const char* path, const std::function<bool(FILE*)>& writer) {
    std::string target = resolve_links(path);
    std::string temp = folder_of(target) + "/" + kTempPrefix + "XXXXXX" + kTempSuffix;
    int fd = mkostemps(temp.data(), static_cast<int>(std::strlen(kTempSuffix)), O_CLOEXEC);
    if (fd < 0) return -1;
    fchmod(fd, 0644);
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        close(fd);
        return give_up(temp);
    }
    bool written = writer(file);
    if (!finish(file) || !written || rename(temp.c_str(), target.c_str()) != 0) return give_up(temp);
    sync_folder(folder_of(target));
    return 0;
}

bool atomic_file_is_temporary(const char* name) {
    const size_t length = std::strlen(name);
    const size_t prefix = sizeof kTempPrefix - 1, suffix = sizeof kTempSuffix - 1;
    return length >= prefix + suffix && std::strncmp(name, kTempPrefix, prefix) == 0 &&
           std::strcmp(name + length - suffix, kTempSuffix) == 0;
}

void atomic_file_remove_stale(const char* path) {
    const std::string folder = folder_of(resolve_links(path));
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return;
    while (dirent* item = readdir(listing))
        if (atomic_file_is_temporary(item->d_name)) unlink((folder + "/" + item->d_name).c_str());
    closedir(listing);
}

int atomic_file_rename(const char* from, const char* to) {
    if (rename(from, to) != 0) return -1;
    sync_folder(folder_of(to));
    return 0;
}

int atomic_file_remove(const char* path) {
    if (unlink(path) != 0) return -1;
    sync_folder(folder_of(path));
    return 0;
}
