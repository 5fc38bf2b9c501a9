// The package's twelve optional features, in the fixed order in which every
// action walks them, and the per-run state (disposition, warning flag) that
// the qualification decides for each.
#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace kvil {

class Installer;

struct FeatureRow {
    const char* key;             // key in the installer's Feature table
    const char* commandFile;     // command file in SUPPORTDIR, run by the vendor library
    const char* statusProperty;  // property that publishes the disposition
    int titleId;                 // string id of the title; kNoTitle for none
    bool supportCheck;           // asked of the vendor library's support query
    const char* applicationKey;  // subkey of the applications key once installed
};

constexpr int kNoTitle = -1;
constexpr std::size_t kFeatureCount = 12;

extern const std::array<FeatureRow, kFeatureCount> kFeatureTable;

// The row of that feature key (letter case ignored), or nullptr.
const FeatureRow* findFeature(const std::string& key);

// Dispositions: what the package's conditions make of a feature.
enum Disposition {
    kUnrestricted = 0,
    kLocked = 2,  // shown but cannot be selected
    kHidden = 3,
};

// The applications key of the installed product family: the 64-bit one when
// it exists, else its Wow6432Node twin.
std::string applicationsKeyPath();

// The runtime columns of the feature table for one action run. Dispositions
// only ever rise, and never for a feature that is already installed.
class FeatureSelection {
public:
    int disposition(std::size_t row) const { return states_[row].disposition; }
    bool warning(std::size_t row) const { return states_[row].warning; }
    void setWarning(std::size_t row) { states_[row].warning = true; }

    // Raises the feature to `value` when it is not installed and `value` is
    // above its disposition and at most kHidden. An installed
    // instrumentation feature is hidden on a client installation.
    void raise(const std::string& featureKey, int value);

private:
    struct State {
        int disposition = kUnrestricted;
        bool warning = false;
    };
    std::array<State, kFeatureCount> states_{};
};

// Appends "<key>;" to CP_DISALLOWINSTALL.
void addToDisallowedList(const Installer& installer, const std::string& featureKey);

}  // namespace kvil
