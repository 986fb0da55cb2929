// Opens the real window over a shared state set to one of a few looks, for
// screenshots under Xvfb: window_states <start|connected|forced|refused|full-log|editing|scripts>
// [largest texture side, to play a renderer that takes less than this one].
// Nothing here talks to a network: the operations only count. It prints
// "drawn W H" once what the window shows has settled at W x H pixels, for the
// screenshot test to wait on.
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/window.h"
#include "support/idle_operations.h"
#include "ui/client_app.h"

namespace {

using namespace tarvo;

void set_card(StatusCard& card, std::string text, bool online, bool standby) {
    card.text = std::move(text);
    card.online = online;
    card.standby = standby;
}

bool apply_look(AppState& s, std::string_view look) {
    if (look == "start" || look == "editing") return true;
    if (look == "connected" || look == "forced") {
        const bool forced = look == "forced";
        s.power_on = true;
        s.config.ForceL3 = forced;
        s.headline = "Biuro Kraków – Łódź  •  Tunel aktywny";
        s.detail = "Hub 203.0.113.10:51820 • Adres tunelu 10.200.0.7/32 • MTU 1420";
        s.status_label = forced ? "WYMUSZONY L3" : "WŁĄCZONY (L2+L3)";
        s.accent_color = forced ? kAmber : kGreen;
        set_card(s.orchestrator_card, "HTTPS OK (ID #42)", true, false);
        set_card(s.tunnel_card, "Uzgodnienie OK (12 ms)", true, false);
        if (forced) set_card(s.bridge_card, "TAP w trybie IDLE", false, false);
        else set_card(s.bridge_card, "EoIP tunel #7 aktywny", true, false);
        s.rx_rate_text = "1.24 MB/s";
        s.rx_total_text = "Suma: 812.45 MB";
        s.tx_rate_text = "356.80 KB/s";
        s.tx_total_text = "Suma: 97.12 MB";
        push_log_str(s, "Włączanie tunelu i autoryzacja w https://orchestrator.tarvo.example/tarvo...",
                     LogLevel::progress);
        push_log_str(s, "Tunel WireGuard-NT aktywny, uzgodnienie z hubem zakończone sukcesem.",
                     LogLevel::success);
        if (forced)
            push_log_str(
                s, "Włączono ręczne wymuszenie trybu L3 (mostek L2/EoIP wyłączony, karta TAP w trybie IDLE).",
                LogLevel::warning);
        return true;
    }
    if (look == "refused") {
        s.headline = "Serwis – Gdańsk  •  Przepustka serwisowa wygasła lub została wyłączona";
        s.detail =
            "Kod PASS-48H-ABCD1234 nie ma aktywnego dostępu — poproś administratora o aktywację lub nowy kod";
        s.status_label = "PASS WYGASŁA";
        s.accent_color = kRed;
        set_card(s.orchestrator_card, "HTTPS OK (ID #77)", true, true);
        set_card(s.tunnel_card, "Przepustka wyłączona", false, true);
        push_log_str(s,
                     "Odmowa zestawienia tunelu dla 'Serwis – Gdańsk': Przepustka serwisowa wygasła lub "
                     "została wyłączona.",
                     LogLevel::error);
        return true;
    }
    if (look == "scripts") {
        // Names and reasons in the scripts an orchestrator may send, and one
        // character (U+20C0) that no font of the program has.
        s.power_on = true;
        s.headline = "Офис Київ – Αθήνα  •  Tunel activ: Timișoara, Constanța";
        s.detail = "Koszt łącza 12,50 € / 9,90 £ / 1200 ₴ • Ελληνικά • Ђурђевдан • ǅ ǈ ǋ • znak \u20C0";
        s.status_label = "WŁĄCZONY (L3)";
        s.accent_color = kGreen;
        set_card(s.orchestrator_card, "HTTPS OK — вузол «Львів»", true, false);
        set_card(s.tunnel_card, "Σύνδεση OK (12 ms)", true, false);
        set_card(s.bridge_card, "Punte EoIP: ș ț Ș Ț ă î â", false, true);
        push_log_str(s,
                     "Węzeł «Київ-Центр» odpowiedział: доступ дозволено ‰ € ₽ ₿ † ‡ "
                     "′ "
                     "″",
                     LogLevel::success);
        push_log_str(s, "Κόμβος «Αθήνα»: σύνδεση αποκαταστάθηκε — Ωμέγα αβγδε", LogLevel::progress);
        push_log_str(s, "Nod «Timișoara»: țară, șir, Ș Ț; Latin B: ƀ Ɓ ǅ ǆ Ǳ ȶ ɏ", LogLevel::warning);
        push_log_str(s, "Brak znaku w żadnej czcionce: \u20C0 (koniec)", LogLevel::error);
        return true;
    }
    if (look == "full-log") {
        for (int i = 0; i < 500; ++i)
            push_log(s,
                     "Zdarzenie " + std::to_string(i) +
                         ": próbka ruchu, żółć gęślą jaźń — wiersz dość długi, by się zawinął w oknie.",
                     static_cast<LogLevel>(1 + i % 5));
        return true;
    }
    return false;
}

// Reports a frame once the next one has begun (so it has been presented)
// with the same size and without rebuilding the fonts (so it drew with every
// size it asked for); each settled size is reported once.
class SettledFrameReport final : public platform::WindowApp {
public:
    explicit SettledFrameReport(std::unique_ptr<platform::WindowApp> app) : app_(std::move(app)) {}

    bool prepare_frame(platform::WindowContext& window) override {
        const bool rebuilt = app_->prepare_frame(window);
        const ImGuiIO& io = ImGui::GetIO();
        const Size size{static_cast<int>(std::lround(io.DisplaySize.x * io.DisplayFramebufferScale.x)),
                        static_cast<int>(std::lround(io.DisplaySize.y * io.DisplayFramebufferScale.y))};
        if (drawn_ && !rebuilt && size == drawn_size_ && size != reported_) {
            std::printf("drawn %d %d\n", size.width, size.height);
            std::fflush(stdout);
            reported_ = size;
        }
        drawn_ = false;
        drawn_size_ = size;
        return rebuilt;
    }

    void update(platform::WindowContext& window) override {
        app_->update(window);
        drawn_ = true;
    }

    void on_exit() override { app_->on_exit(); }

private:
    struct Size {
        int width = 0;
        int height = 0;
        bool operator==(const Size&) const = default;
    };
    std::unique_ptr<platform::WindowApp> app_;
    bool drawn_ = false;
    Size drawn_size_;
    Size reported_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) return 2;
    const int texture_limit = argc == 3 ? std::atoi(argv[2]) : 0;
    const std::string_view look = argv[1];
    auto shared = create_shared_state({"ABCD-EFGH-1234", true, false});
    if (!apply_look(*shared->lock(), look)) return 2;

    const bool opened = platform::run_window(ui::main_window_options(), [&](platform::WindowContext& window) {
        auto app = std::make_unique<ui::ClientApp>(shared->lock()->config.DeviceCode, shared,
                                                   std::make_unique<testing::IdleOperations>(),
                                                   ui::load_font_faces());
        if (look == "editing") app->editing_key = app->focus_key_pending = true;
        const int renderer_limit = window.max_texture_size();
        return std::make_unique<SettledFrameReport>(ui::make_window_app(
            std::move(app), window.dpi_scale(),
            texture_limit > 0 ? std::min(texture_limit, renderer_limit) : renderer_limit));
    });
    if (!opened) std::fputs("window_states: no window\n", stderr);
    return opened ? 0 : 1;
}
