// A main dialog made of plain fields, recording the messages it was asked to show.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/settings.h"

namespace pemlo::testing {

class FakeSettingsView final : public SettingsView {
  public:
    std::map<int, std::string> fields;
    std::vector<std::string> errors;
    std::vector<int> writes;  // control ids written, in order
    int frameLine = 3;
    int cx = 1024;
    int cy = 768;

    std::string fieldText(int controlId, int room) override {
        const std::string& text = fields[controlId];
        return text.substr(0, static_cast<size_t>(room - 1));
    }
    void setFieldText(int controlId, const std::string& text) override {
        fields[controlId] = text;
        writes.push_back(controlId);
    }
    void showError(const std::string& message) override { errors.push_back(message); }
    int frameRateLine() override { return frameLine; }
    int screenWidth() override { return cx; }
    int screenHeight() override { return cy; }
};

}  // namespace pemlo::testing
