// Speed, memory and fidelity of turning a camera's 12 MP picture into the
// transmit copy (202,800 pixels, about 20 kB) and the HD copy (2,073,600
// pixels, about 150 kB) as the device makes them (resize with the date, then
// the device's jpegoptim), against the scripted peer that does the same jobs
// with vipsthumbnail and jpegoptim on the same file, beside ImageMagick and the
// old pipeline's full decode alone (stb_image, kept here only as that
// reference). Every measured run is a fresh process; the tables show the
// median of the runs. PSNR compares each finished copy with ImageMagick's
// Lanczos resize of the full picture.
//
//   resize_bench [--runs N] [--keep DIR]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#define STBI_ONLY_JPEG
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#include "core/device_root.h"
#include "core/atomic_file.h"
#include "image/image_helper.h"
#include "image/image_memory.h"
#include "image/jpeg_codec.h"
#include "sim/pictures.h"
#include "image/resample.h"
#include "image/resize.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr const char* kDate = "2024:05:01 10:30:00";
constexpr const char* kJpegoptim = "/usr/bin/jpegoptim";

// The transmit copy's whole processing over the peer's, the HD copy over
// vipsthumbnail's, and the PSNR the copies may lose against the peer's.
constexpr double kTransmitGoal = 0.5;
constexpr double kHdGoal = 1.0;
constexpr double kPsnrMargin = 1.0;

struct Job {
    const char* name;
    int32_t budget;
    int targetKb;  // what the device's jpegoptim squeezes the copy to
};
constexpr Job kJobs[] = {{"transmit copy", 202800, 20}, {"HD copy", 2073600, 150}};

constexpr double kMiB = 1024.0 * 1024.0;

struct Sample {
    double wallMs = 0, cpuMs = 0, rssMiB = 0;
};

double ms(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// Runs argv[0] (looked up in PATH) as a fresh process and measures it. Its
// standard output goes to `output` (nothing when empty), its errors nowhere.
std::optional<Sample> run(const std::vector<std::string>& args, const std::string& output = "") {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.empty() ? "/dev/null" : output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    auto start = std::chrono::steady_clock::now();
    pid_t child = -1;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::nullopt;
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    Sample sample;
    sample.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    sample.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    sample.rssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return sample;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The median of `runs` rounds; each round runs the commands one after the
// other, fresh processes, and adds up their wall and CPU times (the peak
// memory is the largest of them).
std::optional<Sample> measure(const std::vector<std::vector<std::string>>& chain, int runs) {
    std::vector<double> wall, cpu, rss;
    for (int i = 0; i < runs; ++i) {
        Sample round;
        for (const auto& args : chain) {
            auto s = run(args);
            if (!s) return std::nullopt;
            round.wallMs += s->wallMs;
            round.cpuMs += s->cpuMs;
            round.rssMiB = std::max(round.rssMiB, s->rssMiB);
        }
        wall.push_back(round.wallMs);
        cpu.push_back(round.cpuMs);
        rss.push_back(round.rssMiB);
    }
    return Sample{median(wall), median(cpu), median(rss)};
}

bool on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        fs::path candidate = fs::path(dirs.substr(start, end - start)) / program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// A program whose "-version" answer names ImageMagick (a `convert` can be something else).
std::string find_imagemagick() {
    for (const char* name : {"magick", "convert-im6.q16", "convert"}) {
        if (!on_path(name)) continue;
        std::string command = std::string(name) + " -version 2>/dev/null";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) continue;
        char line[256] = {};
        bool real = std::fgets(line, sizeof line, pipe) != nullptr &&
                    std::strncmp(line, "Version: ImageMagick", 20) == 0;
        pclose(pipe);
        if (real) return name;
    }
    return "";
}

// "520x390, 20.1 kB" of a JPEG file; "-" when it does not decode.
std::string describe(const std::string& path) {
    Picture picture;
    std::string reason;
    std::error_code error;
    const auto bytes = fs::file_size(path, error);
    if (error || picture_decode_file(path.c_str(), picture, reason) != 0) return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%dx%d %5.1f kB", picture.width, picture.height,
                  static_cast<double>(bytes) / 1024.0);
    return text;
}

void print_row(const char* job, const char* tool, const std::string& output,
               const std::optional<Sample>& s, const char* missing = "failed") {
    if (!s) {
        std::printf("%-14s %-30s %s\n", job, tool, missing);
        return;
    }
    std::printf("%-14s %-30s %-18s %8.0f %8.0f %8.1f\n", job, tool, output.c_str(), s->wallMs,
                s->cpuMs, s->rssMiB);
}

