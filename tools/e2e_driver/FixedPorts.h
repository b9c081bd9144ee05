// A port of the object capture with a fixed answer, for the driver's build
// scenarios and the wizard benchmark, which run the capture without the form.
#pragma once

#include <string>
#include <utility>

#include "designer/DesignerPorts.h"

// The form's delay field showing `text` throughout.
class TDelayText : public designer::IDelayField {
public:
    explicit TDelayText(std::string text) : text_(std::move(text)) {}
    std::string Text() override { return text_; }

private:
    std::string text_;
};
