// Speed and memory of turning a camera's 12 MP picture into the transmit copy
// (202,800 pixels) and the HD copy (2,073,600 pixels), beside vipsthumbnail and
// ImageMagick doing the same job on the same input, plus the EXIF date steps.
// Every measured run is a fresh process; the table shows the median of the runs.
//
//   resize_bench [--runs N] [--keep DIR]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "image_helper.h"
#include "jpeg_codec.h"
#include "pictures.h"
#include "resample.h"
#include "resize.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Input {
    int width, height;
};
constexpr Input kInputs[] = {{4000, 3000}, {4608, 2592}};
constexpr int kQuality = 92;
constexpr const char* kDate = "2024:05:01 10:30:00";

struct Job {
    const char* name;
    int32_t budget;
};
constexpr Job kJobs[] = {{"transmit copy", 202800}, {"HD copy", 2073600}};

struct Sample {
    double wallMs = 0, cpuMs = 0, rssMiB = 0;
    bool ok = false;
};

double ms(const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; }

// Runs argv[0] (looked up in PATH) as a fresh process, quiet, and measures it.
Sample run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Sample sample;
    auto start = std::chrono::steady_clock::now();
    pid_t child = -1;
    int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return sample;
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    sample.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    sample.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    sample.rssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
        if (!prepare.empty() && !run(prepare).ok) return std::nullopt;
        Sample s = run(args);
        if (!s.ok) return std::nullopt;
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
        rss.push_back(s.rssMiB);
    }
    return Sample{median(wall), median(cpu), median(rss), true};
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
    const char* reason = nullptr;
    if (picture_decode_file(path.c_str(), picture, reason) != 0) return "-";
    return std::to_string(picture.width) + "x" + std::to_string(picture.height);
}

void print_row(const char* job, const char* tool, const std::string& size,
               const std::optional<Sample>& s, const std::optional<Sample>& ours,
               const char* missing = "failed") {
    if (!s) {
        std::printf("%-24s %-15s %s\n", job, tool, missing);
        return;
    }
    std::printf("%-24s %-15s %-10s %9.0f %9.0f %9.1f", job, tool, size.c_str(), s->wallMs,
                s->cpuMs, s->rssMiB);
    if (ours)
        std::printf("   %6.2f %6.2f %6.2f", s->wallMs / ours->wallMs, s->cpuMs / ours->cpuMs,
                    s->rssMiB / ours->rssMiB);
    std::printf("\n");
}

// Worker modes: one job in this fresh process.
int worker(int argc, char** argv) {
    std::string task = argv[2];
    if (task == "make" && argc == 6) {
        SimPicture p;
        p.width = std::atoi(argv[4]);
        p.height = std::atoi(argv[5]);
        p.quality = kQuality;
        p.dateTimeOriginal = kDate;
        return sim_write_picture(argv[3], p) == 0 ? 0 : 1;
    }
    if (task == "resize" && argc == 6)
        return resize_picture(argv[3], argv[4], static_cast<int32_t>(std::atol(argv[5]))) == 0 ? 0 : 1;
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
    const bool vips = on_path("vipsthumbnail");
    const std::string magick = find_imagemagick();

    std::printf("resize_bench: %d run(s) per row, each a fresh process; medians of wall time, CPU\n"
                "time (user + system) and peak resident memory; ratios are the tool's figure over\n"
                "qz_image's. Output JPEG quality 100 for every tool.\n",
                runs);
    std::printf("peers: vipsthumbnail %s, ImageMagick %s\n", vips ? "found" : "not installed",
                magick.empty() ? "not installed" : ("found (" + magick + ")").c_str());

    for (const Input& input : kInputs) {
        const std::string source = dir + "/camera_" + std::to_string(input.width) + "x" +
                                   std::to_string(input.height) + ".jpg";
        if (!run({self, "--worker", "make", source, std::to_string(input.width),
                  std::to_string(input.height)})
                 .ok) {
            std::printf("could not write the test picture %s\n", source.c_str());
            return 1;
        }
        std::printf("\ninput: %dx%d camera-like JPEG, quality %d, %.1f MB, with EXIF\n",
                    input.width, input.height, kQuality,
                    static_cast<double>(fs::file_size(source)) / 1e6);
        std::printf("%-24s %-15s %-10s %9s %9s %9s   %6s %6s %6s\n", "job", "tool", "output",
                    "wall ms", "CPU ms", "RSS MiB", "wall", "CPU", "RSS");
        for (const Job& job : kJobs) {
            int w = 0, h = 0;
            resample_target_size(input.width, input.height, job.budget, w, h);
            const std::string box = std::to_string(w) + "x" + std::to_string(h);
            const std::string label = std::string(job.name) + " " + std::to_string(job.budget);

            const std::string ours = dir + "/qz_" + box + ".jpg";
            auto mine = measure({self, "--worker", "resize", source, ours,
                                 std::to_string(job.budget)},
                                runs);
            print_row(label.c_str(), "qz_image", output_size(ours), mine, mine);

            const std::string viaVips = dir + "/vips_" + box + ".jpg";
            std::optional<Sample> v;
            if (vips)
                v = measure({"vipsthumbnail", source, "--size", box, "-o", viaVips + "[Q=100]"},
                            runs);
            print_row("", "vipsthumbnail", output_size(viaVips), v, mine,
                      vips ? "failed" : "not installed");

            const std::string viaMagick = dir + "/magick_" + box + ".jpg";
            std::optional<Sample> m;
            if (!magick.empty())
                m = measure({magick, source, "-filter", "Lanczos", "-resize",
                             std::to_string(job.budget) + "@", "-quality", "100", viaMagick},
                            runs);
            print_row("", "ImageMagick", output_size(viaMagick), m, mine,
                      magick.empty() ? "not installed" : "failed");
        }

        // The EXIF steps on the transmit copy (no peer does these).
        const std::string copy = dir + "/qz_transmit.jpg";
        const std::string scratch = dir + "/camera_scratch.jpg";
        if (!run({self, "--worker", "resize", source, copy, "202800"}).ok) return 1;
        auto dated = measure({self, "--worker", "copy-date", source, copy}, runs);
        print_row("exif_copy_date", "qz_image", output_size(copy), dated, std::nullopt);
        // Correcting rewrites the camera's file, so each run starts from a fresh copy of it.
        auto corrected = measure({self, "--worker", "correct-date", scratch, copy}, runs,
                                 {self, "--worker", "copy", source, scratch});
        print_row("exif_correct_date", "qz_image", output_size(copy), corrected, std::nullopt);
    }
    if (keep.empty()) fs::remove_all(dir);
    return 0;
}