// Ours over the peer's: wall and CPU, and whether the wall ratio meets the goal.
void print_goal(const char* what, const std::optional<Sample>& ours,
                const std::optional<Sample>& peer, double goal) {
    if (!ours || !peer) {
        std::printf("%-48s not measured\n", what);
        return;
    }
    const double wall = ours->wallMs / peer->wallMs;
    std::printf("%-48s %6.2f %6.2f   goal %.2f %s\n", what, wall, ours->cpuMs / peer->cpuMs, goal,
                wall <= goal ? "met" : "missed");
}

// A binary PPM (ImageMagick's lossless output) as 8-bit RGB; empty when unreadable.
std::vector<uint8_t> read_ppm(const std::string& path, int& width, int& height) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maximum = 0;
    if (!(in >> magic >> width >> height >> maximum) || magic != "P6" || maximum != 255) return {};
    in.get();
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    in.read(reinterpret_cast<char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    return in ? rgb : std::vector<uint8_t>{};
}

// PSNR in dB of a JPEG against a PPM of the same size; negative when they do not compare.
double psnr(const std::string& jpeg, const std::string& ppm) {
    Picture picture;
    std::string reason;
    int width = 0, height = 0;
    std::vector<uint8_t> reference = read_ppm(ppm, width, height);
    if (reference.empty() || picture_decode_file(jpeg.c_str(), picture, reason) != 0 ||
        picture.width != width || picture.height != height || picture.channels != 3)
        return -1;
    double squares = 0;
    for (size_t i = 0; i < reference.size(); ++i) {
        const double d = static_cast<double>(picture.pixels[i]) - static_cast<double>(reference[i]);
        squares += d * d;
    }
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(reference.size()) / std::max(squares, 1.0));
}

// ---- Workers: one job each, in a fresh process ----

double now_ms() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int squeeze(const std::string& path, int targetKb) {
    const std::string size = "-S" + std::to_string(targetKb);
    return run({kJpegoptim, size, "--strip-com", "--strip-iptc", "--strip-icc", "--strip-xmp", path})
               ? 0
               : 1;
}

// The copy as the device makes it: the picture's date read, the copy written
// at its size with that date, then squeezed by the device's jpegoptim.
int copy(const char* source, const std::string& destination, int32_t budget, int targetKb) {
    const CopyDate date = picture_copy_date(picture_date_read(source), false, 0);
    if (resize_picture(source, destination.c_str(), budget,
                       CopyOptions{static_cast<size_t>(targetKb) * 1024, date.exif}) != 0)
        return 1;
    return squeeze(destination, targetKb);
}

// Prints "name value" lines: the wall time of each stage of the copy, done
// here one by one with the same calls, the picture pipeline's heap, and the
// encoded size and quality.
int phases(const char* source, const std::string& destination, int32_t budget, int targetKb) {
    const double t0 = now_ms();
    const CopyDate date = picture_copy_date(picture_date_read(source), false, 0);
    const double t1 = now_ms();
    Picture picture;
    std::string reason;
    if (picture_decode_file(source, picture, reason, budget) != 0) return 1;
    const double t2 = now_ms();
    const size_t decoded = image_memory_in_use();
    Picture output;
    output.channels = picture.channels;
    resample_target_size(picture.fullWidth, picture.fullHeight, budget, output.width, output.height);
    output.pixels = image_bytes(static_cast<size_t>(output.width) * static_cast<size_t>(output.height) *
                                static_cast<size_t>(output.channels));
    if (!output.pixels || !resample_pixels(picture.pixels.get(), picture.width, picture.height,
                                           picture.channels, output.pixels.get(), output.width,
                                           output.height))
        return 1;
    const double t3 = now_ms();
    const size_t held = image_memory_peak();
    picture.pixels.reset();
    JpegFile file;
    if (!picture_encode_jpeg_within(output.pixels.get(), output.width, output.height, output.channels,
                                    static_cast<size_t>(targetKb) * 1024, date.exif, file))
        return 1;
    const double t4 = now_ms();
    if (atomic_file_write(destination.c_str(), [&file](FILE* stream) {
            return std::fwrite(file.bytes.get(), 1, file.size, stream) == file.size;
        }) != 0)
        return 1;
    const double t5 = now_ms();
    if (squeeze(destination, targetKb) != 0) return 1;
    const double t6 = now_ms();
    // Filing: the camera's file is renamed into original/ (here: beside itself and back).
    const std::string filed = std::string(source) + ".filed";
    if (std::rename(source, filed.c_str()) != 0 || std::rename(filed.c_str(), source) != 0) return 1;
    const double t7 = now_ms();
    std::printf("date %.2f\ndecode %.2f\nresample %.2f\nencode %.2f\nwrite %.2f\njpegoptim %.2f\n"
                "filing %.2f\ndecoded_mib %.2f\nheld_mib %.2f\nquality %d\nencoded_kb %.1f\n",
                t1 - t0, t2 - t1, t3 - t2, t4 - t3, t5 - t4, t6 - t5, t7 - t6,
                static_cast<double>(decoded) / kMiB, static_cast<double>(held) / kMiB, file.quality,
                static_cast<double>(file.size) / 1024.0);
    return 0;
}

