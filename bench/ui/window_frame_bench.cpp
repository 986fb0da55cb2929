// CPU time of one whole window frame without a renderer: snapshot, the five
// sections, the hub tile, and the log laid out row by row, at 780 x 810.
#include <benchmark/benchmark.h>
#include <imgui.h>

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

}  // namespace

BENCHMARK_MAIN();
