#include "main/client_config.h"

#include <fstream>

#include "drivers/program_data_folder.h"
#include "json/json_text.h"
#include "json/strict_json.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "text/utf8.h"

namespace tarvo {

namespace {

enum class Field { device_code, auto_connect, force_l3, other };

Field field_of(std::string_view key) {
    if (key == "DeviceCode") return Field::device_code;
    if (key == "AutoConnect") return Field::auto_connect;
    if (key == "ForceL3") return Field::force_l3;
    return Field::other;
}

// Reads the value of one known field into `config`.
bool read_field(StrictJsonReader& reader, Field field, ClientConfig& config) {
    switch (field) {
        case Field::device_code: {
            auto code = reader.read_string();
            if (!code) return false;
            config.DeviceCode = std::move(*code);
            return true;
        }
        case Field::auto_connect:
        case Field::force_l3: {
            auto flag = reader.read_bool();
            if (!flag) return false;
            (field == Field::auto_connect ? config.AutoConnect : config.ForceL3) = *flag;
            return true;
        }
        case Field::other: return reader.skip_value(1);
    }
    return false;
}

bool read_object(StrictJsonReader& reader, ClientConfig& config) {
    reader.consume('{');
    if (reader.consume('}')) return true;
    bool seen[3] = {false, false, false};
    do {
        if (reader.peek() != '"') return false;
        auto key = reader.read_string();
        if (!key || !reader.consume(':')) return false;
        const Field field = field_of(*key);
        if (field != Field::other) {
            bool& was_seen = seen[static_cast<int>(field)];
            if (was_seen) return false;  // a settings key given twice
            was_seen = true;
        }
        if (!read_field(reader, field, config)) return false;
    } while (reader.consume(','));
    return reader.consume('}');
}

// The array form: up to three values in field order.
bool read_array(StrictJsonReader& reader, ClientConfig& config) {
    reader.consume('[');
    if (reader.consume(']')) return true;
    constexpr Field order[] = {Field::device_code, Field::auto_connect, Field::force_l3};
    int index = 0;
    do {
        if (index == 3) return false;
        if (!read_field(reader, order[index++], config)) return false;
    } while (reader.consume(','));
    return reader.consume(']');
}

}  // namespace

std::filesystem::path client_config_path_for(const std::optional<std::string>& appdata) {
    const std::filesystem::path base = appdata ? platform::path_from_text(*appdata) : program_data_folder();
    return base / kSettingsFolderName / kSettingsFileName;
}

std::filesystem::path client_config_path() {
    return client_config_path_for(platform::environment_variable("APPDATA"));
}

std::optional<ClientConfig> parse_client_config(std::string_view text) {
    if (!text::is_valid_utf8(text)) return std::nullopt;
    StrictJsonReader reader(text);
    ClientConfig config;
    const char first = reader.peek();
    const bool read = first == '{' ? read_object(reader, config) : first == '[' && read_array(reader, config);
    if (!read || !reader.at_end()) return std::nullopt;
    return config;
}

ClientConfig load_client_config_from(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return ClientConfig{};
    // Stream reads, unlike stream-buffer iterators, turn a read failure (such
    // as a folder in place of the file) into a state bit instead of throwing.
    std::string text;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) return ClientConfig{};
    return parse_client_config(text).value_or(ClientConfig{});
}

ClientConfig load_client_config() { return load_client_config_from(client_config_path()); }

std::string serialize_client_config(const ClientConfig& config) {
    std::string out = "{\n  \"DeviceCode\": ";
    append_json_string(out, config.DeviceCode);
    out += ",\n  \"AutoConnect\": ";
    out += config.AutoConnect ? "true" : "false";
    out += ",\n  \"ForceL3\": ";
    out += config.ForceL3 ? "true" : "false";
    out += "\n}";
    return out;
}

bool save_client_config_to(const std::filesystem::path& file, const ClientConfig& config) {
    (void)platform::create_directories(file.parent_path());
    auto temporary = file;
    temporary += ".tmp";
    const std::string bytes = serialize_client_config(config);
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    // A temporary file that cannot take the settings' place (a folder holds
    // their name, say) must not stay behind.
    if (out && platform::replace_file(temporary, file)) return true;
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    return false;
}

void save_client_config(const ClientConfig& config) {
    (void)save_client_config_to(client_config_path(), config);
}

}  // namespace tarvo
