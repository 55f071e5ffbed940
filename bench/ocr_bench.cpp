// Text recognition on the virtual iPhone's screens (1179 × 2556): how many of
// the words on each screen each page-segmentation mode reads, how long a warm
// recognition takes, a reader's read after a small change, the picture read
// in one piece, and the tesseract command line on the same picture.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "screen/text_recognition.h"
#include "platform/linux/tesseract_recognizer.h"
#include "simulator/virtual_phone.h"
#include "support/phone_screens.h"

using namespace quintalis;
using namespace quintalis::simulator;

namespace {

struct Screen {
    std::string name;
    PixelBufferRef picture;
    std::set<std::string> words;  // what a reader should find there
};

void tapAt(VirtualPhone& phone, double xPoints, double yPoints) {
    phone.receive(ReportID::absolutePointer, absolutePointerReport(0, pointerCoordinate(xPoints * 3 / 1178),
                                                                   pointerCoordinate(yPoints * 3 / 2555)));
    phone.receive(ReportID::relativeMouse, {1, 0, 0, 0});
    phone.receive(ReportID::relativeMouse, {0, 0, 0, 0});
}

const std::vector<Screen>& screens() {
    static const std::vector<Screen> all = [] {
        std::vector<Screen> out;
        VirtualPhone phone(0, PhoneSetup{false, false, true});  // no pointer or button over the text
        out.push_back({"home", phone.frame(),
                       {"Settings", "Notes", "Contacts", "Photos", "Camera", "Mail", "Clock", "Maps", "Weather",
                        "Calendar", "Music", "Files", "9:41", "100%"}});
        VirtualPhone settings(0, {});
        tapAt(settings, 60, 109);
        out.push_back({"settings", settings.frame(),
                       {"Settings", "General", "Accessibility", "Bluetooth", "On", "Wi-Fi", "Home", "Display",
                        "Brightness", "Privacy", "Security", "Notifications", "Focus", "Battery", "Wallpaper"}});
        tapAt(settings, 100, 174);
        tapAt(settings, 100, 174);
        out.push_back({"about", settings.frame(),
                       {"About", "General", "Name", "Simulated", "iPhone", "iOS", "Version", "18.1", "Model", "15",
                        "Pro", "Capacity", "256", "GB", "Serial", "Number"}});
        return out;
    }();
    return all;
}

// Of the words expected, how many a client can tap: found on a line of their
// own or with few neighbours, so the line's box points at them.
double separate(const JSON& lines, const std::set<std::string>& words) {
    int found = 0;
    for (const auto& word : words) {
        for (const auto& line : lines) {
            std::string text = line["text"];
            if (text.find(word) != std::string::npos && text.size() <= word.size() + 16) {
                ++found;
                break;
            }
        }
    }
    return static_cast<double>(found) / static_cast<double>(words.size());
}

double recall(const JSON& lines, const std::set<std::string>& words) {
    std::string all;
    for (const auto& line : lines) all += " " + line["text"].get<std::string>() + " ";
    int found = 0;
    for (const auto& word : words) found += all.find(word) != std::string::npos;
    return static_cast<double>(found) / static_cast<double>(words.size());
}

void Recognize(benchmark::State& state) {
    const int mode = static_cast<int>(state.range(0));
    const Screen& screen = screens()[static_cast<size_t>(state.range(1))];
    TesseractRecognizer recognizer(mode);
    JSON lines = recognize(recognizer, *screen.picture);  // warms an engine up
    for (auto _ : state) lines = recognize(recognizer, *screen.picture);
    state.SetLabel(screen.name + " psm " + std::to_string(mode));
    state.counters["recall"] = recall(lines, screen.words);
    state.counters["tappable"] = separate(lines, screen.words);
    state.counters["lines"] = static_cast<double>(lines.size());
}

// The halved picture read in one piece, as recognition did before it read
// band by band: the yardstick for Recognize.
void WholePage(benchmark::State& state) {
    const Screen& screen = screens()[static_cast<size_t>(state.range(0))];
    TesseractRecognizer recognizer;
    const PixelBuffer& full = *screen.picture;
    PixelBuffer half = scaled(full, (full.width() + 1) / 2, (full.height() + 1) / 2);
    std::vector<TextLine> lines = recognizer.recognize(half);
    for (auto _ : state) lines = recognizer.recognize(half);
    JSON found = JSON::array();
    for (const auto& line : lines) found.push_back(JSON{{"text", line.text}});
    state.SetLabel(screen.name + " whole page");
    state.counters["recall"] = recall(found, screen.words);
    state.counters["lines"] = static_cast<double>(lines.size());
}

// A screen's reader after one character typed into Notes, and after a
// scroll of Contacts: only what changed is read again.
void ReadAfter(benchmark::State& state, const std::string& step) {
    auto walk = testing::phoneScreenWalk();
    auto after = std::find_if(walk.begin(), walk.end(), [&](const auto& screen) { return screen.step == step; });
    const PixelBuffer& before = *std::prev(after)->picture;
    TesseractRecognizer recognizer;
    ScreenReader reader(recognizer);
    recognize(recognizer, *after->picture);  // warms engines up
    for (auto _ : state) {
        state.PauseTiming();
        reader.read(before);
        state.ResumeTiming();
        benchmark::DoNotOptimize(reader.read(*after->picture));
    }
    state.counters["bands_read"] = static_cast<double>(reader.lastWork().read);
    state.counters["bands_reused"] = static_cast<double>(reader.lastWork().reused);
}

// The same picture through the tesseract program, as a user would run it.
void CommandLine(benchmark::State& state) {
    const Screen& screen = screens()[static_cast<size_t>(state.range(0))];
    std::string file = "/tmp/quintalis-ocr-bench-" + screen.name + ".png";
    std::ofstream(file, std::ios::binary) << *encodePNG(*screen.picture);
    std::string command = "tesseract " + file + " - --psm 11 >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("tesseract failed");
    }
    state.SetLabel(screen.name + " tesseract --psm 11");
}

}  // namespace

BENCHMARK(Recognize)->ArgsProduct({{3, 6, 11, 12}, {0, 1, 2}})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(ReadAfter, typing, std::string("type e"))->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(ReadAfter, scrolling, std::string("scroll Contacts a little"))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(WholePage)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(CommandLine)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
