#include "image/hd_picture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/clock_helpers.h"
#include "core/device_root.h"
#include "image/device_tools.h"
#include "core/event_log.h"
#include "image/image_helper.h"
#include "core/json_util.h"
#include "image/resize.h"

namespace {

constexpr int32_t kHdBudget = 2073600;
constexpr int kHdTargetKb = 150;
constexpr int kSwapKib = 51200;
// "/media/sdcard/original/" and the name fit 260 bytes.
constexpr size_t kNameMax = 236;

// A name the cloud sent may only name a file in original/.
bool plain_file_name(const char* name) {
    if (name == nullptr || name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return false;
    size_t length = 0;
    for (const char* c = name; *c; ++c, ++length)
        if (*c == '/' || static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) return false;
    return length <= kNameMax;
}

int32_t not_available(const char* name, const char* date_text, char* hd_path_out, size_t size) {
    if (hd_path_out != nullptr && size > 0) hd_path_out[0] = '\0';
    log_event("hd", 2, "HD picture not available: %s (%s)", name ? name : "", date_text ? date_text : "");
    return 1;
}

}  // namespace

int hd_prepare(const char* source_path, const char* hd_path) {
    // The copy keeps the picture's own date; it is written at about 150 kB.
    const CopyOptions options{kHdTargetKb * size_t{1024},
                              picture_copy_date(picture_date_read(source_path), false, 0).exif};
    int32_t rc = resize_picture(source_path, hd_path, kHdBudget, options);
    if (rc == -2 && swap_file_on(kSwapKib)) {
        rc = resize_picture(source_path, hd_path, kHdBudget, options);
        if (rc == -2) log_event("process", 2, "Image resize error - resolution is not supported");
        swap_file_off();
    }
    if (rc != 0) {
        unlink(hd_path);
        return rc == kResizeCannotWrite ? -1 : 0;
    }
    jpeg_compress(hd_path, kHdTargetKb);
    return 1;
}

int32_t hd_lookup(const char* name, const char* date_text, char* hd_path_out, size_t size) {
    if (!is_directory(device_path("/media/sdcard").c_str())) return 2;
    if (!plain_file_name(name) || date_text == nullptr) return not_available(name, date_text, hd_path_out, size);
    const std::string kept = device_path("/media/sdcard/original/") + name;
    if (!file_exists(kept.c_str()) || iso_date_to_time(date_text) != exif_picture_time(kept.c_str()))
        return not_available(name, date_text, hd_path_out, size);
    const std::string transmit = device_path("/media/sdcard/transmit/");
    const std::string hd = transmit + "HD" + name;
    if (hd_path_out == nullptr || hd.size() >= size) return not_available(name, date_text, hd_path_out, size);
    mkdir(transmit.c_str(), 0755);
    const int prepared = hd_prepare(kept.c_str(), hd.c_str());
    if (prepared != 1) {
        not_available(name, date_text, hd_path_out, size);
        return prepared == 0 ? 1 : kHdCardFault;
    }
    copy_text(hd_path_out, size, hd.c_str());
    log_event("hd", 2, "HD picture ready: %s (%s)", name, date_text);
    return 0;
}
