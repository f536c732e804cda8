// Speed, memory and fidelity of turning a camera's 12 MP picture into the
// transmit copy (202,800 pixels) and the HD copy (2,073,600 pixels), measured
// against the old pipeline's full decode alone (stb_image, kept here only as
// that reference), beside vipsthumbnail and ImageMagick doing the same jobs on
// the same file, plus the EXIF date steps. Every measured run is a fresh
// process; the tables show the median of the runs. PSNR compares each copy
// before compression with ImageMagick's Lanczos resize of the full picture.
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

#include "device_root.h"
#include "image_helper.h"
#include "image_memory.h"
#include "jpeg_codec.h"
#include "pictures.h"
#include "resample.h"
#include "resize.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
// stb's writer subsamples the chroma 4:2:0 at quality 90 and below, as cameras do.
constexpr int kQuality = 90;
constexpr const char* kDate = "2024:05:01 10:30:00";
constexpr int kOutputQuality = 100;

// The transmit copy against the old full decode alone, and the copies' PSNR.
constexpr double kWallGoal = 0.5;
constexpr double kPsnrGoal = 45.0;

struct Job {
    const char* name;
    int32_t budget;
};
constexpr Job kJobs[] = {{"transmit copy 202800", 202800}, {"HD copy 2073600", 2073600}};

constexpr double kMiB = 1024.0 * 1024.0;

struct Sample {
    double wallMs = 0, cpuMs = 0, rssMiB = 0;
};

std::string mib(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", bytes / kMiB);
    return text;
}

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

