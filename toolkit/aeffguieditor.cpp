#include "toolkit/aeffguieditor.h"

#include "vst/audioeffectx.h"

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {
    if (effect) effect->setEditor(this);
}

AEffGUIEditor::~AEffGUIEditor() = default;

bool AEffGUIEditor::getRect(ERect** ppRect) {
    if (ppRect) *ppRect = &rect;
    return true;
}

bool AEffGUIEditor::open(void* window) {
    AEffEditor::open(window);
    return true;
}

void AEffGUIEditor::close() {
    CFrame* own = frame;
    frame = nullptr;
    delete own;
    AEffEditor::close();
}

void AEffGUIEditor::idle() {
    idleFrames();
}

bool AEffGUIEditor::setKnobMode(VstInt32 mode) {
    knobMode = mode;
    return true;
}

void AEffGUIEditor::draw(ERect* /*area*/) {
    if (frame) frame->invalid();
}

void AEffGUIEditor::doIdleStuff() {
    idle();
    if (effect) effect->masterIdle();
}

bool AEffGUIEditor::beginEdit(std::int32_t index) {
    auto* effectX = dynamic_cast<AudioEffectX*>(effect);
    return effectX && effectX->beginEdit(index);
}

bool AEffGUIEditor::endEdit(std::int32_t index) {
    auto* effectX = dynamic_cast<AudioEffectX*>(effect);
    return effectX && effectX->endEdit(index);
}

bool AEffGUIEditor::requestHostResize(CCoord width, CCoord height) {
    auto* effectX = dynamic_cast<AudioEffectX*>(effect);
    char capability[] = "sizeWindow";
    return effectX && effectX->canHostDo(capability) == 1 && effectX->sizeWindow(width, height);
}
