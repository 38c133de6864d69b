// Shared set-up for the settings tests: every test starts from the
// command-line defaults and an empty run request, as the command-line main
// does, and can list which keys of the record changed.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "settings/options.h"
#include "settings/run_request.h"
#include "settings/settings.h"

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kestrune::SetDefaultSettings(kestrune::settings, true);
        kestrune::run_request = kestrune::RunRequest{};
        before_ = kestrune::settings;
    }

    // "Group/Key" of every key whose value differs from the state at SetUp.
    std::set<std::string> ChangedKeys() const {
        std::set<std::string> changed;
        for (const kestrune::SettingKey& k : kestrune::SettingKeys()) {
            if (kestrune::SettingValueText(before_, k) != kestrune::SettingValueText(kestrune::settings, k))
                changed.insert(std::string(k.group) + "/" + k.key);
        }
        return changed;
    }

    static kestrune::ParseResult Parse(const std::vector<std::string>& params) {
        return kestrune::ParseOptions(params);
    }

    kestrune::Settings before_;
};

// The settings key a table row writes, found through the member pointer.
inline const kestrune::SettingKey* KeyOfTarget(const kestrune::OptionTarget& target) {
    for (const kestrune::SettingKey& k : kestrune::SettingKeys()) {
        const bool same = std::visit(
            [&](auto key_field) {
                using KeyField = decltype(key_field);
                return std::visit(
                    [&](auto target_field) {
                        if constexpr (std::is_same_v<KeyField, decltype(target_field)>)
                            return key_field == target_field;
                        else
                            return false;
                    },
                    target);
            },
            k.field);
        if (same) return &k;
    }
    return nullptr;
}