int worker(int argc, char** argv) {
    device_root_init();  // the bench's folder: a failure's log entry stays there
    std::string task = argv[2];
    if (task == "idle" && argc == 3) return 0;
    if (task == "make" && argc == 6) {
        SimPicture p;
        p.width = std::atoi(argv[4]);
        p.height = std::atoi(argv[5]);
        p.dateTimeOriginal = kDate;
        return sim_write_picture(argv[3], p) == 0 ? 0 : 1;
    }
    if (task == "stb-decode" && argc == 4) {
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load(argv[3], &width, &height, &channels, 0);
        stbi_image_free(pixels);
        return pixels != nullptr ? 0 : 1;
    }
    if ((task == "copy" || task == "phases") && argc == 7) {
        const auto budget = static_cast<int32_t>(std::atol(argv[5]));
        const int targetKb = std::atoi(argv[6]);
        return task == "copy" ? copy(argv[3], argv[4], budget, targetKb)
                              : phases(argv[3], argv[4], budget, targetKb);
    }
    return 2;
}

// Medians of the "name value" lines of `runs` phase runs.
std::map<std::string, double> measure_phases(const std::vector<std::string>& args,
                                             const std::string& scratch, int runs) {
    std::map<std::string, std::vector<double>> all;
    for (int i = 0; i < runs; ++i) {
        if (!run(args, scratch)) return {};
        std::ifstream in(scratch);
        std::string name;
        double value = 0;
        while (in >> name >> value) all[name].push_back(value);
    }
    std::map<std::string, double> medians;
    for (auto& [name, values] : all) medians[name] = median(values);
    return medians;
}

