#pragma once
// Shared pieces of the toolkit tests: an editor interface and a listener that write every
// call into one log, and an offscreen frame to put controls in.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "toolkit/toolkit.h"

namespace tktest {

struct Log {
    std::vector<std::string> events;
    void add(std::string event) { events.push_back(std::move(event)); }
};

class RecordingEditor : public VSTGUIEditorInterface {
  public:
    explicit RecordingEditor(Log& log, std::int32_t knobMode = kLinearMode)
        : log(log), knobMode(knobMode) {}
    void doIdleStuff() override { log.add("idle"); }
    std::int32_t getKnobMode() const override { return knobMode; }
    bool beginEdit(std::int32_t index) override {
        log.add("begin " + std::to_string(index));
        return true;
    }
    bool endEdit(std::int32_t index) override {
        log.add("end " + std::to_string(index));
        return true;
    }

  private:
    Log& log;
    std::int32_t knobMode;
};

// Logs "changed <tag> <value>" with the value to two decimals.
class RecordingListener : public CControlListener {
  public:
    explicit RecordingListener(Log& log) : log(log) {}
    void valueChanged(CControl* control) override {
        char text[64];
        std::snprintf(text, sizeof text, "changed %d %.2f", static_cast<int>(control->getTag()),
                      control->getValue());
        log.add(text);
        values.push_back(control->getValue());
        if (onChange) onChange(control);
    }
    std::vector<float> values;
    std::function<void(CControl*)> onChange;

  private:
    Log& log;
};

// A bitmap of `images` stacked images of width x imageHeight, image i filled with the
// opaque colour (i, 255 - i, 7).
inline CBitmap* makeStrip(CCoord width, CCoord imageHeight, int images) {
    auto* bitmap = new CBitmap(width, imageHeight * images);
    for (int i = 0; i < images; ++i)
        for (CCoord y = 0; y < imageHeight; ++y)
            for (CCoord x = 0; x < width; ++x)
                bitmap->setPixel(x, i * imageHeight + y,
                                 0xFF000000u | (std::uint32_t(i) << 16) |
                                     (std::uint32_t(255 - i) << 8) | 7u);
    return bitmap;
}

inline std::uint32_t stripColor(int image) {
    return 0xFF000000u | (std::uint32_t(image) << 16) | (std::uint32_t(255 - image) << 8) | 7u;
}

class ToolkitTest : public ::testing::Test {
  protected:
    ToolkitTest() : editor(log), listener(log) {
        frame = new CFrame(CRect(0, 0, 300, 200), nullptr, &editor);
    }
    ~ToolkitTest() override { delete frame; }

    // Adds a control to the frame and gives it back.
    template <typename Control> Control* add(Control* control) {
        frame->addView(control);
        return control;
    }

    std::vector<std::string> takeLog() {
        auto events = std::move(log.events);
        log.events.clear();
        return events;
    }

    Log log;
    RecordingEditor editor;
    RecordingListener listener;
    CFrame* frame;
};

} // namespace tktest
