// The output phase end to end through pemlo-replay, at 1920 x 1080 to 1280 x 720 and
// 1024 x 768 to 640 x 480, 10 frames per second, screen-like scenes with sound, in
// frames per second, next to ffmpeg encoding the same output frames and sound with
// flashsv and adpcm_swf (one thread) in the same run. Our output phase runs twice: as the
// program runs it (two threads) and held to one processor.
//
//   pemlo_bench_replay [FRAMES] [WHOLE_JOB_FRAMES] [whole|scene|changing]
//                                          (default 600 and 150, every part)
//
// The scene is a desktop with windows: text is typed into an editor, a clock ticks, a
// window moves now and then, the editor scrolls, and the pointer wanders. Fully
// changing frames come from ffmpeg's testsrc2 and from random bytes (noise); their
// output phase runs with one thread (on one processor) and with two.
//
// The whole job: pemlo-replay (recording the frames into the spools, then the output
// phase, sound left out) with one thread on one processor and with two threads,
// against ffmpeg on one thread doing crop + area scaling + flashsv, all reading the
// same raw frames from a file.
//
// The machine may be shared: the figures are noisy; compare the ratios of one run.
#include <sched.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/pemlo_bench_replay_" + name;
}

class Scene {
  public:
    Scene(int w, int h) : w_(w), h_(h), pixels_(static_cast<size_t>(w) * h * 4) {
        fill(0, 0, w, h, 0, 0, 0, true);
        for (int i = 0; i < 4; ++i) {
            window(60 + i * w / 6, 50 + i * h / 9, w / 3, h / 3, static_cast<uint8_t>(40 * i));
        }
        editX_ = w / 10;
        editY_ = h / 3;
        editW_ = w / 2;
        editH_ = h / 2;
        window(editX_, editY_, editW_, editH_, 200);
    }

    // Advances the scene by one frame.
    void step(int i) {
        typeGlyph(i);
        if (i % 10 == 0) {  // the clock in the task bar
            fill(w_ - 120, h_ - 30, 100, 20, 30, 30, 30, false);
            for (int d = 0; d < 5; ++d) {
                glyph(w_ - 115 + d * 18, h_ - 27, i / 10 + d, 230);
            }
        }
        if (i % 50 == 25) {  // a window is dragged somewhere else
            const int x = 80 + (i * 37) % (w_ / 2);
            const int y = 40 + (i * 23) % (h_ / 3);
            fill(0, 0, w_, h_ / 3 + 60, 0, 0, 0, true);
            window(x, y, w_ / 3, h_ / 4, static_cast<uint8_t>(i));
        }
    }

    const std::vector<uint8_t>& pixels() const { return pixels_; }

  private:
    void put(int x, int y, uint8_t b, uint8_t g, uint8_t r) {
        if (x < 0 || y < 0 || x >= w_ || y >= h_) {
            return;
        }
        uint8_t* p = &pixels_[(static_cast<size_t>(y) * w_ + x) * 4];
        p[0] = b;
        p[1] = g;
        p[2] = r;
        p[3] = 255;
    }
    void fill(int x0, int y0, int w, int h, uint8_t b, uint8_t g, uint8_t r, bool desktop) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                if (desktop) {
                    put(x, y, static_cast<uint8_t>(120 + y * 80 / h_),
                        static_cast<uint8_t>(70 + x * 40 / w_), 30);
                } else {
                    put(x, y, b, g, r);
                }
            }
        }
    }
    void window(int x, int y, int w, int h, uint8_t tint) {
        fill(x, y, w, h, 240, 240, 240, false);
        fill(x, y, w, 24, 160, static_cast<uint8_t>(90 + tint / 4), 40, false);
        for (int line = 0; line * 16 + 34 < h - 10; ++line) {
            for (int c = 0; c * 9 + 10 < w - 10; ++c) {
                if ((c * 7 + line * 3 + tint) % 9 > 1) {
                    glyph(x + 8 + c * 9, y + 32 + line * 16, c + line + tint, 20);
                }
            }
        }
    }
    void glyph(int x, int y, int code, uint8_t ink) {
        for (int gy = 0; gy < 11; ++gy) {
            for (int gx = 0; gx < 7; ++gx) {
                if (((code * 2654435761u) >> ((gx + gy * 7) % 29)) & 1u) {
                    put(x + gx, y + gy, ink, ink, ink);
                }
            }
        }
    }
    void typeGlyph(int i) {
        const int columns = (editW_ - 20) / 9;
        const int rows = (editH_ - 40) / 16;
        const int col = caret_ % columns;
        const int row = caret_ / columns;
        if (row >= rows) {  // scroll the editor up by one line
            for (int y = editY_ + 32; y < editY_ + 32 + (rows - 1) * 16; ++y) {
                std::copy_n(&pixels_[(static_cast<size_t>(y + 16) * w_ + editX_) * 4], editW_ * 4,
                            &pixels_[(static_cast<size_t>(y) * w_ + editX_) * 4]);
            }
            fill(editX_ + 1, editY_ + 32 + (rows - 1) * 16, editW_ - 2, 16, 240, 240, 240, false);
            caret_ -= columns;
            typeGlyph(i);
            return;
        }
        glyph(editX_ + 8 + col * 9, editY_ + 32 + row * 16, i, 10);
        ++caret_;
    }

    int w_;
    int h_;
    std::vector<uint8_t> pixels_;
    int editX_ = 0;
    int editY_ = 0;
    int editW_ = 0;
    int editH_ = 0;
    int caret_ = 0;
};

