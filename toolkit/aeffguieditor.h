#pragma once
// The binding of the toolkit to the plug-in framework's editor: window rectangle, knob mode,
// idle processing and the edit gestures forwarded to the effect's host.

#include "toolkit/view.h"
#include "vst/aeffeditor.h"

class AEffGUIEditor : public AEffEditor, public VSTGUIEditorInterface {
  public:
    // Attaches itself as the effect's editor.
    explicit AEffGUIEditor(AudioEffect* effect);
    ~AEffGUIEditor() override;

    bool getRect(ERect** ppRect) override;
    bool open(void* window) override;
    void close() override;
    // Processes the window events and paints of every frame made for this editor.
    void idle() override;
    bool setKnobMode(VstInt32 mode) override;
    // A host notice of a stored parameter value; the binding itself does nothing.
    virtual void setParameter(VstInt32 /*index*/, float /*value*/) {}
    // Repaints the frame (the binding's own `frame`, if one was set).
    virtual void draw(ERect* area);

    // VSTGUIEditorInterface
    // Runs idle(), then the host's idle callback through the effect.
    void doIdleStuff() override;
    std::int32_t getKnobMode() const override { return knobMode; }
    // Forwarded to the effect's host as begin and end of an edit of parameter `index`.
    bool beginEdit(std::int32_t index) override;
    bool endEdit(std::int32_t index) override;

  protected:
    // Asks the host to fit its window to a new size of the editor, where the host says it
    // can; true when it did.
    bool requestHostResize(CCoord width, CCoord height);

    ERect rect{};
    CFrame* frame = nullptr;

  private:
    std::int32_t knobMode = kCircularMode;
};