std::string squeeze_target(int targetKb) { return "-S" + std::to_string(targetKb); }

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--worker") == 0) return worker(argc, argv);
    int runs = 3;
    std::string keep;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--keep") == 0) keep = argv[i + 1];
    }
    const std::string self = fs::read_symlink("/proc/self/exe");
    std::string dir = keep;
    if (dir.empty()) {
        char pattern[] = "/tmp/resize_bench.XXXXXX";
        if (mkdtemp(pattern) == nullptr) return 1;
        dir = pattern;
    }
    fs::create_directories(dir);
    setenv("QZ_ROOT", dir.c_str(), 1);
    const bool vips = on_path("vipsthumbnail");
    const bool jpegoptim = access(kJpegoptim, X_OK) == 0;
    const std::string magick = find_imagemagick();

    const std::string source =
        dir + "/camera_" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + ".jpg";
    if (!run({self, "--worker", "make", source, std::to_string(kWidth), std::to_string(kHeight)})) {
        std::printf("could not write the test picture %s\n", source.c_str());
        return 1;
    }
    std::printf("resize_bench: camera-like %d x %d JPEG, quality %d, 4:2:0, %.1f MB, with EXIF.\n"
                "%d run(s) per row, each a fresh process; medians of wall time, CPU time (user +\n"
                "system) and peak resident memory (RSS); a row of two tools adds up their times.\n",
                kWidth, kHeight, SimPicture{}.quality, static_cast<double>(fs::file_size(source)) / 1e6, runs);
    std::printf("peers: vipsthumbnail %s, jpegoptim %s, ImageMagick %s\n",
                vips ? "found" : "not installed", jpegoptim ? "found" : "not installed",
                magick.empty() ? "not installed" : ("found (" + magick + ")").c_str());

    std::printf("\n%-14s %-30s %-18s %8s %8s %8s\n", "job", "tool", "output", "wall ms", "CPU ms",
                "RSS MiB");
    print_row("process alone", "resize_bench", "-", measure({{self, "--worker", "idle"}}, runs));
    const std::string full = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    print_row("full decode", "old: stb_image", full,
              measure({{self, "--worker", "stb-decode", source}}, runs));
    std::vector<std::string> boxes;
    std::vector<std::optional<Sample>> ours, peerChain, peerResize;
    for (const Job& job : kJobs) {
        int w = 0, h = 0;
        resample_target_size(kWidth, kHeight, job.budget, w, h);
        boxes.push_back(std::to_string(w) + "x" + std::to_string(h));
        const std::string kb = std::to_string(job.targetKb);
        const std::string mine = dir + "/qz_" + boxes.back() + ".jpg";
        ours.push_back(measure({{self, "--worker", "copy", source, mine, std::to_string(job.budget), kb}}, runs));
        print_row(job.name, "resize_picture + jpegoptim", describe(mine), ours.back());

        const std::string vipsOut = dir + "/vips_" + boxes.back() + ".jpg";
        const std::vector<std::string> thumbnail = {"vipsthumbnail", source, "--size", boxes.back() + "!",
                                                    "-o", vipsOut};
        peerResize.push_back(vips ? measure({thumbnail}, runs) : std::nullopt);
        print_row("", "vipsthumbnail", describe(vipsOut), peerResize.back(),
                  vips ? "failed" : "not installed");
        peerChain.push_back(vips && jpegoptim
                                ? measure({thumbnail, {kJpegoptim, squeeze_target(job.targetKb), "--strip-com",
                                                       "--strip-iptc", "--strip-icc", "--strip-xmp", vipsOut}},
                                          runs)
                                : std::nullopt);
        print_row("", "vipsthumbnail + jpegoptim", describe(vipsOut), peerChain.back(),
                  vips && jpegoptim ? "failed" : "not installed");
        const std::string magickOut = dir + "/magick_" + boxes.back() + ".jpg";
        print_row("", "ImageMagick",
                  describe(magickOut),
                  magick.empty() ? std::nullopt
                                 : measure({{magick, source, "-filter", "Lanczos", "-resize",
                                             boxes.back() + "!", magickOut}},
                                           runs),
                  magick.empty() ? "not installed" : "failed");
    }

    std::printf("\nours over the peer's (wall, CPU)\n");
    print_goal("transmit copy over vipsthumbnail + jpegoptim", ours[0], peerChain[0], kTransmitGoal);
    print_goal("HD copy over vipsthumbnail alone", ours[1], peerResize[1], kHdGoal);
    print_goal("HD copy over vipsthumbnail + jpegoptim", ours[1], peerChain[1], kHdGoal);

    std::printf("\nwhere the time goes (wall ms per stage, as the copy makes them one by one; the\n"
                "pipeline's heap in MiB: the decoded picture, and the most held at once)\n");
    std::printf("%-14s %6s %7s %8s %7s %6s %9s %7s %7s | %7s %6s | %7s %5s\n", "job", "date",
                "decode", "resample", "encode", "write", "jpegoptim", "filing", "total", "decoded",
                "held", "quality", "kB");
    for (size_t i = 0; i < std::size(kJobs); ++i) {
        auto p = measure_phases({self, "--worker", "phases", source, dir + "/phases.jpg",
                                 std::to_string(kJobs[i].budget), std::to_string(kJobs[i].targetKb)},
                                dir + "/phases.txt", runs);
        if (p.empty()) {
            std::printf("%-14s failed\n", kJobs[i].name);
            continue;
        }
        const double total = p["date"] + p["decode"] + p["resample"] + p["encode"] + p["write"] +
                             p["jpegoptim"] + p["filing"];
        std::printf("%-14s %6.1f %7.1f %8.1f %7.1f %6.1f %9.1f %7.2f %7.1f | %7.1f %6.1f | %7.0f %5.1f\n",
                    kJobs[i].name, p["date"], p["decode"], p["resample"], p["encode"], p["write"],
                    p["jpegoptim"], p["filing"], total, p["decoded_mib"], p["held_mib"], p["quality"],
                    p["encoded_kb"]);
    }

    // Last: the comparison grows this process.
    std::printf("\nPSNR of each finished copy against ImageMagick's Lanczos resize of the full\n"
                "picture (goal: within %.0f dB of the peer's vipsthumbnail + jpegoptim copy)\n",
                kPsnrMargin);
    for (size_t i = 0; i < std::size(kJobs); ++i) {
        const std::string reference = dir + "/reference_" + boxes[i] + ".ppm";
        const bool referenced = !magick.empty() && run({magick, source, "-filter", "Lanczos",
                                                        "-resize", boxes[i] + "!", reference});
        const double mine = referenced ? psnr(dir + "/qz_" + boxes[i] + ".jpg", reference) : -1;
        const double peer = referenced ? psnr(dir + "/vips_" + boxes[i] + ".jpg", reference) : -1;
        if (mine < 0 || peer < 0)
            std::printf("%-14s not measured\n", kJobs[i].name);
        else
            std::printf("%-14s ours %6.2f dB, peer %6.2f dB   %s\n", kJobs[i].name, mine, peer,
                        mine >= peer - kPsnrMargin ? "met" : "missed");
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
