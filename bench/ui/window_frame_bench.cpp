// CPU time of one whole window frame without a renderer: snapshot, the five
// sections, the hub tile, and the log laid out row by row, at 780 x 810.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <cmath>

#include "support/idle_operations.h"
#include "ui/client_app.h"

namespace {

using namespace tarvo;

void run_frames(benchmark::State& bench, int log_rows) {
    ImGuiContext* context = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DeltaTime = 1.0f / 60;
    io.DisplaySize = ImVec2(780, 810);
    auto shared = create_shared_state({"ABCDEFGH1234", true, false});
    {
        auto state = shared->lock();
        state->power_on = true;
        state->log.clear();
        for (int i = 0; i < log_rows; ++i)
            push_log(*state,
                     "Próbka ruchu " + std::to_string(i) +
                         ": RX 1.24 MB/s, TX 356.80 KB/s — tunel L3 i mostek L2 aktywne.",
                     static_cast<LogLevel>(1 + i % 5));
    }
    ui::ClientApp app("ABCDEFGH1234", shared, std::make_unique<testing::IdleOperations>(),
                      ui::load_font_faces());
    float t = 0;
    const auto frame = [&] {
        if (app.fonts.rebuild_if_needed(*io.Fonts, false) || !io.Fonts->IsBuilt()) {
            unsigned char* pixels;
            int w, h;
            io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        }
        ImGui::NewFrame();
        ui::FrameValues values;
        values.animation_time = t += 1.0f / 60;
        values.layout = ui::frame_layout(io.DisplaySize.y);
        ui::draw_window_contents(app, values);
        ImGui::Render();
    };
    frame();
    frame();  // fonts baked
    for (auto _ : bench) frame();
    ImGui::DestroyContext(context);
}

void BM_FrameWithFullLog(benchmark::State& bench) { run_frames(bench, 500); }
void BM_FrameWithEmptyLog(benchmark::State& bench) { run_frames(bench, 0); }

BENCHMARK(BM_FrameWithFullLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameWithEmptyLog)->Unit(benchmark::kMillisecond);

// The font bakes of a start at a scale (percent, the argument): the first
// frame's two sizes, then every rebuild until the frames ask for nothing
// more, with names in several scripts and a full log; only the bakes are
// timed. Counters: the atlas's sides and the horizontal samples a pixel,
// within a 1024 x 1024 texture (the OpenGL 1.1 renderers' limit).
void BM_FontBakesOfAStart(benchmark::State& bench) {
    const float px = static_cast<float>(bench.range(0)) / 100;
    auto shared = create_shared_state({"ABCDEFGH1234", true, false});
    {
        auto state = shared->lock();
        state->power_on = true;
        state->headline = "Офис Київ – Αθήνα  •  Tunel activ: Timișoara, Constanța";
        state->detail = "Koszt łącza 12,50 € / 9,90 £ / 1200 ₴ • Ελληνικά • Ђурђевдан";
        state->tunnel_card.text = "Σύνδεση OK (12 ms)";
        for (int i = 0; i < 500; ++i)
            push_log(*state,
                     "Próbka ruchu " + std::to_string(i) + ": węzeł «Київ», κόμβος «Αθήνα», nod «Timișoara».",
                     static_cast<LogLevel>(1 + i % 5));
    }
    for (auto _ : bench) {
        bench.PauseTiming();
        ImGuiContext* context = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DeltaTime = 1.0f / 60;
        io.DisplaySize = ImVec2(std::round(780 * px), std::round(810 * px));
        ui::ClientApp app("ABCDEFGH1234", shared, std::make_unique<testing::IdleOperations>(),
                          ui::load_font_faces());
        app.fonts.set_max_texture_size(1024);
        const int first = static_cast<int>(std::lround(13 * px * 4));
        bench.ResumeTiming();
        app.fonts.bake(*io.Fonts,
                       {{ui::FontFamily::proportional, first}, {ui::FontFamily::monospace, first}});
        int bakes = 1;
        for (bool rebuilt = true; rebuilt; bakes += rebuilt) {
            bench.PauseTiming();
            ImGui::NewFrame();
            ui::FrameValues values;
            values.px = px;
            values.layout = ui::frame_layout(io.DisplaySize.y / px);
            ui::draw_window_contents(app, values);
            ImGui::Render();
            bench.ResumeTiming();
            rebuilt = app.fonts.rebuild_if_needed(*io.Fonts, false);
        }
        bench.PauseTiming();
        bench.counters["atlas_width"] = io.Fonts->TexWidth;
        bench.counters["atlas_height"] = io.Fonts->TexHeight;
        bench.counters["samples"] = app.fonts.oversampling();
        bench.counters["bakes"] = bakes;
        ImGui::DestroyContext(context);
        bench.ResumeTiming();
    }
}

BENCHMARK(BM_FontBakesOfAStart)->Arg(100)->Arg(125)->Arg(150)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
