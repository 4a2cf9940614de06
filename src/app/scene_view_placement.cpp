// "Polozaj objekta 2": object 2's offset and turn typed in a dialog.
#include "app/placement_dialog.h"
#include "app/scene_view.h"

namespace korvan::app {

Object2Placement CSceneView::object2Placement() const {
    // An operation moves object 2 into its vertices and clears the offset: counted from where
    // it was read, the placement stays what the user gave.
    const Solid& object2 = m_scene.m_object2;
    return {m_scene.m_object2Offset + (object2.centre - m_object2Home), m_scene.m_object2Rotation};
}

void CSceneView::setObject2Placement(const Object2Placement& placement) {
    // The same numbers leave the offset alone, so that a round trip through the fields adds
    // no float noise (and no step of "Ponisti").
    if (placement == object2Placement()) {
        return;
    }
    m_scene.m_object2Offset = placement.offset - (m_scene.m_object2.centre - m_object2Home);
    m_scene.m_object2Rotation = placement.rotation;
    requestRedraw();
}

void CSceneView::OnObject2Placement() {
    if (busy() || m_scene.m_object2.loaded == 0) {
        return;
    }
    // A mouse mode that moves object 2 ends here, its move kept as a step of its own.
    if (m_viewState.m_mouseMode == kMouseMoveObject2 ||
        m_viewState.m_mouseMode == kMouseRotateObject2) {
        m_viewState.m_mouseMode = kMouseIdle;
    }
    endObject2Move(true);
    SceneSnapshot settled = snapshot();
    const Object2Placement start = object2Placement();
    Object2Placement last = start;
    auto show = [this](const Object2Placement& p) { setObject2Placement(p); };
    auto apply = [&](const Object2Placement& p) {
        setObject2Placement(p);
        const Object2Placement now = object2Placement();
        if (now == last) {
            return;
        }
        m_undo.push(std::move(settled));
        settled = snapshot();
        last = now;
        showStatus(QStringLiteral("Polozaj objekta 2 promijenjen"));
    };
    CObject2Placement dialog(*m_prompts, window(), start, show, apply);
    if (m_prompts->runDialog(dialog) != QDialog::Accepted) {
        // "Odustani": what was only shown goes; what was applied stays.
        m_scene.m_object2Offset = settled.object2Offset;
        m_scene.m_object2Rotation = settled.object2Rotation;
        requestRedraw();
    }
}

}  // namespace korvan::app