// The median of `runs` fresh runs; `prepare` runs (unmeasured) before each.
std::optional<Sample> measure(const std::vector<std::string>& args, int runs,
                              const std::vector<std::string>& prepare = {}) {
    std::vector<double> wall, cpu, rss;
    for (int i = 0; i < runs; ++i) {
        if (!prepare.empty() && !run(prepare)) return std::nullopt;
        auto s = run(args);
        if (!s) return std::nullopt;
        wall.push_back(s->wallMs);
        cpu.push_back(s->cpuMs);
        rss.push_back(s->rssMiB);
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

std::string output_size(const std::string& path) {
    Picture picture;
    std::string reason;
    if (picture_decode_file(path.c_str(), picture, reason) != 0) return "-";
    return std::to_string(picture.width) + "x" + std::to_string(picture.height);
}

void print_sample(const char* job, const char* tool, const std::string& size,
                  const std::optional<Sample>& s, const char* missing = "failed") {
    if (!s) {
        std::printf("%-22s %-15s %s\n", job, tool, missing);
        return;
    }
    std::printf("%-22s %-15s %-10s %8.0f %8.0f %8.1f", job, tool, size.c_str(), s->wallMs,
                s->cpuMs, s->rssMiB);
}

void print_row(const char* job, const char* tool, const std::string& size,
               const std::optional<Sample>& s, const char* missing = "failed") {
    print_sample(job, tool, size, s, missing);
    if (s) std::printf("\n");
}

// A peer's row with its figures over resize_picture's.
void print_peer(const char* job, const char* tool, const std::string& size,
                const std::optional<Sample>& s, const std::optional<Sample>& ours,
                const char* missing) {
    print_sample(job, tool, size, s, missing);
    if (!s) return;
    if (ours)
        std::printf("   %6.2f %6.2f %6.2f", s->wallMs / ours->wallMs, s->cpuMs / ours->cpuMs,
                    s->rssMiB / ours->rssMiB);
    std::printf("\n");
}

void print_goal(const char* job, const std::optional<Sample>& ours,
                const std::optional<Sample>& oldDecode, const std::optional<Sample>& vips,
                bool withGoal) {
    if (!ours || !oldDecode) {
        std::printf("%-22s not measured\n", job);
        return;
    }
    const double overOld = ours->wallMs / oldDecode->wallMs;
    std::printf("%-22s %8.2f %8.2f", job, overOld, ours->cpuMs / oldDecode->cpuMs);
    if (vips) std::printf(" %12.2f", ours->wallMs / vips->wallMs);
    if (withGoal)
        std::printf("   %s", overOld <= kWallGoal && vips && ours->wallMs < vips->wallMs ? "met" : "missed");
    std::printf("\n");
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

double cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Prints "name value" lines: the CPU time and the picture pipeline's heap of
// each step that resize_picture takes, done here one by one with the same calls.
int phases(const char* source, const char* destination, int32_t budget) {
    double t0 = cpu_ms();
    Picture picture;
    std::string reason;
    if (picture_decode_file(source, picture, reason, budget) != 0) return 1;
    double t1 = cpu_ms();
    const size_t decoderPeak = image_memory_peak();
    const size_t decoded = image_memory_in_use();

    int width = 0, height = 0;
    resample_target_size(picture.fullWidth, picture.fullHeight, budget, width, height);
    ImageBytes output = image_bytes(static_cast<size_t>(width) * static_cast<size_t>(height) *
                                    static_cast<size_t>(picture.channels));
    const size_t outputBytes = image_memory_in_use() - decoded;
    image_memory_reset_peak();
    if (!output || !resample_pixels(picture.pixels.get(), picture.width, picture.height,
                                    picture.channels, output.get(), width, height))
        return 1;
    double t2 = cpu_ms();
    const size_t resampleHeld = image_memory_peak();
    const size_t resamplerWork = resampleHeld - decoded - outputBytes;

    picture.pixels.reset();
    image_memory_reset_peak();
    if (picture_write_jpeg(destination, output.get(), width, height, picture.channels,
                           kOutputQuality) != 0)
        return 1;
    double t3 = cpu_ms();
    const size_t encoderHeap = image_memory_peak() - image_memory_in_use();

    std::printf("decode_ms %.1f\nresample_ms %.1f\nencode_ms %.1f\n", t1 - t0, t2 - t1, t3 - t2);
    std::printf("decoder_peak %zu\ndecoded %zu\nresampler_work %zu\noutput %zu\nencoder %zu\n"
                "resample_held %zu\n",
                decoderPeak, decoded, resamplerWork, outputBytes, encoderHeap, resampleHeld);
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
        p.quality = kQuality;
        p.dateTimeOriginal = kDate;
        return sim_write_picture(argv[3], p) == 0 ? 0 : 1;
    }
    if (task == "stb-decode" && argc == 4) {
        int width = 0, height = 0, channels = 0;
        stbi_uc* pixels = stbi_load(argv[3], &width, &height, &channels, 0);
        stbi_image_free(pixels);
        return pixels != nullptr ? 0 : 1;
    }
    if (task == "decode" && argc == 4) {
        Picture picture;
        std::string reason;
        return picture_decode_file(argv[3], picture, reason) == 0 ? 0 : 1;
    }
    if (task == "resize" && argc == 6)
        return resize_picture(argv[3], argv[4], static_cast<int32_t>(std::atol(argv[5]))) == 0
                   ? 0
                   : 1;
    if (task == "phases" && argc == 6)
        return phases(argv[3], argv[4], static_cast<int32_t>(std::atol(argv[5])));
    if (task == "copy-date" && argc == 5) {
        exif_copy_date(argv[3], argv[4]);
        return 0;
    }
    if (task == "correct-date" && argc == 5) {
        exif_correct_date(argv[3], argv[4], -90);
        return 0;
    }
    if (task == "copy" && argc == 5) {
        std::error_code error;
        fs::copy_file(argv[3], argv[4], fs::copy_options::overwrite_existing, error);
        return error ? 1 : 0;
    }
    return 2;
}

// Medians of the "name value" lines of `runs` phase runs.
std::map<std::string, double> measure_phases(const std::string& self, const std::string& source,
                                             const std::string& destination, int32_t budget,
                                             const std::string& scratch, int runs) {
    std::map<std::string, std::vector<double>> all;
    for (int i = 0; i < runs; ++i) {
        if (!run({self, "--worker", "phases", source, destination, std::to_string(budget)},
                 scratch))
            return {};
        std::ifstream in(scratch);
        std::string name;
        double value = 0;
        while (in >> name >> value) all[name].push_back(value);
    }
    std::map<std::string, double> medians;
    for (auto& [name, values] : all) medians[name] = median(values);
    return medians;
}

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
    const std::string magick = find_imagemagick();

    const std::string source =
        dir + "/camera_" + std::to_string(kWidth) + "x" + std::to_string(kHeight) + ".jpg";
    if (!run({self, "--worker", "make", source, std::to_string(kWidth), std::to_string(kHeight)})) {
        std::printf("could not write the test picture %s\n", source.c_str());
        return 1;
    }
    std::printf("resize_bench: camera-like %d x %d JPEG, quality %d, 4:2:0, %.1f MB, with EXIF.\n"
                "%d run(s) per row, each a fresh process; medians of wall time, CPU time (user +\n"
                "system) and peak resident memory (RSS). Output JPEG quality %d for every tool.\n",
                kWidth, kHeight, kQuality, static_cast<double>(fs::file_size(source)) / 1e6, runs,
                kOutputQuality);
    std::printf("peers: vipsthumbnail %s, ImageMagick %s\n",
                vips ? "found" : "not installed",
                magick.empty() ? "not installed" : ("found (" + magick + ")").c_str());

    std::printf("\n%-22s %-15s %-10s %8s %8s %8s\n", "job", "tool", "output", "wall ms", "CPU ms",
                "RSS MiB");
    auto idle = measure({self, "--worker", "idle"}, runs);
    print_row("process alone", "qz_image", "-", idle);
    const std::string full = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    auto oldDecode = measure({self, "--worker", "stb-decode", source}, runs);
    print_row("old: full decode", "stb_image", full, oldDecode);
    print_row("full decode", "libjpeg", full, measure({self, "--worker", "decode", source}, runs));
    std::vector<std::optional<Sample>> ours;
    std::vector<std::string> boxes;
    for (const Job& job : kJobs) {
        int w = 0, h = 0;
        resample_target_size(kWidth, kHeight, job.budget, w, h);
        boxes.push_back(std::to_string(w) + "x" + std::to_string(h));
        const std::string out = dir + "/qz_" + boxes.back() + ".jpg";
        ours.push_back(measure({self, "--worker", "resize", source, out, std::to_string(job.budget)},
                               runs));
        print_row(job.name, "resize_picture", output_size(out), ours.back());
    }

    std::printf("\npeers on the same file (ratios: the peer's figure over resize_picture's)\n");
    std::printf("%-22s %-15s %-10s %8s %8s %8s   %6s %6s %6s\n", "job", "tool", "output",
                "wall ms", "CPU ms", "RSS MiB", "wall", "CPU", "RSS");
    std::vector<std::optional<Sample>> viaVips;
    for (size_t i = 0; i < std::size(kJobs); ++i) {
        const std::string& box = boxes[i];
        const std::string vipsOut = dir + "/vips_" + box + ".jpg";
        std::optional<Sample> v;
        if (vips)
            v = measure({"vipsthumbnail", source, "--size", box + "!", "-o",
                         vipsOut + "[Q=" + std::to_string(kOutputQuality) + "]"},
                        runs);
        viaVips.push_back(v);
        print_peer(kJobs[i].name, "vipsthumbnail", output_size(vipsOut), v, ours[i],
                   vips ? "failed" : "not installed");

        const std::string magickOut = dir + "/magick_" + box + ".jpg";
        std::optional<Sample> m;
        if (!magick.empty())
            m = measure({magick, source, "-filter", "Lanczos", "-resize", box + "!", "-quality",
                         std::to_string(kOutputQuality), magickOut},
                        runs);
        print_peer("", "ImageMagick", output_size(magickOut), m, ours[i],
                   magick.empty() ? "not installed" : "failed");
    }

    std::printf("\nresize_picture over the old full decode alone, and over vipsthumbnail (goal for\n"
                "the transmit copy: at most %.2f of the old decode's wall time, and below vipsthumbnail's)\n",
                kWallGoal);
    std::printf("%-22s %8s %8s %12s\n", "job", "wall", "CPU", "wall/vips");
    for (size_t i = 0; i < std::size(kJobs); ++i)
        print_goal(kJobs[i].name, ours[i], oldDecode, viaVips[i], i == 0);

    std::printf("\nwhere it goes inside resize_picture (CPU ms per step; heap of the picture\n"
                "pipeline in MiB: the decoder's peak, then what is held during each later step)\n");
    std::printf("%-22s %7s %8s %7s | %8s %8s %8s %8s %8s %8s\n", "job", "decode", "resample",
                "encode", "decoder", "decoded", "resample", "output", "encoder", "held in");
    std::printf("%-22s %7s %8s %7s | %8s %8s %8s %8s %8s %8s\n", "", "", "", "", "peak",
                "picture", "work", "buffer", "heap", "resample");
    const std::string scratch = dir + "/phases.txt";
    std::vector<std::string> notes;
    for (size_t i = 0; i < std::size(kJobs); ++i) {
        auto p = measure_phases(self, source, dir + "/phases_" + boxes[i] + ".jpg",
                                kJobs[i].budget, scratch, runs);
        if (p.empty()) {
            std::printf("%-22s failed\n", kJobs[i].name);
            continue;
        }
        std::printf("%-22s %7.0f %8.0f %7.0f | %8.1f %8.1f %8.2f %8.2f %8.2f %8.1f\n",
                    kJobs[i].name, p["decode_ms"], p["resample_ms"], p["encode_ms"],
                    p["decoder_peak"] / kMiB, p["decoded"] / kMiB, p["resampler_work"] / kMiB,
                    p["output"] / kMiB, p["encoder"] / kMiB, p["resample_held"] / kMiB);
        notes.push_back(std::string(kJobs[i].name) + ": at most " + mib(p["resample_held"]) +
                        " MiB are held at once in the pipeline's heap (while resampling)");
    }
    std::printf("The decoder's peak is the picture decoded at its reduced scale (libjpeg's own\n"
                "working memory is not in the pipeline's heap); peak RSS counts everything.\n");
    for (const std::string& note : notes) std::printf("%s.\n", note.c_str());

    // The EXIF steps on the transmit copy (no peer does these).
    std::printf("\n%-22s %-15s %-10s %8s %8s %8s\n", "job", "tool", "output", "wall ms", "CPU ms",
                "RSS MiB");
    const std::string copy = dir + "/qz_transmit.jpg";
    const std::string camera = dir + "/camera_scratch.jpg";
    if (!run({self, "--worker", "resize", source, copy, "202800"})) return 1;
    auto dated = measure({self, "--worker", "copy-date", source, copy}, runs);
    print_row("exif_copy_date", "image_helper", output_size(copy), dated);
    // Correcting patches the camera's file, so each run starts from a fresh copy of it.
    auto corrected = measure({self, "--worker", "correct-date", camera, copy}, runs,
                             {self, "--worker", "copy", source, camera});
    print_row("exif_correct_date", "image_helper", output_size(copy), corrected);
    // Last: the comparison grows this process, and the rows above count its
    // memory into each fresh worker's peak.
    std::printf("\nPSNR of each copy (quality %d, before compression) against ImageMagick's Lanczos\n"
                "resize of the full picture (goal: at least %.0f dB)\n", kOutputQuality, kPsnrGoal);
    for (size_t i = 0; i < std::size(kJobs); ++i) {
        // The reference: ImageMagick's Lanczos of the full picture, lossless.
        const std::string reference = dir + "/reference_" + boxes[i] + ".ppm";
        const double db = !magick.empty() && run({magick, source, "-filter", "Lanczos", "-resize",
                                                  boxes[i] + "!", reference})
                              ? psnr(dir + "/qz_" + boxes[i] + ".jpg", reference)
                              : -1;
        if (db < 0)
            std::printf("%-22s not measured\n", kJobs[i].name);
        else
            std::printf("%-22s %6.2f dB   %s\n", kJobs[i].name, db, db >= kPsnrGoal ? "met" : "missed");
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
