// The adapter search's walk of the class key over a registry double: failing
// indexes are skipped, and a registry that fails at every index (never
// saying "no more items") still ends the walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "drivers/tap_adapter.h"

namespace tarvo {
namespace {

using Subkey = platform::RegistryKey::Subkey;

const std::string kGuid = "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}";

// Answers each index with `at(index)`; a subkey named "tap" is a TAP-Windows
// adapter. Counts the indexes asked for.
class ClassKeyDouble final : public AdapterClassKey {
public:
    explicit ClassKeyDouble(std::function<Subkey(std::uint32_t)> at) : at_(std::move(at)) {}

    Subkey subkey_at(std::uint32_t index) const override {
        ++asked;
        highest = std::max(highest, index);
        return at_(index);
    }
    std::optional<std::string> subkey_text(std::string_view subkey, std::string_view value) const override {
        if (subkey != "tap") return std::nullopt;
        return std::string(value == "ComponentId" ? "tap0901" : kGuid);
    }

    mutable std::uint64_t asked = 0;
    mutable std::uint32_t highest = 0;

private:
    std::function<Subkey(std::uint32_t)> at_;
};

TEST(TapAdapterWalk, ARegistryThatAlwaysFailsEndsTheWalkAtTheLimit) {
    // Fails far past the limit and only then runs out, so a walk without a
    // limit shows up as asking too much rather than as a hang.
    const ClassKeyDouble key([](std::uint32_t index) {
        if (index >= 64 * kAdapterSubkeyLimit) return Subkey{};
        return Subkey{Subkey::State::unreadable, {}};
    });
    EXPECT_EQ(find_tap_adapter_in(key), std::nullopt);
    EXPECT_EQ(key.asked, kAdapterSubkeyLimit);
    EXPECT_EQ(key.highest, kAdapterSubkeyLimit - 1);
}

TEST(TapAdapterWalk, FailingIndexesAreSkippedUpToTheLimit) {
    for (const std::uint32_t at : {1u, 9999u, kAdapterSubkeyLimit - 1}) {
        const ClassKeyDouble key([at](std::uint32_t index) {
            if (index == at) return Subkey{Subkey::State::found, "tap"};
            if (index < at) return Subkey{Subkey::State::unreadable, {}};
            return Subkey{};
        });
        EXPECT_EQ(find_tap_adapter_in(key), kGuid) << at;
        EXPECT_EQ(key.asked, at + 1u) << at;
    }
}

TEST(TapAdapterWalk, SubkeysThatCannotBeOpenedAreSkipped) {
    const ClassKeyDouble key([](std::uint32_t index) {
        if (index < 3) return Subkey{Subkey::State::found, "gone" + std::to_string(index)};
        if (index == 3) return Subkey{Subkey::State::found, "tap"};
        return Subkey{};
    });
    EXPECT_EQ(find_tap_adapter_in(key), kGuid);
}

}  // namespace
}  // namespace tarvo
