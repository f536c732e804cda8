#include "image/picture_process.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "core/atomic_file.h"
#include "core/clock_helpers.h"
#include "core/config.h"
#include "core/device_root.h"
#include "image/device_tools.h"
#include "core/event_log.h"
#include "image/image_helper.h"
#include "image/resize.h"
#include "core/run_command.h"
#include "core/schedule.h"
#include "mcu/uart.h"

namespace {

constexpr int32_t kTransmitBudget = 202800;
// The device's compressor squeezes the copy to 20 kB; it is written at that size already.
constexpr int kTransmitKb = 20;
constexpr int kSwapKib = 102400;
constexpr size_t kPathSize = 255;
constexpr int32_t kDay = 86400;

struct Folders {
    std::string process = device_path("/media/sdcard/process/");
    std::string original = device_path("/media/sdcard/original/");
    std::string transmit = device_path("/media/sdcard/transmit/");
};

// Everything one run keeps; nothing carries over to the next run.
struct Run {
    Folders folders;
    time_t start = 0;
    int pictureNumber = 0;
    int otherNumber = 0;
    int processed = 0;
    int32_t drift = 0;
    bool swapTried = false;
    bool swapOn = false;
};

bool is_jpeg_name(const char* name) {
    const char* extension = file_extension(name);
    return strcasecmp(extension, "jpg") == 0 || strcasecmp(extension, "jpeg") == 0;
}

// Formats a path into the 255-byte limit; false when it does not fit, so that
// a long camera name is never cut into another file's name.
bool format_path(std::string& path, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool format_path(std::string& path, const char* format, ...) {
    char buffer[kPathSize];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) return false;
    path.assign(buffer, static_cast<size_t>(length));
    return true;
}

// The drift in minutes for this run, measured on the newest JPEG (0 without one).
int32_t measure_drift(const Run& run, const std::vector<FileEntry>& entries) {
    auto newest = std::find_if(entries.rbegin(), entries.rend(),
                               [](const FileEntry& e) { return is_jpeg_name(e.name); });
    if (newest == entries.rend()) return 0;
    config_setInaccurateDate(0);
    std::string source;
    if (!format_path(source, "%s%s", run.folders.process.c_str(), newest->name)) return 0;
    const int32_t s = config_getExifDateDrift();
    const int32_t taken = exif_picture_time(source.c_str());
    // A picture without EXIF has no date to measure against: keep what is stored.
    if (taken == 0) return s;
    const int32_t d = clock_minutes_between(taken, clock_now());
    if (d == s) return d;
    if (s == 0 || is_each() || std::abs(d) < std::abs(s)) {
        config_setExifDateDrift(d);
        return d;
    }
    const int32_t period = sync_period() / 60;
    if (d >= -period) return s;
    config_setExifDateDrift(d);
    return d;
}

// Steps `number` to the first name in original/ that no file has yet.
bool next_free_name(std::string& path, int& number, const char* format, const std::string& folder,
                    const char* extension) {
    do {
        ++number;
        bool fits = extension ? format_path(path, format, folder.c_str(), extension, number, extension)
                              : format_path(path, format, folder.c_str(), number);
        if (!fits) return false;
    } while (file_exists(path.c_str()));
    return true;
}

// Resizes into the transmit copy. The first picture of a run that finds no
// memory is tried once more with a swap file, where the card has room for one.
int32_t make_transmit_copy(Run& run, const char* source, const char* transmit,
                           const CopyOptions& options) {
    int32_t rc = resize_picture(source, transmit, kTransmitBudget, options);
    if (rc != -2 || run.swapTried) return rc;
    run.swapTried = true;
    run.swapOn = swap_file_on(kSwapKib);
    if (!run.swapOn) return rc;
    rc = resize_picture(source, transmit, kTransmitBudget, options);
    if (rc == -2) log_event("process", 2, "Image resize error - resolution is not supported");
    return rc;
}

// Files the source in original/. A file that cannot be moved stays for the next
// run; its transmit copy is dropped so that the picture is not sent twice.
bool file_original(const std::string& source, const std::string& target) {
    if (rename(source.c_str(), target.c_str()) == 0 || access(source.c_str(), F_OK) != 0) return true;
    log_event("process", 2, "Unable to move %s", source.c_str());
    return false;
}

void log_name_too_long(const FileEntry& entry) {
    log_event("process", 1, "File name too long - %s", entry.name);
}

// The copy is written with its date before the camera's file is touched. A
// card that cannot take the copy leaves the picture as it was, waiting in
// process/: false, errno telling why. A picture the decoder rejects (cut
// short, say) is still the owner's: it is filed all the same, without a copy.
bool process_jpeg(Run& run, const std::string& source, const FileEntry& entry) {
    std::string original, transmit;
    if (!next_free_name(original, run.pictureNumber, "%sPICT%04d.JPG", run.folders.original, nullptr) ||
        !format_path(transmit, "%sPICT%04d.JPG", run.folders.transmit.c_str(), run.pictureNumber)) {
        log_name_too_long(entry);
        return true;
    }
    struct stat status {};
    if (stat(source.c_str(), &status) != 0) {
        file_original(source, original);
        return true;
    }
    const PictureDate date = picture_date_read(source.c_str());
    // Without EXIF (time 0) there is no date to call old or to correct.
    const bool old = date.time != 0 && date.time <= run.start - kDay;
    const CopyDate copyDate = picture_copy_date(date, old, run.drift);
    const int32_t rc = make_transmit_copy(run, source.c_str(), transmit.c_str(),
                                          CopyOptions{kTransmitKb * size_t{1024}, copyDate.exif});
    if (rc == kResizeCannotWrite) return false;
    if (!file_original(source, original)) {
        if (rc == 0) unlink(transmit.c_str());
        return true;
    }
    if (rc != 0) return true;
    if (old) config_setInaccurateDate(1);
    // The camera's file takes the corrected date where it now lies; when it
    // cannot, the copy keeps the camera's date too, so that both tell the same.
    if (copyDate.corrected && !picture_date_patch(original.c_str(), date, copyDate))
        picture_date_copy(date, transmit.c_str());
    ++run.processed;
    jpeg_compress(transmit.c_str(), kTransmitKb);
    return true;
}

void process_other(Run& run, const std::string& source, const FileEntry& entry) {
    std::string original;
    if (!next_free_name(original, run.otherNumber, "%s%s%04d.%s", run.folders.original,
                        file_extension(entry.name))) {
        log_name_too_long(entry);
        return;
    }
    file_original(source, original);
}

// False when the card could not take the picture's copy.
bool process_entry(Run& run, const FileEntry& entry) {
    mcu_send_ack();
    std::string source;
    if (!format_path(source, "%s%s", run.folders.process.c_str(), entry.name)) {
        log_name_too_long(entry);
        return true;
    }
    if (is_jpeg_name(entry.name)) return process_jpeg(run, source, entry);
    process_other(run, source, entry);
    return true;
}

// A card that takes no copy stops the run: every later picture would cost a
// decode for nothing. They all wait in process/ for the next run.
void log_pause(int error, int waiting) {
    if (error == ENOSPC)
        log_event("process", 1, "Card full: %d pictures left for the next run", waiting);
    else
        log_event("process", 1, "%s: %d pictures left for the next run", std::strerror(error), waiting);
}

// Symbolic links, folders and devices do not count; some file systems leave
// the type to be asked for.
bool is_regular_file(const dirent* item, const std::string& path) {
    if (item->d_type != DT_UNKNOWN) return item->d_type == DT_REG;
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

int compare_oldest_first(const FileEntry& a, const FileEntry& b) {
    if (a.mtime != b.mtime) return a.mtime < b.mtime ? -1 : 1;
    return std::strcmp(a.name, b.name);
}

int compare_newest_first(const FileEntry& a, const FileEntry& b) { return compare_oldest_first(b, a); }

int list_files(const char* dir, std::vector<FileEntry>& entries, int max, FileOrder order) {
    if (dir == nullptr || order == nullptr) return -1;
    DIR* folder = opendir(dir);
    if (folder == nullptr) return -1;
    std::vector<FileEntry> found;
    while (dirent* item = readdir(folder)) {
        std::string path = std::string(dir) + item->d_name;
        if (atomic_file_is_temporary(item->d_name) || !is_regular_file(item, path)) continue;
        FileEntry entry{};
        std::snprintf(entry.name, sizeof entry.name, "%s", item->d_name);
        struct stat status {};
        entry.mtime = stat(path.c_str(), &status) == 0 ? static_cast<int32_t>(status.st_mtime) : 0;
        found.push_back(entry);
    }
    closedir(folder);
    if (found.empty()) return 0;
    std::sort(found.begin(), found.end(),
              [order](const FileEntry& a, const FileEntry& b) { return order(a, b) < 0; });
    if (max > 0 && static_cast<size_t>(max) < found.size()) found.resize(static_cast<size_t>(max));
    entries = std::move(found);
    return 0;
}

const char* file_extension(const char* name) {
    const char* dot = std::strrchr(name, '.');
    return dot ? dot + 1 : name + std::strlen(name);
}

int sdcable_transfer() {
    log_event("image", 0, "Image transfer from SD Cable");
    int status = run_command("%s", device_path("/usrdata/img_transfer.sh").c_str());
    if (status != 0) log_event("image", 2, "Failed to transfer from SD Cable - %d", status);
    return status;
}

void remove_stale_picture_temporaries() {
    const Folders folders;
    for (const std::string* folder : {&folders.process, &folders.original, &folders.transmit})
        atomic_file_remove_stale(folder->c_str());
    swap_file_remove_stale();
}

void process_pictures() {
    Run run;
    run.start = clock_now();
    std::vector<FileEntry> entries;
    int result = list_files(run.folders.process.c_str(), entries, 0, compare_oldest_first);
    if (result != 0) {
        log_event("process", 2, "Unable to access process path - %d", result);
        return;
    }
    if (entries.empty()) return;
    // A card fresh from formatting has only what the transfer script made.
    mkdir(run.folders.original.c_str(), 0755);
    mkdir(run.folders.transmit.c_str(), 0755);
    run.drift = measure_drift(run, entries);
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (process_entry(run, *entry)) continue;
        log_pause(errno, static_cast<int>(entries.end() - entry));
        break;
    }
    log_event("process", 0, "Picture processed: %d", run.processed);
    if (run.swapOn) swap_file_off();
}