void writeWav(const std::string& path, int samples) {
    std::vector<uint8_t> b;
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    put(36 + samples * 2, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(22050, 4);
    put(44100, 4);
    put(2, 2);
    put(16, 2);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put(samples * 2, 4);
    uint32_t noise = 1;
    for (int n = 0; n < samples; ++n) {
        noise = noise * 1664525u + 1013904223u;
        const double t = n / 22050.0;
        const double v =
            6000 * std::sin(2 * M_PI * 220 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t)) +
            2500 * std::sin(2 * M_PI * 1250 * t) + static_cast<int>(noise >> 20) - 2048;
        put(static_cast<uint16_t>(static_cast<int16_t>(v)), 2);
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Ours {
    bool ok = false;
    double recorded = 0;
    double output = 0;
    double whole = 0;
};

// Feeds the scene to pemlo-replay (behind `prefix`) and reads its phase times.
Ours runOurs(const std::string& cmd, const std::string& log, int sw, int sh, int frames,
             const std::string& prefix) {
    Ours ours;
    Scene fresh(sw, sh);
    const auto t0 = Clock::now();
    std::FILE* pipe = ::popen((prefix + cmd).c_str(), "w");
    for (int i = 0; i < frames && pipe != nullptr; ++i) {
        fresh.step(i);
        std::fwrite(fresh.pixels().data(), 1, fresh.pixels().size(), pipe);
    }
    const int status = pipe == nullptr ? -1 : ::pclose(pipe);
    ours.whole = seconds(t0, Clock::now());
    if (status != 0) {
        std::fprintf(stderr, "pemlo-replay failed; see %s\n", log.c_str());
        return ours;
    }
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        int n = 0;
        if (std::sscanf(line.c_str(),
                        "%d frames: recorded into the spools in %lf s, output phase %lf s", &n,
                        &ours.recorded, &ours.output) == 3) {
            ours.ok = true;
        }
    }
    if (!ours.ok) {
        std::fprintf(stderr, "no phase times in %s\n", log.c_str());
    }
    return ours;
}

// The first processor this process may run on, for taskset.
std::string firstCpu() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) {
                return std::to_string(cpu);
            }
        }
    }
    return "0";
}

