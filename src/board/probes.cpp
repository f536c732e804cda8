#include "board/probes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/clock_helpers.h"
#include "core/config.h"
#include "core/device_root.h"
#include "core/event_log.h"

namespace {

struct AdcChannel {
    int channel;
    const char* file;
};

constexpr AdcChannel kAdcChannels[] = {
    {1, "mpp4_vadc"}, {2, "mpp6_vadc"}, {3, "vbat_sns"}, {4, "pa_therm1"}};

constexpr const char* kAdcPrefix = "qpnp-vadc-";
// The value follows a 7-character label ("Result:").
constexpr off_t kAdcLabel = 7;

struct TemperatureRow {
    int celsius;
    int count;  // threshold: falls as the temperature rises
};

constexpr TemperatureRow kTemperatures[] = {
    {-40, 888}, {-39, 881}, {-38, 873}, {-37, 866}, {-36, 859}, {-35, 852}, {-34, 843},
    {-33, 835}, {-32, 826}, {-31, 818}, {-30, 810}, {-29, 800}, {-28, 791}, {-27, 781},
    {-26, 772}, {-25, 763}, {-24, 752}, {-23, 742}, {-22, 732}, {-21, 722}, {-20, 711},
    {-19, 700}, {-18, 689}, {-17, 679}, {-16, 668}, {-15, 657}, {-14, 645}, {-13, 634},
    {-12, 623}, {-11, 612}, {-10, 600}, {-9, 589},  {-8, 577},  {-7, 566},  {-6, 555},
    {-5, 543},  {-4, 532},  {-3, 521},  {-2, 510},  {-1, 498},  {0, 487},   {1, 476},
    {2, 466},   {3, 455},   {4, 444},   {5, 433},   {6, 423},   {7, 413},   {8, 403},
    {9, 393},   {10, 383},  {11, 374},  {12, 364},  {13, 355},  {14, 346},  {15, 336},
    {16, 328},  {17, 319},  {18, 311},  {19, 302},  {20, 294},  {21, 286},  {22, 279},
    {23, 271},  {24, 264},  {25, 256},  {26, 249},  {27, 242},  {28, 236},  {29, 229},
    {30, 222},  {31, 216},  {32, 210},  {33, 204},  {34, 198},  {35, 193},  {36, 187},
    {37, 182},  {38, 177},  {39, 172},  {40, 167},  {50, 125},
};
static_assert(sizeof kTemperatures / sizeof kTemperatures[0] == 82, "temperature rows");
constexpr int kLastRow = 81;

// The voltage as a 10-bit count of a 3.8 V scale.
constexpr double kScaleMillivolts = 3800.0;
constexpr double kFullCount = 1023.0;
constexpr int kCountOffset = 20;

// The first "qpnp-vadc-" folder that the listing of /sys/devices returns.
std::string adc_folder() {
    const std::string devices = device_path("/sys/devices");
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(devices.c_str()), closedir);
    if (!listing) return {};
    while (const dirent* entry = readdir(listing.get())) {
        if (std::strncmp(entry->d_name, kAdcPrefix, std::strlen(kAdcPrefix)) != 0) continue;
        const std::string folder = devices + "/" + entry->d_name;
        if (is_directory(folder.c_str())) return folder;
    }
    return {};
}

// statvfs of the card; false when it cannot be queried.
bool card_stats(struct statvfs& info) {
    return statvfs(device_path("/media/sdcard/").c_str(), &info) == 0;
}

}  // namespace

int32_t adc_read(int channel) {
    const AdcChannel* found = nullptr;
    for (const AdcChannel& c : kAdcChannels)
        if (c.channel == channel) found = &c;
    if (found == nullptr) return -1;
    const std::string folder = adc_folder();
    if (folder.empty()) return -1;
    const std::string path = folder + "/" + found->file;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[25]{};
    const bool read_ok = lseek(fd, kAdcLabel, SEEK_SET) == kAdcLabel && read(fd, text, 24) >= 0;
    close(fd);
    if (!read_ok) return -1;
    text[23] = '\0';
    return static_cast<int32_t>(std::strtol(text, nullptr, 10) / 1000);
}

int32_t board_temperature() {
    const int32_t millivolts = adc_read(1);
    if (millivolts < 0) {
        // A missing sensor must not read as a warm board.
        log_event("adc", 2, "Temperature sensor not readable");
        return kTemperatureUnknown;
    }
    const double count =
        std::floor(static_cast<double>(static_cast<float>(millivolts)) / kScaleMillivolts * kFullCount);
    const int value = static_cast<int>(count) + kCountOffset;
    int32_t celsius = kTemperatureUnknown;
    for (int row = kLastRow; row >= 1; --row) {
        if (kTemperatures[row].count >= value) {
            celsius = kTemperatures[row].celsius;
            break;
        }
    }
    log_event("adc", 0, "Temperature: %dC", celsius);
    return celsius;
}

int32_t storage_mib(uint64_t fragmentSize, uint64_t blocks) {
    return static_cast<int32_t>(static_cast<double>(fragmentSize) * static_cast<double>(blocks) /
                                1024.0 / 1024.0);
}

int32_t sd_available_mib() {
    struct statvfs info {};
    if (!card_stats(info)) return 0;
    g_config.sdAvailableMiB = storage_mib(info.f_frsize, info.f_bavail);
    return g_config.sdAvailableMiB;
}

uint64_t sd_available_bytes() {
    struct statvfs info {};
    return card_stats(info) ? uint64_t{info.f_frsize} * info.f_bavail : 0;
}

int32_t sd_used_mib() {
    struct statvfs info {};
    if (!card_stats(info)) return 0;
    g_config.sdUsedMiB = storage_mib(info.f_frsize, info.f_blocks - info.f_bfree);
    return g_config.sdUsedMiB;
}
