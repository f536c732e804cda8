#include "board/gpio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/device_root.h"
#include "core/time_seam.h"

namespace {

struct PinNumbers {
    uint32_t pin;
    uint32_t socGpio;
};

constexpr PinNumbers kPins[] = {
    {1, 25},    {2, 10},    {3, 42},    {4, 11},    {5, 24},    {13, 34},   {23, 26},
    {24, 76},   {25, 77},   {26, 79},   {27, 78},   {37, 22},   {38, 20},   {39, 21},
    {40, 23},   {41, 7},    {42, 6},    {62, 75},   {63, 4},    {64, 3},    {65, 2},
    {66, 5},    {67, 0},    {68, 1},    {73, 49},   {119, 29},  {120, 30},  {121, 28},
    {122, 27},  {129, 12},  {130, 13},  {131, 14},  {132, 15},  {133, 16},  {134, 17},
    {135, 59},  {136, 38},  {137, 37},  {138, 36},  {141, 19},  {142, 18},  {143, 53},
    {144, 52},  {6, 1018},  {139, 1019}, {127, 1020}, {61, 1021}, {118, 1023},
};
constexpr size_t kPinCount = sizeof kPins / sizeof kPins[0];

constexpr uint32_t kMaxPin = 144;
// SoC GPIO numbers from here on have no configuration register of their own.
constexpr uint32_t kFirstWithoutPull = 1018;
constexpr off_t kConfigBase = 0x01000000;
constexpr off_t kConfigStride = 0x1000;
constexpr size_t kPageSize = 4096;

// sysfs makes the exported pin's folder at once; a board whose folder comes
// a moment later is given up to a second.
constexpr int kExportChecks = 100;
constexpr unsigned kExportPauseMs = 10;

const std::array<GpioPin, kPinCount>& pin_table() {
    static const std::array<GpioPin, kPinCount> table = [] {
        std::array<GpioPin, kPinCount> rows{};
        for (size_t i = 0; i < kPinCount; ++i) {
            rows[i].pin = kPins[i].pin;
            rows[i].socGpio = kPins[i].socGpio;
            std::snprintf(rows[i].name, sizeof rows[i].name, "gpio%u", kPins[i].socGpio);
        }
        return rows;
    }();
    return table;
}

bool has_pull_register(const GpioPin& row) { return row.socGpio < kFirstWithoutPull; }

std::string class_path(const char* name) {
    return device_path("/sys/class/gpio") + "/" + name;
}

// Only a lookup that fails with ENOENT counts as missing.
bool path_exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 || errno != ENOENT;
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File open_file(const std::string& path, const char* mode) {
    FILE* file = nullptr;
    do {
        file = std::fopen(path.c_str(), mode);
    } while (file == nullptr && errno == EINTR);
    return File(file, std::fclose);
}

int write_text(const std::string& path, const std::string& text) {
    File file = open_file(path, "we");
    if (!file) return kGpioFailed;
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                         std::fflush(file.get()) == 0 && !std::ferror(file.get());
    return std::fclose(file.release()) == 0 && written ? 0 : kGpioFailed;
}

// The path of an exported pin's attribute; 0, or the code for a pin or attribute that is not there.
int attribute_path(uint32_t pin, const char* attribute, std::string& path) {
    const GpioPin* row = gpio_pin_lookup(pin);
    if (row == nullptr) return kGpioUnsupported;
    path = class_path(row->name) + "/" + attribute;
    return path_exists(path) ? 0 : kGpioNoAttribute;
}

int write_attribute(uint32_t pin, const char* attribute, const std::string& text) {
    std::string path;
    if (int rc = attribute_path(pin, attribute, path)) return rc;
    return write_text(path, text);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

const GpioPin* gpio_pin_lookup(uint32_t pin) {
    for (const GpioPin& row : pin_table())
        if (row.pin == pin) return &row;
    return nullptr;
}

int GpioSysfs_ExportGpio(uint32_t pin) {
    const GpioPin* row = gpio_pin_lookup(pin);
    if (row == nullptr) return kGpioUnsupported;
    const std::string folder = class_path(row->name);
    if (path_exists(folder)) return 0;
    if (write_text(class_path("export"), std::to_string(row->socGpio)) != 0) return kGpioFailed;
    for (int check = 0; check < kExportChecks; ++check) {
        if (path_exists(folder)) return 0;
        sleep_milliseconds(kExportPauseMs);
    }
    return kGpioFailed;
}

int GpioSysfs_WriteDirection(uint32_t pin, int direction) {
    return write_attribute(pin, "direction", direction == 1 ? "out" : "in");
}

int GpioSysfs_WriteValue(uint32_t pin, int level) {
    return write_attribute(pin, "value", std::to_string(level));
}

int GpioSysfs_ReadValue(uint32_t pin) {
    std::string path;
    if (int rc = attribute_path(pin, "value", path)) return rc;
    File file = open_file(path, "re");
    if (!file) return kGpioFailed;
    char text[17]{};
    if (std::fread(text, 1, 16, file.get()) == 0) text[0] = '\0';
    return std::atoi(text);
}

int gpio_pull_select(uint32_t pin, uint32_t pull) {
    const GpioPin* row = gpio_pin_lookup(pin);
    // The last rows have no register: their page would belong to another pin.
    if (row == nullptr || !has_pull_register(*row)) return kGpioUnsupported;
    const Descriptor mem(open(device_path("/dev/mem").c_str(), O_RDWR | O_SYNC | O_CLOEXEC));
    if (mem.get() < 0) {
        std::printf("cannot open /dev/mem");
        return kGpioFailed;
    }
    const off_t address = kConfigBase + kConfigStride * static_cast<off_t>(row->socGpio & 0xFF);
    void* page = mmap(nullptr, kPageSize, PROT_READ | PROT_WRITE, MAP_SHARED, mem.get(), address);
    if (page == MAP_FAILED) {
        std::printf("cannot mmap region");
        return kGpioFailed;
    }
    auto* word = static_cast<volatile uint32_t*>(page);
    // Only the two pull bits change, whatever value comes in.
    *word = (*word & ~3u) + (pull & 3u);
    munmap(page, kPageSize);
    return 0;
}

int gpio_setup(uint32_t pin, int direction, int level, uint32_t pull) {
    if (pin > kMaxPin) return kGpioUnsupported;
    const GpioPin* row = gpio_pin_lookup(pin);
    if (row == nullptr) {
        std::printf("Not support Pin %d\n", static_cast<int>(pin));
        return kGpioUnsupported;
    }
    const int p = static_cast<int>(pin);
    if (has_pull_register(*row)) {
        if (int rc = gpio_pull_select(pin, pull); rc < 0) {
            std::printf("Pullselection setup PIN: %d, ret: %d\n", p, rc);
            return rc;
        }
    }
    if (int rc = GpioSysfs_ExportGpio(pin); rc < 0) {
        std::printf("GpioSysfs_ExportGpio, PIN:%d, ret: %d\n", p, rc);
        return rc;
    }
    if (int rc = GpioSysfs_WriteDirection(pin, direction); rc < 0) {
        std::printf("GpioSysfs_WriteDirection, PIN: %d, dir:%d, %d\n", p, direction, rc);
        return rc;
    }
    if (direction != 1) return 0;
    if (int rc = GpioSysfs_WriteValue(pin, level); rc < 0) {
        std::printf("GpioSysfs_WriteValue, PIN:%d, level:%d, ret:%d\n", p, level, rc);
        return rc;
    }
    return 0;
}

int gpio_set(uint32_t pin, int level) {
    return pin > kMaxPin ? kGpioUnsupported : GpioSysfs_WriteValue(pin, level);
}

int gpio_get(uint32_t pin) { return pin > kMaxPin ? kGpioUnsupported : GpioSysfs_ReadValue(pin); }