void bench(int sw, int sh, int ow, int oh, int frames) {
    const std::string wav = scratch("sound.wav");
    writeWav(wav, frames * 2205 + 22050);
    const std::string flv = scratch("ours.flv");
    const std::string log = scratch("ours.log");
    const std::string cmd = std::string(PEMLO_REPLAY_BIN) + " --screen " + std::to_string(sw) +
                            "x" + std::to_string(sh) + " --frames - --fps 10 --cursor " +
                            scratch("cursor.txt") + " --capture 0,0," + std::to_string(sw) + "," +
                            std::to_string(sh) + " --output " + std::to_string(ow) + "," +
                            std::to_string(oh) + " --sound " + wav + " -o " + flv + " 2>" + log;
    {
        std::ofstream cursor(scratch("cursor.txt"));
        for (int i = 0; i < frames; ++i) {
            cursor << static_cast<int>(sw / 2 + sw / 3 * std::sin(i / 30.0)) << " "
                   << static_cast<int>(sh / 2 + sh / 3 * std::cos(i / 45.0)) << "\n";
        }
    }
    // The scene alone, written to nowhere: what the generator costs in the pipeline.
    Scene scene(sw, sh);
    const auto g0 = Clock::now();
    std::FILE* sink = std::fopen("/dev/null", "wb");
    for (int i = 0; i < frames; ++i) {
        scene.step(i);
        std::fwrite(scene.pixels().data(), 1, scene.pixels().size(), sink);
    }
    std::fclose(sink);
    const double generate = seconds(g0, Clock::now());

    // Threaded as the program runs, then held to one processor (taskset) for the
    // single-thread figure.
    const Ours threaded = runOurs(cmd, log, sw, sh, frames, "");
    const Ours single = runOurs(cmd, log, sw, sh, frames, "taskset -c " + firstCpu() + " ");
    if (!threaded.ok || !single.ok) {
        return;
    }
    const double output = threaded.output;

    // ffmpeg on the same output frames and sound: our frames decoded once (not timed).
    const std::string raw = scratch("frames.bgr");
    shell("ffmpeg -v error -y -i " + flv +
          " -an -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + raw);
    const std::string theirs = scratch("ffmpeg.flv");
    const auto f0 = Clock::now();
    const int ff =
        shell("ffmpeg -v error -y -threads 1 -f rawvideo -pix_fmt bgr24 -s " + std::to_string(ow) +
              "x" + std::to_string(oh) + " -r 10 -i " + raw + " -i " + wav +
              " -shortest -c:v flashsv -c:a adpcm_swf -ar 22050 " + theirs);
    const double ffmpeg = seconds(f0, Clock::now());
    std::remove(raw.c_str());
    if (ff != 0) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return;
    }
    std::printf("%dx%d -> %dx%d, %d frames with sound:\n", sw, sh, ow, oh, frames);
    std::printf(
        "  pemlo output phase, threaded  %7.1f frames/s (%.2f s)   [recording into the spools "
        "%.2f s, whole run %.2f s, scene generator alone %.2f s]\n",
        frames / output, output, threaded.recorded, threaded.whole, generate);
    std::printf("  pemlo output phase, one CPU   %7.1f frames/s (%.2f s)\n", frames / single.output,
                single.output);
    std::printf("  ffmpeg flashsv+adpcm_swf      %7.1f frames/s (%.2f s, one thread)\n",
                frames / ffmpeg, ffmpeg);
    std::printf("  ratio pemlo/ffmpeg: output phase threaded %.2f, one CPU %.2f; whole run %.2f\n",
                ffmpeg / output, ffmpeg / single.output, ffmpeg / threaded.whole);
    std::remove(theirs.c_str());
    std::remove(flv.c_str());
}

// Writes `frames` whole-screen BGRA frames of the given kind to `path`: "scene" (the
// desktop above), "testsrc2" (ffmpeg's test pattern: every block changes) or "noise"
// (random bytes: nothing compresses). Returns false when it could not.
bool writeScreens(const std::string& kind, int sw, int sh, int frames, const std::string& path) {
    const std::string size = std::to_string(sw) + "x" + std::to_string(sh);
    if (kind == "testsrc2") {
        return shell("ffmpeg -v error -y -f lavfi -i testsrc2=size=" + size +
                     ":rate=10 -frames:v " + std::to_string(frames) +
                     " -f rawvideo -pix_fmt bgra " + path) == 0;
    }
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    Scene scene(sw, sh);
    std::vector<uint8_t> noise(static_cast<size_t>(sw) * sh * 4);
    uint64_t state = 88172645463325252ull;
    for (int i = 0; i < frames; ++i) {
        if (kind == "noise") {
            for (auto& byte : noise) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                byte = static_cast<uint8_t>(state >> 32);
            }
            std::fwrite(noise.data(), 1, noise.size(), out);
        } else {
            scene.step(i);
            std::fwrite(scene.pixels().data(), 1, scene.pixels().size(), out);
        }
    }
    return std::fclose(out) == 0;
}

// pemlo-replay on the screens in `raw` with `threads` output threads (one: held to one
// processor as well). Returns the wall time of the run, or -1; `output` gets the output
// phase's time from its log.
double runReplay(const std::string& raw, int sw, int sh, int ow, int oh, int threads,
                 const std::string& sound, double& output) {
    const std::string flv = scratch("threads_ours.flv");
    const std::string log = scratch("threads_ours.log");
    const std::string prefix = threads == 1 ? "taskset -c " + firstCpu() + " " : "";
    const auto t0 = Clock::now();
    const int status =
        shell(prefix + PEMLO_REPLAY_BIN + " --screen " + std::to_string(sw) + "x" +
              std::to_string(sh) + " --frames " + raw + " --fps 10 --capture 0,0," +
              std::to_string(sw) + "," + std::to_string(sh) + " --output " + std::to_string(ow) +
              "," + std::to_string(oh) + (sound.empty() ? "" : " --sound " + sound) +
              " --threads " + std::to_string(threads) + " -o " + flv + " 2>" + log);
    const double wall = seconds(t0, Clock::now());
    std::remove(flv.c_str());
    std::remove((flv.substr(0, flv.size() - 4) + ".bmp").c_str());
    output = -1;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        int n = 0;
        double recorded = 0;
        double phase = 0;
        if (std::sscanf(line.c_str(),
                        "%d frames: recorded into the spools in %lf s, output phase %lf s", &n,
                        &recorded, &phase) == 3) {
            output = phase;
        }
    }
    if (status != 0 || output < 0) {
        std::fprintf(stderr, "pemlo-replay failed; see %s\n", log.c_str());
        return -1;
    }
    return wall;
}

// Frames that change everywhere (testsrc2, noise): the output phase with one and with
// two threads, against ffmpeg's encode-only flashsv + adpcm_swf on the same output
// frames, one thread.
void changing(const std::string& kind, int sw, int sh, int ow, int oh, int frames) {
    const std::string wav = scratch("sound.wav");
    writeWav(wav, frames * 2205 + 22050);
    const std::string screens = scratch("changing.bgra");
    if (!writeScreens(kind, sw, sh, frames, screens)) {
        std::fprintf(stderr, "cannot make the %s frames\n", kind.c_str());
        return;
    }
    shell("cat " + screens + " > /dev/null");
    double one = 0;
    double two = 0;
    const bool ours = runReplay(screens, sw, sh, ow, oh, 1, wav, one) > 0 &&
                      runReplay(screens, sw, sh, ow, oh, 2, wav, two) > 0;
    // ffmpeg's input: our output frames, decoded once (not timed).
    const std::string flv = scratch("changing_ours.flv");
    const std::string raw = scratch("frames.bgr");
    shell(std::string(PEMLO_REPLAY_BIN) + " --screen " + std::to_string(sw) + "x" +
          std::to_string(sh) + " --frames " + screens + " --fps 10 --capture 0,0," +
          std::to_string(sw) + "," + std::to_string(sh) + " --output " + std::to_string(ow) + "," +
          std::to_string(oh) + " -o " + flv + " 2>/dev/null");
    std::remove(screens.c_str());
    shell("ffmpeg -v error -y -i " + flv +
          " -an -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + raw);
    std::remove(flv.c_str());
    std::remove((flv.substr(0, flv.size() - 4) + ".bmp").c_str());
    // ffmpeg's flashsv gives up on blocks that do not compress (noise): no reference then.
    const bool reference = kind != "noise";
    const std::string theirs = scratch("ffmpeg.flv");
    const auto f0 = Clock::now();
    const int ff = reference ? shell("taskset -c " + firstCpu() +
                                     " ffmpeg -v error -y -threads 1 -f rawvideo " +
                                     "-pix_fmt bgr24 -s " + std::to_string(ow) + "x" +
                                     std::to_string(oh) + " -r 10 -i " + raw + " -i " + wav +
                                     " -shortest -c:v flashsv -c:a adpcm_swf -ar 22050 " + theirs)
                             : 0;
    const double ffmpeg = seconds(f0, Clock::now());
    std::remove(raw.c_str());
    std::remove(theirs.c_str());
    if (!ours || ff != 0) {
        std::fprintf(stderr, "%s run failed\n", kind.c_str());
        return;
    }
    if (!reference) {
        std::printf(
            "%dx%d -> %dx%d %s, %d frames with sound, output phase: 1 thread %.1f "
            "frames/s (%.2f s), 2 threads %.1f frames/s (%.2f s), speed-up %.2fx\n",
            sw, sh, ow, oh, kind.c_str(), frames, frames / one, one, frames / two, two, one / two);
        return;
    }
    std::printf("%dx%d -> %dx%d %s (every block changes), %d frames with sound, output phase:\n",
                sw, sh, ow, oh, kind.c_str(), frames);
    std::printf("  pemlo 1 thread  %7.1f frames/s (%.2f s)\n", frames / one, one);
    std::printf("  pemlo 2 threads %7.1f frames/s (%.2f s)\n", frames / two, two);
    std::printf("  ffmpeg flashsv+adpcm_swf, one thread %7.1f frames/s (%.2f s)\n", frames / ffmpeg,
                ffmpeg);
    std::printf("  pemlo/ffmpeg time: 1 thread %.2f, 2 threads %.2f; 2 threads speed-up %.2fx\n",
                one / ffmpeg, two / ffmpeg, one / two);
}

// The whole job from the same raw screen frames on disk: pemlo-replay (spools, then the
// output phase) with one thread on one processor and with two threads, against ffmpeg
// on one thread doing crop + area scaling + flashsv.
void wholeJob(const std::string& kind, int sw, int sh, int ow, int oh, int frames) {
    const std::string raw = scratch("screen.bgra");
    if (!writeScreens(kind, sw, sh, frames, raw)) {
        std::fprintf(stderr, "cannot write %s\n", raw.c_str());
        return;
    }
    const std::string size = std::to_string(sw) + "x" + std::to_string(sh);
    const std::string theirs = scratch("whole_ffmpeg.flv");
    // Read once so that every run starts from the page cache.
    shell("cat " + raw + " > /dev/null");
    double output1 = 0;
    double output2 = 0;
    const double one = runReplay(raw, sw, sh, ow, oh, 1, "", output1);
    const double two = runReplay(raw, sw, sh, ow, oh, 2, "", output2);
    const auto f0 = Clock::now();
    const int ff =
        shell("taskset -c " + firstCpu() +
              " ffmpeg -v error -y -threads 1 -filter_threads 1 -f rawvideo " +
              "-pix_fmt bgra -s " + size + " -r 10 -i " + raw + " -vf crop=" + std::to_string(sw) +
              ":" + std::to_string(sh) + ":0:0,scale=" + std::to_string(ow) + ":" +
              std::to_string(oh) + ":flags=area -c:v flashsv " + theirs);
    const double ffmpegTime = seconds(f0, Clock::now());
    std::remove(raw.c_str());
    std::remove(theirs.c_str());
    if (one < 0 || two < 0 || ff != 0) {
        std::fprintf(stderr, "whole job failed (ffmpeg %d)\n", ff);
        return;
    }
    std::printf("whole job %dx%d -> %dx%d %s, %d frames:\n", sw, sh, ow, oh, kind.c_str(), frames);
    std::printf(
        "  ffmpeg crop+area+flashsv, one thread on one CPU %.2f s\n"
        "  pemlo-replay 1 thread on one CPU  %.2f s (output phase %.2f s)  pemlo/ffmpeg %.2f\n"
        "  pemlo-replay 2 threads            %.2f s (output phase %.2f s)  pemlo/ffmpeg %.2f\n",
        ffmpegTime, one, output1, one / ffmpegTime, two, output2, two / ffmpegTime);
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
    const int wholeFrames = argc > 2 ? std::max(10, std::atoi(argv[2])) : 150;
    std::printf("timings are noisy on a shared machine; compare the ratios of one run\n");
    const std::string only = argc > 3 ? argv[3] : "";
    if (only.empty() || only == "whole") {
        wholeJob("scene", 1920, 1080, 1280, 720, wholeFrames);
        wholeJob("testsrc2", 1920, 1080, 1280, 720, std::max(10, wholeFrames * 2 / 3));
        wholeJob("scene", 3840, 2160, 1920, 1080, std::max(10, wholeFrames / 2));
    }
    if (only.empty() || only == "scene") {
        bench(1920, 1080, 1280, 720, frames);
        bench(1024, 768, 640, 480, frames);
    }
    if (only.empty() || only == "changing") {
        changing("testsrc2", 1920, 1080, 1280, 720, frames / 6);
        changing("noise", 1280, 720, 1280, 720, frames / 6);
    }
    return 0;
}
